// The box link against the simulated bus: finding the box, sending, the
// drain read and device changes.
#include "common/clock.h"
#include "link/bounded_read.h"
#include "link/box_link.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "link_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {


SendStatus sendAndWait(BoxLink& link, Flag f)
{
    link.flags.raise(f);
    const SendTicket t = requestSend(link, PacketParams{});
    link.flags.lower(f);
    EXPECT_TRUE(t.wait(1000));
    return t.status();
}

}  // namespace

TEST(BoxLink, FindsTheBoxBehindAnotherDevice)
{
    Link l(/*boxSecond=*/true);
    EXPECT_EQ(l.link.usbDevice->deviceCount(), 2);
    EXPECT_EQ(findBox(l.link), "Rotoscope");
    EXPECT_TRUE(l.link.inEndpoint.present());
    EXPECT_TRUE(l.link.outEndpoint.present());
    EXPECT_EQ(l.link.usbDevice->deviceName(), kBoxDeviceName);

    EXPECT_EQ(sendAndWait(l.link, Flag::PowerOnCmd), SendStatus::Sent);
    EXPECT_TRUE(l.link.lastSendOk);
    ASSERT_EQ(l.box->receivedCount(), 1u);
    EXPECT_TRUE(l.box->receivedPackets()[0].isFill(0x4A));
}

TEST(BoxLink, InOnlyFirmwareSkipsEverySend)
{
    Link l(false, /*inOnly=*/true);
    EXPECT_EQ(findBox(l.link), "Rotoscope错误!");
    EXPECT_TRUE(l.link.inEndpoint.present());
    EXPECT_FALSE(l.link.outEndpoint.present());

    // Without an OUT endpoint the sender sends nothing and leaves the last
    // result as it was, whichever it was.
    for (bool before : {true, false}) {
        l.link.lastSendOk = before;
        EXPECT_EQ(sendAndWait(l.link, Flag::StopCmd), SendStatus::NoEndpoint);
        EXPECT_EQ(l.link.lastSendOk.load(), before);
    }
    EXPECT_EQ(l.box->receivedCount(), 0u);
}

TEST(BoxLink, NoBoxOnTheBus)
{
    auto bus = std::make_shared<SimBus>();
    bus->addDevice(std::make_shared<SimOtherDevice>("Not the box"));
    BoxLink link;
    link.usbDevice = std::make_unique<BoxUsbDevice>(bus, nullptr, true);
    EXPECT_EQ(findBox(link), "");
    EXPECT_FALSE(link.inEndpoint.present());
    EXPECT_FALSE(link.outEndpoint.present());
    EXPECT_FALSE(link.usbDevice->isOpen());
}

