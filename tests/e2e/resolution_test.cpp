// "Resolution" on the simulated encoder: one long transfer while the shaft
// turns, the span in lsb, and how the worker ends when the box does not send.
#include "bench/number_input.h"
#include "bench/resolution.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// A single-turn BISS encoder of 17 bits above 2 status bits, configured.
void setUp(SimBench& b, double rpm)
{
    EncoderModel& e = b.box->encoder();
    e.setResolution(17, 0, 2);
    e.setStatus(1);
    e.setSpeedRpm(rpm);
    b.chooseProtocol("BISS");
    for (int k = 1; k <= 10; ++k)
        b.type(fieldWidthControl(k), k == 1 ? "17" : k == 2 ? "2" : "0");
    b.type(Control::ContentCount, "2");
    b.type(Control::TruncateBits, "2");
    ASSERT_TRUE(b.configure());
    b.clearPackets();
    b.view.clearMessages();
}

bool workerDone(const SimBench& b)
{
    return b.state.link.workers.runningCount() == 0;
}

}  // namespace

TEST(Resolution, SeventeenBitEncoderOverAFullTurn)
{
    SimBench b;
    // 0.99 counts per 125-us record: every position of a full turn is read
    // within the 819200-byte transfer (about 17 s of records).
    setUp(b, 0.99 / 125e-6 / (1 << 17) * 60.0);
    b.type(Control::CycleCount, "800000");
    b.bench->onCommand(Command::Resolution);
    EXPECT_FALSE(b.view.controls().isEnabled(Control::Resolution));
    EXPECT_FALSE(b.view.controls().isEnabled(Control::CycleCount));
    EXPECT_EQ(b.view.controls().text(Control::ResolutionResult), "0");
    ASSERT_TRUE(waitFor([&] { return b.view.controls().isEnabled(Control::Resolution); }, 40000));

    EXPECT_EQ(b.box->state().lostBytes, 0u);
    EXPECT_EQ(b.view.controls().text(Control::ResolutionResult), "131071");
    const TestReport r = b.lastReport("resolution");
    EXPECT_EQ(r.figures["value"].toInteger(), 131071);
    EXPECT_GT(r.figures["records"].toInt(), 130000) << "every block of the transfer walked";
    EXPECT_EQ(b.view.controls().progress(Control::ResolutionProgress), 0);
    EXPECT_TRUE(b.view.controls().isEnabled(Control::CycleCount));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ResolutionActive));
    EXPECT_TRUE(b.view.messages().isEmpty());
    EXPECT_EQ(b.packetLog(), (std::vector<std::string>{"6A", "7A", "7A"}));
}

TEST(Resolution, RefusesACycleCountBelowTheTable)
{
    struct Case {
        QString cycles;
        QString message;
    };
    const Case cases[] = {{"9999", kMsgCycleCountTooSmall}, {"1000001", kMsgRangeTemplate.arg(0).arg(1000000)},
                          {"many", kMsgNotInteger}};
    SimBench b;
    setUp(b, 1.0);
    for (const Case& c : cases) {
        b.view.clearMessages();
        b.type(Control::CycleCount, c.cycles);
        b.bench->onCommand(Command::Resolution);
        EXPECT_EQ(b.view.messages(), QStringList{c.message}) << c.cycles.toStdString();
        EXPECT_TRUE(b.packetLog().empty()) << c.cycles.toStdString();
        EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
    }
}

TEST(Resolution, SilentBoxKeepsTheLockFreeWhileTheWorkerWaits)
{
    SimBench b;
    setUp(b, 1.0);
    b.box->setNoAnswer(true);
    b.bench->onCommand(Command::Resolution);
    ASSERT_FALSE(b.view.controls().isEnabled(Control::Resolution));
    benchSleep(200);
    EXPECT_EQ(b.view.controls().progress(Control::ResolutionProgress), 1);
    // The worker waits without SendLock: a packet goes out meanwhile.
    b.clearPackets();
    b.state.link.flags.raise(Flag::StopCmd);
    requestSend(b.state.link, b.state.packetParams());
    b.state.link.flags.lower(Flag::StopCmd);
    EXPECT_TRUE(b.box->waitForPackets(1, 100));

    b.bench->stopAll();
    EXPECT_TRUE(waitFor([&] { return workerDone(b); }, 200));
    EXPECT_EQ(b.view.controls().text(Control::ResolutionResult), "0");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
}

TEST(Resolution, UnpluggedBoxEndsTheTestWithStopAll)
{
    SimBench b;
    setUp(b, 1.0);
    b.box->setNoAnswer(true);
    b.bench->onCommand(Command::Resolution);
    benchSleep(100);
    ASSERT_TRUE(b.bus->unplug(b.box));
    EXPECT_TRUE(waitFor([&] { return workerDone(b); }, 500));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ResolutionActive));
    EXPECT_FALSE(b.state.configApplied.load());
    EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
    EXPECT_TRUE(b.state.link.sendLock.isFree());
}

// The transfer stays pending across wait rounds while it advances: a box
// that needs two rounds for it gives the full turn; one that sends nothing
// for a whole round ends the test with a message and keeps the configuration.
TEST(Resolution, WaitRoundsEndOnlyATransferThatDoesNotAdvance)
{
    struct Case {
        const char* what;
        std::int64_t recordMicros;
        bool silent;
    };
    const Case cases[] = {{"about 34 s of records", 250, false}, {"a box that sends nothing", 125, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBench b;
        b.box->setRecordPeriodMicros(c.recordMicros);
        setUp(b, 0.99 / (static_cast<double>(c.recordMicros) * 1e-6) / (1 << 17) * 60.0);
        b.box->setNoAnswer(c.silent);
        b.type(Control::CycleCount, "800000");
        const std::uint64_t before = b.bench->outcomes().count(Operation::Resolution);
        const std::int64_t t0 = benchClock().nowMicros();
        b.bench->onCommand(Command::Resolution);
        const std::optional<Outcome> end = b.bench->outcomes().waitNext(Operation::Resolution, before, 60000);
        ASSERT_TRUE(end.has_value());
        EXPECT_TRUE(waitFor([&] { return workerDone(b); }, 100));
        const double tookMs = static_cast<double>(benchClock().nowMicros() - t0) / 1000.0;
        EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
        EXPECT_TRUE(b.view.controls().isEnabled(Control::CycleCount));
        EXPECT_FALSE(b.state.link.flags.isUp(Flag::ResolutionActive));
        EXPECT_TRUE(b.state.configApplied.load());
        EXPECT_FALSE(b.state.link.inGate.owned());
        if (c.silent) {
            EXPECT_EQ(end->ending, Ending::BoxFault);
            EXPECT_EQ(b.view.messages(), QStringList{kMsgResolutionNoData});
            EXPECT_NEAR(tookMs, kResolutionWaitRoundMs, 500);
            EXPECT_EQ(b.view.controls().text(Control::ResolutionResult), "0");
        } else {
            EXPECT_EQ(end->ending, Ending::Verdict);
            EXPECT_TRUE(end->passed);
            EXPECT_GT(tookMs, kResolutionWaitRoundMs);
            EXPECT_EQ(b.view.controls().text(Control::ResolutionResult), "131071");
            EXPECT_EQ(b.box->state().lostBytes, 0u);
            EXPECT_TRUE(b.view.messages().isEmpty());
        }
    }
}
