// The libusb backend against an emulated box: libusb runs unmodified, and the
// usbdevfs requests it makes are answered by MockBox.
#include "mock_box.h"

#include "link/box_usb_device.h"
#include "link/libusb_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

namespace {

using Kind = DeviceChangeEvent::Kind;

bool eventually(const std::function<bool()>& condition, int timeoutMs = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

class EventLog {
public:
    void add(const DeviceChangeEvent& e)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
    }
    std::vector<DeviceChangeEvent> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    bool has(Kind kind) const
    {
        for (const auto& e : events())
            if (e.kind == kind)
                return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<DeviceChangeEvent> events_;
};

class LibusbBackendTest : public ::testing::Test {
protected:
    void SetUp() override { testbed_ = umockdev_testbed_new(); }
    void TearDown() override
    {
        device_.reset();
        backend_.reset();
        boxes_.clear();
        g_object_unref(testbed_);
    }
    MockBox& addBox(MockBoxParams params = {})
    {
        boxes_.push_back(std::make_unique<MockBox>(testbed_, std::move(params)));
        return *boxes_.back();
    }
    LibusbBackend& startBackend(LibusbBackend::Options options = {})
    {
        backend_ = std::make_shared<LibusbBackend>(options);
        EXPECT_TRUE(backend_->isReady()) << backend_->initError();
        return *backend_;
    }
    // The device object the bench uses, on this backend, with the box open.
    BoxUsbDevice& openBox()
    {
        device_ = std::make_unique<BoxUsbDevice>(backend_, [this](const DeviceChangeEvent& e) {
            log_.add(e);
            // As the bench's device-change handler does: a removal of the
            // open device closes it, here on the backend's own thread.
            if (e.kind == Kind::RemovalComplete && device_ && e.deviceId == device_->openDeviceId())
                device_->close();
        }, false);
        EXPECT_TRUE(device_->open(0)) << device_->lastOpenError();
        return *device_;
    }

    // One emulated box, the backend started and the box open: its IN endpoint.
    std::shared_ptr<CCyUSBEndPoint> openBoxIn(MockBox*& box)
    {
        box = &addBox();
        startBackend();
        auto in = openBox().endpointOf(kBoxInAddress);
        EXPECT_TRUE(in);
        return in;
    }

    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<MockBox>> boxes_;
    std::shared_ptr<LibusbBackend> backend_;
    std::unique_ptr<BoxUsbDevice> device_;
    EventLog log_;
};

TEST_F(LibusbBackendTest, OpenReadsTheBoxDescriptorsAndClaimsInterfaceZero)
{
    MockBox& box = addBox();
    LibusbBackend& backend = startBackend();
    ASSERT_EQ(backend.deviceCount(), 1);
    std::string error;
    auto h = backend.open(0, &error);
    ASSERT_TRUE(h) << error;

    const UsbDeviceInfo& info = h->info();
    EXPECT_EQ(info.deviceName, kBoxDeviceName);
    EXPECT_EQ(info.product, kBoxDeviceName);
    EXPECT_EQ(info.manufacturer, "Cypress");
    EXPECT_EQ(info.serialNumber, "0001");
    EXPECT_EQ(info.language, 0x0409);
    EXPECT_EQ(info.vendorId, 0x04B4);
    EXPECT_EQ(info.productId, 0x1004);
    const std::array<std::uint8_t, 18> expected{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0xB4, 0x04,
                                                0x04, 0x10, 0x00, 0xA0, 1, 2, 3, 1};
    EXPECT_EQ(info.deviceDescriptor, expected);
    EXPECT_EQ(info.usbAddress, 2);
    EXPECT_TRUE(info.highSpeed);
    EXPECT_EQ(info.currentAlternateSetting, 0);
    ASSERT_EQ(info.configurations.size(), 1u);
    ASSERT_EQ(info.configurations[0].interfaces.size(), 1u);
    const auto& eps = info.configurations[0].interfaces[0].endpoints;
    ASSERT_EQ(eps.size(), 2u);
    EXPECT_EQ(eps[0].address, 0x02);
    EXPECT_EQ(eps[1].address, 0x86);
    EXPECT_EQ(eps[1].attributes & 3, 2);
    EXPECT_EQ(eps[1].maxPacketSize, 512);
    EXPECT_EQ(h->deviceId(), usbDeviceId(1, 2));

    EXPECT_TRUE(box.interfaceClaimed());
    h->close();
    EXPECT_FALSE(box.interfaceClaimed());
    EXPECT_TRUE(box.unhandledRequests().empty());
}

TEST_F(LibusbBackendTest, StringLanguageAndNameFallbacks)
{
    MockBoxParams german;  // no US English: the first language offered is used
    german.languages = {0x0407, 0x0809};
    addBox(german);
    MockBoxParams bare;  // the FX2's own ids, no strings at all
    bare.productId = 0x8613;
    bare.strings = false;
    bare.sysName = "1-2";
    bare.address = 3;
    bare.speed = 12;
    addBox(bare);
    LibusbBackend& backend = startBackend();
    ASSERT_EQ(backend.deviceCount(), 2);

    auto first = backend.open(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->info().language, 0x0407);
    EXPECT_EQ(first->info().deviceName, kBoxDeviceName);

    auto second = backend.open(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->info().language, 0);
    EXPECT_EQ(second->info().product, "");
    EXPECT_EQ(second->info().deviceName, kBoxDeviceName);
    EXPECT_FALSE(second->info().highSpeed);
}

TEST_F(LibusbBackendTest, CountsTheBoxClassAndTheSearchFindsTheBoxSecond)
{
    MockBoxParams otherCypress;  // a Cypress device with other firmware
    otherCypress.productId = 0x00F3;
    otherCypress.product = "FX3 Bootloader";
    otherCypress.sysName = "1-1";
    otherCypress.address = 2;
    addBox(otherCypress);
    MockBoxParams stranger;  // neither Cypress's nor named like the box
    stranger.vendorId = 0x1234;
    stranger.productId = 0x5678;
    stranger.product = "Some Keyboard";
    stranger.sysName = "1-2";
    stranger.address = 3;
    addBox(stranger);
    MockBoxParams box;
    box.sysName = "1-3";
    box.address = 4;
    addBox(box);
    MockBoxParams renamed;  // the box's firmware under someone else's vendor id
    renamed.vendorId = 0x16C0;
    renamed.productId = 0x05DC;
    renamed.sysName = "1-4";
    renamed.address = 5;
    addBox(renamed);
    startBackend();

    BoxUsbDevice device(backend_, nullptr, false);
    ASSERT_EQ(device.deviceCount(), 3);
    ASSERT_TRUE(device.open(0));
    EXPECT_EQ(device.deviceName(), "FX3 Bootloader");
    ASSERT_TRUE(device.open(1));
    EXPECT_EQ(device.deviceName(), kBoxDeviceName);
    EXPECT_EQ(device.openDeviceId(), usbDeviceId(1, 4));
    ASSERT_TRUE(device.open(2));
    EXPECT_EQ(device.deviceName(), kBoxDeviceName);
    EXPECT_EQ(device.info().vendorId, 0x16C0);
    EXPECT_FALSE(device.open(3));
}

TEST_F(LibusbBackendTest, OutTransferDeliversTheCommandPacket)
{
    MockBox& box = addBox();
    startBackend();
    BoxUsbDevice& device = openBox();
    auto out = device.endpointOf(kBoxOutAddress);
    ASSERT_TRUE(out);
    ASSERT_FALSE(out->inbound);

    std::vector<std::uint8_t> packet = pattern(512, 0x7A);
    OverlappedRecord ov;
    auto ctx = out->beginTransfer(packet.data(), 512, ov);
    ASSERT_TRUE(out->waitForTransfer(ov, 1000));
    int len = -1;
    EXPECT_TRUE(out->finishTransfer(packet.data(), len, ov, ctx));
    EXPECT_EQ(len, 512);
    EXPECT_EQ(out->lastStatus.load(), TransferStatus::Completed);
    ASSERT_EQ(box.outTransfers().size(), 1u);
    EXPECT_EQ(box.outTransfers()[0], pattern(512, 0x7A));
}

TEST_F(LibusbBackendTest, InTransferReturnsWhatTheBoxSendsWhenItSendsIt)
{
    MockBox* boxp = nullptr;
    auto in = openBoxIn(boxp);
    ASSERT_TRUE(in);
    MockBox& box = *boxp;

    // Data already waiting in the box.
    box.supplyIn(pattern(2048, 1));
    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord ov;
    auto ctx = in->beginTransfer(buf.data(), 2048, ov);
    ASSERT_TRUE(in->waitForTransfer(ov, 1000));
    int len = 0;
    ASSERT_TRUE(in->finishTransfer(buf.data(), len, ov, ctx));
    EXPECT_EQ(len, 2048);
    EXPECT_EQ(buf, pattern(2048, 1));

    // The box answers only after the transfer was started; a short answer
    // ends the transfer with what arrived.
    OverlappedRecord ov2;
    std::vector<std::uint8_t> buf2(2048, 0xEE);
    auto ctx2 = in->beginTransfer(buf2.data(), 2048, ov2);
    ASSERT_TRUE(eventually([&] { return box.withheldInCount() == 1; }));
    EXPECT_FALSE(in->waitForTransfer(ov2, 20));
    box.supplyIn(pattern(100, 9));
    ASSERT_TRUE(in->waitForTransfer(ov2, 1000));
    ASSERT_TRUE(in->finishTransfer(buf2.data(), len, ov2, ctx2));
    EXPECT_EQ(len, 100);
    EXPECT_TRUE(std::equal(buf2.begin(), buf2.begin() + 100, pattern(100, 9).begin()));
    EXPECT_EQ(buf2[100], 0xEE);
}

TEST_F(LibusbBackendTest, TimedOutTransferIsCancelledAndTheEndpointStaysUsable)
{
    MockBox* boxp = nullptr;
    auto in = openBoxIn(boxp);
    ASSERT_TRUE(in);
    MockBox& box = *boxp;

    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord ov;
    auto ctx = in->beginTransfer(buf.data(), 2048, ov);
    std::shared_ptr<TransferContext> watched = ctx;
    EXPECT_FALSE(in->waitForTransfer(ov, 100));
    int len = -1;
    EXPECT_FALSE(in->finishTransfer(buf.data(), len, ov, ctx));
    EXPECT_EQ(len, 0);
    ASSERT_TRUE(eventually([&] { return watched->isDone(); }));
    EXPECT_EQ(watched->status(), TransferStatus::Cancelled);
    EXPECT_EQ(box.discardCount(), 1);
    EXPECT_EQ(box.withheldInCount(), 0);

    box.supplyIn(pattern(2048, 3));
    OverlappedRecord ov2;
    auto ctx2 = in->beginTransfer(buf.data(), 2048, ov2);
    ASSERT_TRUE(in->waitForTransfer(ov2, 1000));
    EXPECT_TRUE(in->finishTransfer(buf.data(), len, ov2, ctx2));
    EXPECT_EQ(buf, pattern(2048, 3));
}

TEST_F(LibusbBackendTest, StalledEndpointEndsTheTransferWithStall)
{
    MockBox* boxp = nullptr;
    auto in = openBoxIn(boxp);
    ASSERT_TRUE(in);
    MockBox& box = *boxp;
    box.setStallIn(true);

    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord ov;
    auto ctx = in->beginTransfer(buf.data(), 2048, ov);
    std::shared_ptr<TransferContext> watched = ctx;
    ASSERT_TRUE(in->waitForTransfer(ov, 1000));
    int len = -1;
    EXPECT_FALSE(in->finishTransfer(buf.data(), len, ov, ctx));
    EXPECT_EQ(len, 0);
    EXPECT_EQ(watched->status(), TransferStatus::Stall);
    EXPECT_NE(in->lastStatus.load(), TransferStatus::Completed);
}

TEST_F(LibusbBackendTest, CloseCancelsPendingTransfersAndReleasesTheInterface)
{
    MockBox* boxp = nullptr;
    auto in = openBoxIn(boxp);
    ASSERT_TRUE(in);
    MockBox& box = *boxp;

    std::vector<std::uint8_t> buf(40960);
    OverlappedRecord ov;
    auto ctx = in->beginTransfer(buf.data(), 40960, ov);
    // usbfs takes a transfer this long as three URBs of at most 16 KiB.
    ASSERT_TRUE(eventually([&] { return box.withheldInCount() == 3; }));
    device_->close();
    // close() returns only after libusb gave every URB back.
    ASSERT_TRUE(ctx->isDone());
    EXPECT_EQ(ctx->status(), TransferStatus::Cancelled);
    EXPECT_EQ(box.withheldInCount(), 0);
    EXPECT_EQ(box.discardCount(), 3);
    EXPECT_FALSE(box.interfaceClaimed());

    // The endpoint outlived its device: a new transfer fails at once.
    OverlappedRecord ov2;
    auto ctx2 = in->beginTransfer(buf.data(), 2048, ov2);
    EXPECT_FALSE(in->waitForTransfer(ov2, 10));
    int len = 0;
    EXPECT_FALSE(in->finishTransfer(buf.data(), len, ov2, ctx2));
}

TEST_F(LibusbBackendTest, UnplugEndsPendingTransfersAndReportsTheRemoval)
{
    MockBox& box = addBox();
    LibusbBackend& backend = startBackend();
    BoxUsbDevice& device = openBox();
    const std::uintptr_t id = device.openDeviceId();
    auto in = device.endpointOf(kBoxInAddress);
    ASSERT_TRUE(in);

    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord ov;
    auto ctx = in->beginTransfer(buf.data(), 2048, ov);
    std::shared_ptr<TransferContext> watched = ctx;
    ASSERT_TRUE(eventually([&] { return box.withheldInCount() == 1; }));

    box.unplug();
    ASSERT_TRUE(in->waitForTransfer(ov, 2000));
    int len = -1;
    EXPECT_FALSE(in->finishTransfer(buf.data(), len, ov, ctx));
    EXPECT_TRUE(watched->status() == TransferStatus::NoDevice || watched->status() == TransferStatus::Cancelled)
        << static_cast<int>(watched->status());

    // The removal and the change of the nodes come one after the other from
    // the hotplug thread: wait for both.
    ASSERT_TRUE(eventually([&] { return log_.events().size() >= 2; }));
    const auto events = log_.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::RemovalComplete);
    EXPECT_EQ(events[0].deviceId, id);
    EXPECT_EQ(events[1].kind, Kind::NodesChanged);
    // The handler closed the device from the notification.
    EXPECT_TRUE(eventually([&] { return !device.isOpen(); }));
    EXPECT_EQ(backend.deviceCount(), 0);
}

TEST_F(LibusbBackendTest, ArrivalIsReportedAndTheBoxCanBeOpened)
{
    LibusbBackend& backend = startBackend();
    ASSERT_TRUE(backend.usesHotplug());
    backend.setChangeCallback([this](const DeviceChangeEvent& e) { log_.add(e); });
    EXPECT_EQ(backend.deviceCount(), 0);

    addBox();
    ASSERT_TRUE(eventually([&] { return log_.events().size() >= 2; }));
    const auto events = log_.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Arrival);
    EXPECT_EQ(events[0].deviceId, usbDeviceId(1, 2));
    EXPECT_EQ(events[1].kind, Kind::NodesChanged);
    EXPECT_EQ(backend.deviceCount(), 1);
    EXPECT_TRUE(backend.open(0));
}

