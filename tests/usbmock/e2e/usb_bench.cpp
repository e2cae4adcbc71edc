// umockdev (glib) before anything of Qt: its headers use `signals` as a name.
#include "simbox/demo_bus.h"
#include "mock_box.h"

#include "usb_bench.h"

#include "common/clock.h"
#include "headless/interface_choice.h"
#include "headless/tool_result.h"
#include "interface/protocol_table.h"
#include "link/libusb_backend.h"
#include "protocol/command_flags.h"
#include "support/capture_blocks.h"
#include "link/box_link.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>

UsbBench::UsbBench() : clock_(std::make_shared<SteadyClock>())
{
    // The clock first: the box, the bench thread and every wait take it.
    installBenchClock(clock_);
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    QCoreApplication::setApplicationName("Quillmark");
    setToolQuiet(true);

    box = makeDemoBox();

    testbed_ = umockdev_testbed_new();
    plug();
    backend = std::make_shared<LibusbBackend>();
    EXPECT_TRUE(backend->isReady()) << backend->initError();

    hb = std::make_unique<HeadlessBench>(/*quiet=*/true);
    hb->run([this](Bench& b) {
        b.outcomes().addListener([this](const Outcome& o) {
            std::lock_guard lock(mutex_);
            outcomes_.push_back(o);
        });
    });
    hb->startUp(backend);
    EXPECT_TRUE(hb->boxPresent());
    clearPackets();
}

UsbBench::~UsbBench()
{
    // The bench lets go of the box (its transfers come back through libusb
    // and the emulated device) before either goes.
    hb.reset();
    backend.reset();
    devices_.clear();
    box.reset();
    g_object_unref(testbed_);
}

void UsbBench::choose(const char* protocol, const char* gaugeField)
{
    InterfaceChoice c;
    c.protocol = static_cast<int>(*protocolByName(protocol));
    if (gaugeField)
        c.gaugeField = QString::fromLatin1(gaugeField);
    ASSERT_TRUE(applyInterface(*hb, c));
    clearPackets();
}

void UsbBench::plug()
{
    // A device that comes back gets a new address, as on a real bus.
    ++plugs_;
    MockBoxParams p;
    p.address = 1 + plugs_;
    p.firmware = box;
    devices_.push_back(std::make_unique<MockBox>(testbed_, p));
}

void UsbBench::unplug()
{
    device().unplug();
}

void UsbBench::replug()
{
    if (device().isPlugged())
        unplug();
    plug();
}

std::vector<Outcome> UsbBench::outcomes() const
{
    std::lock_guard lock(mutex_);
    return outcomes_;
}

std::string describePacket(const ReceivedPacket& p)
{
    char buf[16];
    if (p.isFill(p.code())) {
        std::snprintf(buf, sizeof buf, "%02X", p.code());
        return buf;
    }
    std::string s;
    for (std::size_t i = 0; i < 6 && i < p.bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p.bytes[i]);
        s += buf;
    }
    return s;
}

std::vector<std::string> UsbBench::packetLog() const
{
    std::vector<std::string> out;
    for (const ReceivedPacket& p : box->receivedPackets())
        out.push_back(describePacket(p));
    return out;
}

QByteArray UsbBench::expectedCaptureFile() const
{
    return captureFileOf(box->captureTransfers());
}

bool UsbBench::waitFor(const std::function<bool()>& done, double benchMs)
{
    return hb->waitFor(done, benchMs);
}

void UsbBench::expectIdle()
{
    hb->run([](Bench& b) { b.stopAll(); });
    BoxLink& link = hb->state.link;
    EXPECT_TRUE(waitFor([&] { return link.workers.runningCount() == 0; })) << "workers still running";
    for (Flag f : kEveryOperationFlag)
        EXPECT_FALSE(link.flags.isUp(f)) << "flag " << static_cast<int>(f);
    EXPECT_FALSE(link.inGate.owned());
    // Cancelled transfers come back through libusb's event thread.
    EXPECT_TRUE(waitFor([&] {
        const SimBoxState s = box->state();
        return s.pendingInTransfers == 0 && s.pendingOutTransfers == 0;
    })) << "the box still holds transfers";
}
