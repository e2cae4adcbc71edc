#pragma once
// A box link on a simulated bus with the box (and optionally another device
// before it), recording the device changes it is told of.
#include "link/box_link.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <memory>
#include <mutex>
#include <vector>

struct Link {
    explicit Link(bool boxSecond = false, bool inOnly = false)
    {
        if (boxSecond)
            bus->addDevice(std::make_shared<SimOtherDevice>("Some other FX2 board"));
        box->setInEndpointOnly(inOnly);
        bus->addDevice(box);
        link.usbDevice = std::make_unique<BoxUsbDevice>(bus, [this](const DeviceChangeEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e.kind);
        }, true);
    }
    ~Link()
    {
        link.usbDevice->close();
        link.workers.joinAll();
    }
    std::shared_ptr<SimBus> bus = std::make_shared<SimBus>();
    std::shared_ptr<SimBox> box = std::make_shared<SimBox>();
    BoxLink link;
    std::mutex mutex;
    std::vector<DeviceChangeEvent::Kind> events;
};
