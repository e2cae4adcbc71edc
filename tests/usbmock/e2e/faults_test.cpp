// The faults only the USB layer shows, through libusb on the emulated box:
// the box pulled out in the middle of a capture and of a reading and plugged
// in again, a stalled IN endpoint, and cancels that race completions.
// umockdev (glib) before anything of Qt: its headers use `signals` as a name.
#include "mock_box.h"

#include "usb_bench.h"

#include "bench/capture.h"
#include "bench/commands.h"
#include "bench/eeprom_write.h"
#include "common/clock.h"
#include "headless/box_runs.h"
#include "headless/tool_result.h"
#include "link/box_link.h"
#include "measure/capture_stream.h"
#include "support/read_file.h"

#include <gtest/gtest.h>


namespace {

// Starts `op` on the bench thread, lets `ms` of bench time pass, does
// `fault`, and waits for the operation's outcome.
std::optional<Outcome> faultDuring(UsbBench& b, Operation op, const std::function<void(Bench&)>& start, double ms,
                                   const std::function<void()>& fault)
{
    OutcomeBoard& board = b.hb->bench.outcomes();
    const std::uint64_t before = board.count(op);
    b.hb->run(start);
    benchClock().sleepFor(ms);
    fault();
    return board.waitNext(op, before, 10000);
}

}  // namespace

TEST(UsbE2eFaults, UnplugMidCaptureEndsItAndKeepsEveryByteThatArrived)
{
    UsbBench b;
    b.choose("BISS");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    const QString target = b.file("until-unplugged.txt");
    const auto o = faultDuring(
        b, Operation::Capture, [&](Bench& bench) { bench.capture().start(CaptureStart{10, target, false}); }, 1500,
        [&] { b.unplug(); });
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->as<CaptureResult>());
    EXPECT_EQ(o->as<CaptureResult>()->status, CaptureResult::Status::Unplugged);
    EXPECT_FALSE(o->passed);
    // The transfer the unplug cut off handed over what it had taken, so the
    // file is the box's log, byte for byte.
    const auto transfers = b.box->captureTransfers();
    ASSERT_GE(transfers.size(), 2u);
    EXPECT_GT(transfers.back().size(), 0u);
    EXPECT_LT(transfers.back().size(), static_cast<std::size_t>(kCaptureBlockBytes)) << "cut off by the unplug";
    const QByteArray file = readFile(target);
    EXPECT_EQ(file.size(), static_cast<qsizetype>(transfers.size()) * kCaptureBlockBytes);
    EXPECT_TRUE(file == b.expectedCaptureFile()) << file.size() << " vs " << b.expectedCaptureFile().size();
    EXPECT_FALSE(b.hb->boxPresent());
    b.expectIdle();
}

TEST(UsbE2eFaults, UnplugMidReadingStopsItAndTheReplugIsFoundAgain)
{
    UsbBench b;
    b.choose("BISS");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    const auto o = faultDuring(b, Operation::Read, [](Bench& bench) { bench.onCommand(Command::ReadData); }, 1000,
                               [&] { b.unplug(); });
    ASSERT_TRUE(o);
    const ReadResult* r = o->as<ReadResult>();
    ASSERT_TRUE(r);
    // However it ended (the device change's stop-all, the reader seeing the
    // removal, or its transfer failing to come), the values stay.
    EXPECT_GT(r->values, 0) << "the values before the unplug are kept";
    EXPECT_TRUE(b.waitFor([&] { return !b.hb->boxPresent(); }));
    b.expectIdle();

    b.replug();
    ASSERT_TRUE(b.waitFor([&] { return b.hb->boxPresent(); })) << "the box is found on its new address";
    b.clearPackets();
    EXPECT_EQ(runConfigure(*b.hb).status, kPass);
    const ToolResult read = runRead(*b.hb, 3);
    EXPECT_EQ(read.status, kPass) << b.hb->view.messages().join("|").toStdString();
    b.expectIdle();
}

TEST(UsbE2eFaults, StalledInEndpointNeitherSpinsNorHangsTheReader)
{
    UsbBench b;
    b.choose("BISS");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    b.box->setInStalled(true);
    b.hb->run([](Bench& bench) { bench.onCommand(Command::ReadData); });
    benchClock().sleepFor(1000);
    // The reader paces its failed transfers: a second of stalls is some
    // hundreds of transfers (a queue of them per pause), not a spin.
    const std::uint64_t stalls = b.box->state().stalledInTransfers;
    EXPECT_GT(stalls, 0u);
    EXPECT_LT(stalls, 3000u);
    b.box->setInStalled(false);
    b.expectIdle();
    EXPECT_EQ(runRead(*b.hb, 3).status, kPass) << "the endpoint works once the stall is gone";
    b.expectIdle();
}

TEST(UsbE2eFaults, ReadBackWhoseCompletionRacesTheCancelKeepsItsData)
{
    // Every IN transfer the box finishes comes back only after the bench
    // cancelled it: libusb then reports it cancelled, with its bytes.
    UsbBench b;
    b.choose("RS485");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    b.device().holdFinishedInUntilDiscard(true);
    const auto o = b.hb->conclude(Operation::Eeprom, [](Bench& bench) { bench.eepromWrite().start(0x3C); }, 20000);
    b.device().holdFinishedInUntilDiscard(false);
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->as<EepromResult>());
    EXPECT_TRUE(o->as<EepromResult>()->verified) << "the read-back's pairs came in the cancelled transfer";
    EXPECT_TRUE(o->passed);
    b.expectIdle();
}
