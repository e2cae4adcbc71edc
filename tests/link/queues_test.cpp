// The OUT queue and the IN pump against the simulated box, in virtual time:
// packets leave in the order they were requested, and queued IN transfers
// keep the box's four-packet FIFO from overflowing while the consumer works.
#include "common/clock.h"
#include "link/box_link.h"
#include "link/in_pump.h"
#include "link_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

SendTicket sendFlag(BoxLink& link, Flag f)
{
    link.flags.raise(f);
    SendTicket t = requestSend(link, PacketParams{});
    link.flags.lower(f);  // the packet was built at the request
    return t;
}

// The box streaming BISS records (6 bytes each, one every 125 us).
void startStream(Link& l)
{
    ASSERT_EQ(findBox(l.link), "Rotoscope");
    PacketParams p;
    p.protocolCode = 0;
    p.frameBits = 34;
    l.link.flags.raise(Flag::ConfigCmd);
    requestSend(l.link, p);
    l.link.flags.lower(Flag::ConfigCmd);
    l.link.flags.raise(Flag::ReadActive);
    ASSERT_TRUE(requestSend(l.link, p).wait(100));
}

}  // namespace

TEST(OutQueue, PacketsLeaveInRequestOrderFromEveryThreadAndEachGetsItsOutcome)
{
    Link l;
    findBox(l.link);
    // Three threads request at once; each one's packets arrive in its order,
    // none lost, each ticket Sent.
    const Flag flags[3] = {Flag::StopCmd, Flag::PowerOnCmd, Flag::ConfigQueryCmd};
    const std::uint8_t fills[3] = {0x6A, 0x4A, 0x9A};
    std::vector<std::unique_ptr<ClockThread>> senders;
    for (int k = 0; k < 3; ++k)
        senders.push_back(std::make_unique<ClockThread>(benchClock(), [&, k] {
            FlagSnapshot only;
            only.set(flags[k], true);
            const CommandPacket packet = buildCommandPacket(only, {});
            for (int i = 0; i < 20; ++i)
                EXPECT_TRUE(l.link.outQueue.enqueue(packet).wait(1000));
        }));
    for (auto& t : senders)
        t->join();
    const auto got = l.box->receivedPackets();
    ASSERT_EQ(got.size(), 60u);
    int seen[3] = {0, 0, 0};
    for (const auto& p : got)
        for (int k = 0; k < 3; ++k)
            seen[k] += p.isFill(fills[k]) ? 1 : 0;
    EXPECT_EQ(seen[0], 20);
    EXPECT_EQ(seen[1], 20);
    EXPECT_EQ(seen[2], 20);

    // A stop requested right after a stream command never overtakes it, and
    // both reach the box at the instant they were asked for.
    l.box->clearReceivedPackets();
    const std::int64_t t0 = benchClock().nowMicros();
    const SendTicket stream = sendFlag(l.link, Flag::ReadActive);
    const SendTicket stop = sendFlag(l.link, Flag::StopCmd);
    ASSERT_TRUE(stop.wait(100));
    EXPECT_TRUE(stream.sent());
    EXPECT_LE(stream.finishedMicros(), stop.finishedMicros());
    const auto two = l.box->receivedPackets();
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].isFill(0x7A));
    EXPECT_TRUE(two[1].isFill(0x6A));
    EXPECT_EQ(two[1].benchMicros, t0);

    // Outcomes: a stall fails, a box without OUT endpoint takes nothing, a
    // closed queue drops what it still held and takes nothing more.
    l.box->setOutFault(OutFault::Stall);
    const SendTicket stalled = sendFlag(l.link, Flag::StopCmd);
    ASSERT_TRUE(stalled.wait(100));
    EXPECT_EQ(stalled.status(), SendStatus::Failed);
    l.box->setOutFault(OutFault::None);
    l.link.outEndpoint.set(nullptr);
    const SendTicket none = sendFlag(l.link, Flag::StopCmd);
    ASSERT_TRUE(none.wait(100));
    EXPECT_EQ(none.status(), SendStatus::NoEndpoint);
    l.link.outQueue.close();
    EXPECT_FALSE(sendFlag(l.link, Flag::StopCmd));
}

