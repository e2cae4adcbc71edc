#pragma once
// Drives the simulated box through the real link classes: BoxUsbDevice on a
// SimBus, bulk endpoints with begin/wait/finish.
#include "common/clock.h"
#include "link/box_usb_device.h"
#include "link/command_packet.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Generous: the suite runs on a loaded 2-core machine.
inline constexpr double kWaitMs = 3000;

struct ReadResult {
    bool signalled = false;  // waitForTransfer saw the completion in time
    bool ok = false;         // finishTransfer succeeded
    std::vector<std::uint8_t> bytes;
};

class SimLink {
public:
    explicit SimLink(std::shared_ptr<SimBox> box = std::make_shared<SimBox>())
        : bus(std::make_shared<SimBus>()), box(std::move(box))
    {
        bus->addDevice(this->box);
        device = std::make_unique<BoxUsbDevice>(bus, [this](const DeviceChangeEvent& e) {
            std::lock_guard lock(eventsMutex);
            events.push_back(e);
        }, false);
    }

    // The box search: open each device in turn until one carries the box's name.
    bool findBox()
    {
        in.reset();
        out.reset();
        for (int i = 0; i < device->deviceCount(); ++i) {
            if (device->open(i) && device->deviceName() == kBoxDeviceName) {
                in = device->endpointOf(kBoxInAddress);
                out = device->endpointOf(kBoxOutAddress);
                return true;
            }
        }
        return false;
    }

    bool send(const CommandPacket& p, double waitMs = kWaitMs)
    {
        CommandPacket buf = p;
        OverlappedRecord ov;
        auto ctx = out->beginTransfer(buf.data(), static_cast<int>(buf.size()), ov);
        out->waitForTransfer(ov, waitMs);
        int len = static_cast<int>(buf.size());
        return out->finishTransfer(buf.data(), len, ov, ctx);
    }
    bool send(std::initializer_list<Flag> flags, const PacketParams& params = {})
    {
        return send(buildCommandPacket(FlagSnapshot(flags), params));
    }

    ReadResult read(int length, double waitMs = kWaitMs)
    {
        ReadResult r;
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(length));
        OverlappedRecord ov;
        auto ctx = in->beginTransfer(buf.data(), length, ov);
        r.signalled = in->waitForTransfer(ov, waitMs);
        int len = length;
        r.ok = in->finishTransfer(buf.data(), len, ov, ctx);
        buf.resize(static_cast<std::size_t>(len));
        r.bytes = std::move(buf);
        return r;
    }

    // "Clicking setting" as the box sees it: 4D, 4A, "::", 9A.
    void configure(const PacketParams& params)
    {
        ASSERT_TRUE(send({Flag::ConfigBeginCmd}));
        ASSERT_TRUE(send({Flag::PowerOnCmd}));
        ASSERT_TRUE(send({Flag::ConfigCmd}, params));
        ASSERT_TRUE(send({Flag::ConfigQueryCmd}));
    }

    std::vector<DeviceChangeEvent> takeEvents()
    {
        bus->waitForNotifications();
        std::lock_guard lock(eventsMutex);
        return std::exchange(events, {});
    }

    // First, so they outlive the bus thread that reports into them.
    std::mutex eventsMutex;
    std::vector<DeviceChangeEvent> events;
    std::shared_ptr<SimBus> bus;
    std::shared_ptr<SimBox> box;
    std::unique_ptr<BoxUsbDevice> device;
    std::shared_ptr<CCyUSBEndPoint> in, out;
};

// Offset i of the first sync pattern that recurs at i + 1024, as the
// workbench's stream reader accepts a transfer.
inline std::optional<std::size_t> findSyncPair(const std::vector<std::uint8_t>& b)
{
    auto syncAt = [&](std::size_t i) {
        return b[i] == 0xAA && b[i + 1] == 0x55 && b[i + 2] == 0x55 && b[i + 3] == 0xAA;
    };
    for (std::size_t i = 0; i + 1028 <= b.size(); ++i)
        if (syncAt(i) && syncAt(i + 1024))
            return i;
    return std::nullopt;
}