TEST(BoxLink, StalledAndUnfinishedWritesFail)
{
    Link l;
    findBox(l.link);
    l.box->setOutFault(OutFault::Stall);
    l.link.lastSendOk = true;
    EXPECT_EQ(sendAndWait(l.link, Flag::StopCmd), SendStatus::Failed);
    EXPECT_FALSE(l.link.lastSendOk);

    // A write that does not complete within 10 ms is a failure, and is
    // cancelled rather than left to arrive later.
    l.box->setOutFault(OutFault::NeverComplete);
    l.link.lastSendOk = true;
    const std::int64_t before = benchClock().nowMicros();
    EXPECT_EQ(sendAndWait(l.link, Flag::StopCmd), SendStatus::Failed);
    EXPECT_EQ(benchClock().nowMicros() - before, 10'000);  // the 10 ms completion wait, to the microsecond
    EXPECT_FALSE(l.link.lastSendOk);
    EXPECT_TRUE(l.link.sendLock.isFree());
}

TEST(BoxLink, DrainReadTakesTheQueryAnswer)
{
    Link l;
    findBox(l.link);
    sendAndWait(l.link, Flag::ConfigQueryCmd);
    l.link.lastReadOk = false;
    requestDrainRead(l.link);
    l.link.workers.joinAll();
    EXPECT_TRUE(l.link.lastReadOk);
}

TEST(BoxLink, UnplugWhileADrainReadIsPendingEndsIt)
{
    Link l;
    findBox(l.link);
    l.box->setNoAnswer(true);
    l.link.lastReadOk = true;
    requestDrainRead(l.link, [] { return true; });
    benchSleep(150);  // past the first 100 ms: still armed, so still waiting
    EXPECT_EQ(l.link.workers.runningCount(), 1u);
    ASSERT_TRUE(l.bus->unplug(l.box));
    for (int i = 0; i < 200 && l.link.workers.runningCount() > 0; ++i)
        benchSleep(5);
    EXPECT_EQ(l.link.workers.runningCount(), 0u);
    EXPECT_TRUE(l.link.lastReadOk) << "a drain read that ended without data keeps the last result";
    l.bus->waitForNotifications();
    std::lock_guard lock(l.mutex);
    ASSERT_EQ(l.events.size(), 2u);
    EXPECT_EQ(l.events[0], DeviceChangeEvent::Kind::RemovalComplete);
    EXPECT_EQ(l.events[1], DeviceChangeEvent::Kind::NodesChanged);
}

TEST(SendLock, ReleaseWhileFreeIsANoOp)
{
    SendLock lock;
    lock.release();
    lock.release();
    EXPECT_TRUE(lock.tryAcquire());
    EXPECT_FALSE(lock.tryAcquire()) << "a double release must not let two holders in";
    lock.release();
    EXPECT_TRUE(lock.isFree());
}

TEST(WorkerSet, JoinsEveryWorkerThroughTheClock)
{
    // Joining waits on the bench clock, so the workers' own waits pass: the
    // join ends exactly when the longest one (21 ms) has.
    WorkerSet set;
    std::atomic<int> done{0};
    const std::int64_t start = benchClock().nowMicros();
    for (int i = 0; i < 20; ++i)
        set.start([&, i] {
            benchSleep(2 + i);
            ++done;
        });
    set.joinAll();
    EXPECT_EQ(done.load(), 20);
    EXPECT_EQ(set.runningCount(), 0u);
    EXPECT_EQ(benchClock().nowMicros() - start, 21'000);
}

// --- Bounded inbound reads ------------------------------------------------

TEST(BoundedRead, NeverCompletingTransferIsCancelledAndItsLateDataReachesNobody)
{
    Link l;
    findBox(l.link);
    l.box->setAnswerDelayMs(300);
    sendAndWait(l.link, Flag::ConfigQueryCmd);  // the answer comes 300 ms late

    std::vector<std::uint8_t> buf(2048, 0xEE);
    const std::int64_t t0 = benchClock().nowMicros();
    const ReadOutcome first = readBounded(l.link, buf.data(), BoundedRead{2048, 100, 0, {}, 10});
    const double tookMs = double(benchClock().nowMicros() - t0) / 1000.0;
    EXPECT_EQ(first.status, ReadStatus::TimedOut);
    EXPECT_GE(tookMs, 100.0);
    EXPECT_LT(tookMs, 200.0);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_FALSE(l.link.inGate.owned());

    // The answer, when it comes, goes to the next reader, whole.
    const ReadOutcome second = readBounded(l.link, buf.data(), BoundedRead{2048, 1000, 0, {}, 10});
    EXPECT_EQ(second.status, ReadStatus::Ok);
    EXPECT_GT(second.bytes, 0);
}

TEST(BoundedRead, StopAllCancelsAPendingReaderAndTheOperationsFlagStopsIt)
{
    Link l;
    findBox(l.link);
    std::vector<std::uint8_t> buf(2048);
    ReadOutcome cancelled;
    ClockThread reader(benchClock(), [&] { cancelled = readBounded(l.link, buf.data(), BoundedRead{2048, 5000, 0, {}, 10}); });
    benchSleep(50);
    EXPECT_TRUE(l.link.inGate.owned());
    l.link.inGate.cancelAll();
    reader.join();
    EXPECT_EQ(cancelled.status, ReadStatus::Cancelled);

    std::atomic<bool> running{true};
    BoundedRead r{2048, 5000, 0, {}, 10};
    r.keepWaiting = [&] { return running.load(); };
    ReadOutcome stopped;
    ClockThread second(benchClock(), [&] { stopped = readBounded(l.link, buf.data(), r); });
    benchSleep(50);
    running = false;
    second.join();
    EXPECT_EQ(stopped.status, ReadStatus::Stopped);
}

TEST(BoundedRead, OneReaderHoldsTheEndpointAtATime)
{
    Link l;
    findBox(l.link);
    std::atomic<int> holding{0};
    std::atomic<int> most{0};
    std::vector<std::unique_ptr<ClockThread>> readers;
    for (int i = 0; i < 4; ++i) {
        readers.push_back(std::make_unique<ClockThread>(benchClock(), [&] {
            std::vector<std::uint8_t> buf(512);
            BoundedRead r{512, 400, 0, {}, 10};
            r.keepWaiting = [&] {
                const int now = holding.fetch_add(1) + 1;
                most = std::max(most.load(), now);
                holding.fetch_sub(1);
                return true;
            };
            readBounded(l.link, buf.data(), r);
        }));
    }
    for (auto& t : readers)
        t->join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_FALSE(l.link.inGate.owned());
}
