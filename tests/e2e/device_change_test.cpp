// Device arrival and removal: the marks, the title, the endpoints and the
// box search that follows.
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

TEST(DeviceChange, UnplugAndReplugTheBox)
{
    SimBench b;
    ASSERT_EQ(b.view.title(), "Rotoscope");
    b.state.link.flags.raise(Flag::ReadActive);

    ASSERT_TRUE(b.bus->unplug(b.box));
    b.bus->waitForNotifications();
    EXPECT_EQ(b.view.title(), "");
    EXPECT_FALSE(b.state.link.inEndpoint.present());
    EXPECT_FALSE(b.state.link.outEndpoint.present());
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ReadActive));
    EXPECT_GE(b.view.showWindowCalls(), 1) << "a removal shows the main window again";
    // The list change after the removal ran stop-all, which lowered the
    // removal mark, and raised its own mark.
    EXPECT_FALSE(b.state.link.removalSeen);
    EXPECT_TRUE(b.state.link.nodesChanged);
    EXPECT_FALSE(b.state.link.arrivalSeen);

    b.bus->plug(b.box);
    b.bus->waitForNotifications();
    EXPECT_EQ(b.view.title(), "Rotoscope");
    EXPECT_TRUE(b.state.link.inEndpoint.present());
    EXPECT_FALSE(b.state.link.arrivalSeen);
    EXPECT_FALSE(b.state.link.nodesChanged);
    EXPECT_TRUE(b.configure());
}

TEST(DeviceChange, RemovalAfterAListChangeSearchesAgain)
{
    SimBench b;
    b.bench->onDeviceChange({DeviceChangeEvent::Kind::NodesChanged, 0});
    EXPECT_TRUE(b.state.link.nodesChanged);
    // A removal that is not the box's: the mark is up and the pending list
    // change makes the bench search again, which finds the box.
    b.bench->onDeviceChange({DeviceChangeEvent::Kind::RemovalComplete, 12345});
    EXPECT_FALSE(b.state.link.nodesChanged);
    EXPECT_TRUE(b.state.link.removalSeen);
    EXPECT_EQ(b.view.title(), "Rotoscope");
    EXPECT_TRUE(b.state.link.inEndpoint.present());
}

TEST(DeviceChange, ArrivalOfAnotherDeviceKeepsTheBox)
{
    SimBench b;
    b.bus->plug(std::make_shared<SimOtherDevice>("Another FX2"), 0);
    b.bus->waitForNotifications();
    EXPECT_EQ(b.view.title(), "Rotoscope");
    EXPECT_EQ(b.state.link.usbDevice->deviceName(), kBoxDeviceName);
}

TEST(DeviceChange, StartUpWithoutABoxThenPlugIt)
{
    SimBench b({.withBox = false});
    EXPECT_EQ(b.view.title(), "");
    b.bench->onCommand(Command::PowerControl);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgReconnectUsb});
    auto box = std::make_shared<SimBox>();
    b.bus->plug(box);
    b.bus->waitForNotifications();
    EXPECT_EQ(b.view.title(), "Rotoscope");
}

namespace {

// A bus whose one device refuses access, as a box without the udev rule does.
class DeniedBus : public UsbBackend {
public:
    int deviceCount() override { return 1; }
    std::unique_ptr<UsbDeviceHandle> open(int, std::string* error) override
    {
        if (error)
            *error = std::string(kAccessDeniedPrefix) + " on bus 001 device 004 was denied. Install the udev rule.";
        return nullptr;
    }
    void setChangeCallback(ChangeCallback) override {}
};

}  // namespace

TEST(DeviceChange, AccessDeniedIsReportedWithTheFix)
{
    BenchState state;
    RecordingView view;
    Bench bench(state, view);
    bench.startUp(std::make_shared<DeniedBus>());
    EXPECT_EQ(view.title(), "");
    ASSERT_FALSE(view.messages().isEmpty());
    EXPECT_TRUE(view.messages().front().contains("udev rule"));
    bench.shutdown();
}