TEST_F(LibusbBackendTest, PollingFallbackReportsArrivalAndRemoval)
{
    LibusbBackend::Options options;
    options.forcePolling = true;
    options.pollInterval = std::chrono::milliseconds(20);
    LibusbBackend& backend = startBackend(options);
    EXPECT_FALSE(backend.usesHotplug());
    backend.setChangeCallback([this](const DeviceChangeEvent& e) { log_.add(e); });

    MockBox& box = addBox();
    ASSERT_TRUE(eventually([&] { return log_.has(Kind::Arrival); }));
    box.unplug();
    ASSERT_TRUE(eventually([&] { return log_.has(Kind::RemovalComplete); }));
    const auto events = log_.events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, Kind::Arrival);
    EXPECT_EQ(events[1].kind, Kind::NodesChanged);
    EXPECT_EQ(events[2].kind, Kind::RemovalComplete);
    EXPECT_EQ(events[2].deviceId, usbDeviceId(1, 2));
    EXPECT_EQ(events[3].kind, Kind::NodesChanged);
}

TEST_F(LibusbBackendTest, DestroyingTheBackendClosesHandlesStillOpen)
{
    MockBox& box = addBox();
    startBackend();
    auto h = backend_->open(0);
    ASSERT_TRUE(h);
    auto ctx = std::make_shared<TransferContext>();
    ctx->endpointAddress = kBoxInAddress;
    ctx->inbound = true;
    ctx->buffer.resize(2048);
    h->submit(ctx);
    ASSERT_TRUE(eventually([&] { return box.withheldInCount() == 1; }));

    backend_.reset();
    EXPECT_TRUE(ctx->isDone());
    EXPECT_EQ(ctx->status(), TransferStatus::Cancelled);
    EXPECT_FALSE(box.interfaceClaimed());

    auto late = std::make_shared<TransferContext>();
    late->endpointAddress = kBoxOutAddress;
    late->buffer.resize(512);
    h->submit(late);
    EXPECT_EQ(late->status(), TransferStatus::NoDevice);
    h->close();
}

}  // namespace