TEST(InPump, QueuedTransfersKeepTheFifoFromOverflowingWhileTheConsumerWorks)
{
    // A consumer that spends 30 ms of bench time on each 2048-byte transfer
    // (the box fills one in about 43 ms): with one transfer at a time the
    // box's FIFO overflows during every pause; with the pump's queue it never
    // does, and the transfers come in the box's order.
    for (const int depth : {1, 0}) {
        SCOPED_TRACE(depth == 1 ? "one transfer at a time" : "the pump's queue");
        Link l;
        startStream(l);
        const std::uint64_t lostBefore = l.box->state().lostBytesTotal;
        auto session = l.link.inPump.open({2048, depth, 100});
        ASSERT_TRUE(session->isOpen());
        EXPECT_EQ(session->depth(), depth == 1 ? 1 : 128);
        std::vector<std::uint8_t> buf(2048);
        std::uint64_t bytes = 0;
        for (int i = 0; i < 50; ++i) {
            const ReadOutcome r = session->next(buf.data(), BoundedRead{2048, 100, 0, {}, 10});
            ASSERT_TRUE(r.ok()) << readStatusName(r.status);
            EXPECT_EQ(r.bytes, 2048);
            bytes += static_cast<std::uint64_t>(r.bytes);
            benchSleep(depth == 1 ? 60 : 30);
        }
        const std::uint64_t lost = l.box->state().lostBytesTotal - lostBefore;
        if (depth == 1)
            EXPECT_GT(lost, 0u);
        else
            EXPECT_EQ(lost, 0u);
        EXPECT_EQ(session->transfersTaken(), 50u);
        session.reset();
        l.link.flags.lower(Flag::ReadActive);
    }
}

TEST(InPump, AWaitThatEndsKeepsItsTransferAndStopAllCutsTheSessionOff)
{
    Link l;
    ASSERT_EQ(findBox(l.link), "Rotoscope");
    // Nothing streams: a 50 ms wait times out, the transfer stays queued,
    // and the box's next answer lands in it.
    auto session = l.link.inPump.open({2048, 1, 100});
    std::vector<std::uint8_t> buf(2048);
    EXPECT_EQ(session->next(buf.data(), BoundedRead{2048, 50, 0, {}, 10}).status, ReadStatus::TimedOut);
    ASSERT_TRUE(sendFlag(l.link, Flag::ConfigQueryCmd).wait(100));
    const ReadOutcome answer = session->next(buf.data(), BoundedRead{2048, 50, 0, {}, 10});
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.bytes, 6);
    EXPECT_EQ(buf[0], 0x9A);

    // A second session waits for the endpoint; stop-all's cancel ends the
    // first, whose queued transfer never receives what comes later.
    auto blocked = l.link.inPump.open({2048, 1, 20});
    EXPECT_FALSE(blocked->isOpen());
    l.link.inGate.cancelAll();
    EXPECT_EQ(session->next(buf.data(), BoundedRead{2048, 50, 0, {}, 10}).status, ReadStatus::Cancelled);
    session.reset();
    auto fresh = l.link.inPump.open({2048, 1, 20});
    ASSERT_TRUE(fresh->isOpen());
    ASSERT_TRUE(sendFlag(l.link, Flag::ConfigQueryCmd).wait(100));
    EXPECT_EQ(fresh->next(buf.data(), BoundedRead{2048, 50, 0, {}, 10}).bytes, 6);
}

TEST(InPump, AWorkersSessionIsGoneWhenTheWorkerIsSeenFinished)
{
    // A worker that owned a session (the capture's, captured by its body)
    // has let go of the endpoint by the time anyone sees it finished; the
    // next consumer gets the endpoint at once instead of waiting its full
    // acquire time and being refused.
    Link l;
    ASSERT_EQ(findBox(l.link), "Rotoscope");
    Clock& clock = benchClock();
    for (int run = 0; run < 200; ++run) {
        std::shared_ptr<InSession> held = l.link.inPump.open({2048, 1, 100});
        ASSERT_TRUE(held->isOpen());
        const WorkerHandle w = l.link.workers.start([held] {});
        held.reset();
        ASSERT_TRUE(l.link.workers.waitFor(w, 100));
        EXPECT_FALSE(l.link.inGate.owned()) << "run " << run;
        const std::int64_t t0 = clock.nowMicros();
        auto next = l.link.inPump.open({2048, 1, 1000});
        EXPECT_TRUE(next->isOpen()) << "run " << run;
        EXPECT_EQ(clock.nowMicros(), t0) << "run " << run;
    }
}
