// The simulated bus through BoxUsbDevice: search, endpoints, plug and unplug.
#include "sim_link.h"

#include <gtest/gtest.h>

namespace {

using Change = DeviceChangeEvent::Kind;

TEST(SimBus, SearchSkipsAnotherDeviceAndOpensTheBoxSecond)
{
    SimLink link;
    auto other = std::make_shared<SimOtherDevice>(
        "Cypress FX2LP Bulk Loopback", std::vector<EndpointDescriptor>{{7, 5, 0x02, 2, 512, 0}, {7, 5, 0x86, 2, 512, 0}});
    link.bus->addDevice(other, 0);
    ASSERT_EQ(2, link.device->deviceCount());

    ASSERT_TRUE(link.device->open(0));
    EXPECT_EQ("Cypress FX2LP Bulk Loopback", link.device->deviceName());

    ASSERT_TRUE(link.findBox());
    EXPECT_EQ(kBoxDeviceName, link.device->deviceName());
    EXPECT_EQ(link.bus->deviceIdOf(link.box), link.device->openDeviceId());
    ASSERT_TRUE(link.in && link.out);
    EXPECT_TRUE(link.in->inbound);
    EXPECT_EQ(512, link.in->maxPacketSize);
    EXPECT_EQ(512, link.out->maxPacketSize);
    EXPECT_TRUE(link.send({Flag::PowerOnCmd}));
    EXPECT_EQ(1u, link.box->receivedCount());
    EXPECT_FALSE(link.device->open(2));
}

TEST(SimBus, FirmwareWithOnlyTheInEndpoint)
{
    auto box = std::make_shared<SimBox>();
    box->setInEndpointOnly(true);
    SimLink link(box);
    ASSERT_TRUE(link.findBox());
    EXPECT_TRUE(link.in);
    EXPECT_FALSE(link.out);

    // A transfer to 0x02 submitted anyway is refused by the device.
    auto handle = link.bus->open(0);
    auto t = std::make_shared<TransferContext>();
    t->endpointAddress = kBoxOutAddress;
    t->buffer.assign(512, 0x4A);
    handle->submit(t);
    ASSERT_TRUE(t->isDone());
    EXPECT_EQ(TransferStatus::Stall, t->status());
    EXPECT_EQ(0u, box->receivedCount());
}

TEST(SimBus, UnplugCompletesPendingTransfersAndNotifies)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    const auto id = link.device->openDeviceId();
    link.box->setOutFault(OutFault::NeverComplete);

    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord inOv, outOv;
    auto inCtx = link.in->beginTransfer(buf.data(), 2048, inOv);
    CommandPacket packet{};
    auto outCtx = link.out->beginTransfer(packet.data(), 512, outOv);
    EXPECT_FALSE(link.in->waitForTransfer(inOv, 20));

    ASSERT_TRUE(link.bus->unplug(link.box));
    EXPECT_EQ(0, link.device->deviceCount());
    ASSERT_TRUE(link.in->waitForTransfer(inOv, kWaitMs));
    ASSERT_TRUE(link.out->waitForTransfer(outOv, kWaitMs));
    int len = 2048;
    EXPECT_FALSE(link.in->finishTransfer(buf.data(), len, inOv, inCtx));
    EXPECT_EQ(0, len);
    EXPECT_EQ(TransferStatus::NoDevice, link.in->lastStatus.load());
    EXPECT_FALSE(link.out->finishTransfer(packet.data(), len, outOv, outCtx));
    EXPECT_EQ(TransferStatus::NoDevice, link.out->lastStatus.load());

    const auto events = link.takeEvents();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(Change::RemovalComplete, events[0].kind);
    EXPECT_EQ(id, events[0].deviceId);
    EXPECT_EQ(Change::NodesChanged, events[1].kind);

    // The old handle stays dead even after the box comes back.
    link.bus->plug(link.box);
    const auto back = link.takeEvents();
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ(Change::Arrival, back[0].kind);
    EXPECT_EQ(Change::NodesChanged, back[1].kind);
    EXPECT_FALSE(link.read(16, 50).ok);
    EXPECT_EQ(TransferStatus::NoDevice, link.in->lastStatus.load());

    // Searching again opens the new attachment; the box restarted.
    link.box->setOutFault(OutFault::None);
    ASSERT_TRUE(link.findBox());
    EXPECT_NE(id, link.device->openDeviceId());
    EXPECT_TRUE(link.send({Flag::PowerOnCmd}));
    EXPECT_FALSE(link.box->state().configured);
}

TEST(SimBus, ClosingTheDeviceCancelsItsTransfersAndReplugRestartsTheBox)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.configure({});
    ASSERT_TRUE(link.box->state().configured);

    std::vector<std::uint8_t> buf(2048);
    OverlappedRecord ov;
    link.read(2048);  // the query answer
    auto in = link.in;
    auto ctx = in->beginTransfer(buf.data(), 2048, ov);
    link.device->close();
    ASSERT_TRUE(in->waitForTransfer(ov, kWaitMs));
    int len = 0;
    EXPECT_FALSE(in->finishTransfer(buf.data(), len, ov, ctx));
    EXPECT_EQ(TransferStatus::Cancelled, in->lastStatus.load());

    ASSERT_TRUE(link.bus->replug(link.box));
    EXPECT_FALSE(link.box->state().configured);
    EXPECT_EQ(4u, link.takeEvents().size());
}

}  // namespace
