#include "simbox/interface_firmware.h"

#include "simbox/fx2_pipe.h"
#include "simbox/stream_framer.h"

#include <algorithm>

void InterfaceFirmware::install(CommandDispatcher& commands, const FirmwareContext& box)
{
    box_ = &box;
    commands.on(0x4A, this, &InterfaceFirmware::onPowerOn);
    commands.on(0x2C, this, &InterfaceFirmware::onPowerOff);
    commands.on(0x4D, this, &InterfaceFirmware::onConfigBegin);
    commands.on(0x3A, this, &InterfaceFirmware::onConfig);
    commands.on(0x9A, this, &InterfaceFirmware::onConfigQuery);
    commands.on(0x7A, this, &InterfaceFirmware::onStream);
    commands.on(0x6A, this, &InterfaceFirmware::onStop);
    commands.on(0xB1, this, &InterfaceFirmware::onResetAngle);
    commands.on(0xB2, this, &InterfaceFirmware::onResetTurns);
}

void InterfaceFirmware::reset()
{
    configHeader_ = {};
}

void InterfaceFirmware::onPowerOn(const Packet&, std::int64_t)
{
    box_->port.powered = true;
}

void InterfaceFirmware::onPowerOff(const Packet&, std::int64_t)
{
    // An unpowered encoder has nothing to stream.
    box_->port.powered = false;
    box_->framer.stop();
}

void InterfaceFirmware::onConfigBegin(const Packet&, std::int64_t)
{
    box_->framer.stop();
}

void InterfaceFirmware::onConfig(const Packet& p, std::int64_t)
{
    if (p[1] != 0x3A)
        return;
    std::copy_n(p.begin(), 6, configHeader_.begin());
    box_->port.config = BoxInterfaceConfig::fromHeader(p.data());
    box_->port.configured = true;
    box_->framer.stop();
}

void InterfaceFirmware::onConfigQuery(const Packet&, std::int64_t now)
{
    // The answer echoes the interface parameters the box works with.
    box_->pipe.sendAnswer({0x9A, 0x9A, configHeader_[2], configHeader_[3], configHeader_[4], configHeader_[5]},
                          now);
}

void InterfaceFirmware::onStream(const Packet&, std::int64_t now)
{
    const EncoderPort& port = box_->port;
    if (!port.powered)
        return;
    // Every packet sent while a mode runs repeats the fill: keep streaming.
    const StreamSource* running = box_->framer.source();
    if (running && running->kind() == StreamKind::Records && running->group() == port.config.group())
        return;
    box_->framer.start(makeStreamSource(port.config, port.encoder, port.recordPeriodMicros, port.samplePeriodMicros),
                       now);
}

void InterfaceFirmware::onStop(const Packet&, std::int64_t)
{
    box_->framer.stop();
}

void InterfaceFirmware::onResetAngle(const Packet& p, std::int64_t)
{
    if (p[1] == 0xB1 && p[2] == 0xA1 && p[3] == 0xA1 && p[4] == 0xA1 && p[5] == 0xA1)
        box_->port.encoder->resetAngle();
}

void InterfaceFirmware::onResetTurns(const Packet& p, std::int64_t)
{
    if (p[1] == 0xB2 && p[2] == 0xA2 && p[3] == 0xA2 && p[4] == 0xA2 && p[5] == 0xA2)
        box_->port.encoder->resetTurns();
}
