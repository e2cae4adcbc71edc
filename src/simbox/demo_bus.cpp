#include "simbox/demo_bus.h"

std::shared_ptr<SimBox> makeDemoBox()
{
    auto box = std::make_shared<SimBox>();
    EncoderModel& enc = box->encoder();
    enc.setResolution(17, 15, 2);
    enc.setSpeedRpm(2.0);
    SinCosShape shape;
    shape.periodsPerTurn = 2048;
    enc.setSinCos(shape);
    return box;
}

std::shared_ptr<SimBus> makeDemoBus()
{
    return makeDemoBus(nullptr);
}

std::shared_ptr<SimBus> makeDemoBus(std::shared_ptr<SimBox>* boxOut)
{
    auto bus = std::make_shared<SimBus>();
    auto box = makeDemoBox();
    bus->addDevice(box);
    if (boxOut)
        *boxOut = box;
    return bus;
}
