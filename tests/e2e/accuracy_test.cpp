// "Abs test" on the simulated encoder: full 680-step runs in virtual time, the error browser, the guards and the ways a test ends early.
#include "bench/accuracy.h"
#include "bench/number_input.h"
#include "bench/reading.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kTurn = 1 << 17;  // the encoder's counts per turn

// The motor of the timed runs. At exactly 1 rpm two samples 333 ms apart
// (a step whose second transfer came too late, the stream's own timing)
// are 2 degrees apart, and the wrap from 360 to 0 then reads as a jump of
// 358 - a little under the limit. A motor a tenth slower keeps the wrap
// clear of it as a real 1 rpm motor with some tolerance would.
constexpr double kMotorRpm = 0.9;

// A 17-bit BISS encoder with 15 turn bits and 2 status bits, its single-turn
// field on the gauge, configured.
void setUp(SimBench& b, const QString& protocol = "BISS", double rpm = kMotorRpm)
{
    EncoderModel& e = b.box->encoder();
    e.setResolution(17, 15, 2);
    e.setSpeedRpm(rpm);
    b.chooseProtocol(protocol);
    b.type(Control::FieldWidth1, "15");
    b.type(Control::FieldWidth2, "17");
    b.type(Control::FieldWidth3, "2");
    b.type(Control::ContentCount, "3");
    b.type(Control::GaugeField, "2");
    ASSERT_TRUE(b.configure());
    b.clearPackets();
    b.view.clearMessages();
}

// Puts the shaft at `degrees` now.
std::int64_t placeShaft(SimBench& b, double degrees)
{
    b.box->encoder().setPositionCounts(std::llround(degrees / 360.0 * kTurn));
    return benchClock().nowMicros();
}

// Timer 0 as the window runs it: a tick every 300 bench ms from `start`
// while the timer runs. Returns the number of ticks.
int runSteps(SimBench& b, std::int64_t start, const std::function<void(int)>& afterTick = {})
{
    int n = 0;
    while (b.view.timerRunning(kTimerAbsTest) && n < kAccuracySteps + 5) {
        ++n;
        const double late = static_cast<double>(start + n * 300000 - benchClock().nowMicros()) / 1000.0;
        if (late > 0)
            benchSleep(late);
        b.bench->onTimer(kTimerAbsTest);
        if (afterTick)
            afterTick(n);
    }
    return n;
}

void press(SimBench& b)
{
    b.bench->onCommand(Command::AbsTest);
}

// Ticks until the test has ended, at most `ticks` times.
void tickUntilEnded(SimBench& b, int ticks = 4)
{
    for (int i = 0; i < ticks && b.bench->accuracy().running(); ++i)
        b.bench->onTimer(kTimerAbsTest);
}

}  // namespace

TEST(AbsTest, MotorAtOneRpmWithoutJumpsPasses)
{
    SimBench b;
    setUp(b);
    const std::int64_t start = placeShaft(b, 11.7);
    press(b);
    ASSERT_EQ(b.view.controls().text(Control::AbsTest), "abs test .....");
    ASSERT_EQ(b.view.timerPeriod(kTimerAbsTest), 300);

    int halfway = -1;
    const int ticks = runSteps(b, start, [&](int n) {
        if (n == kAccuracySteps / 2)
            halfway = b.view.controls().progress(Control::AbsProgress);
    });
    EXPECT_EQ(ticks, kAccuracySteps);
    EXPECT_EQ(halfway, 30);
    EXPECT_EQ(b.view.controls().lamp(Control::AbsLamp), LampImage::Passed);
    EXPECT_EQ(b.view.controls().text(Control::AbsTest), "abs test");
    EXPECT_EQ(b.view.controls().text(Control::ErrorIndex), "0");
    EXPECT_EQ(b.view.controls().text(Control::ErrorAngle), "");
    EXPECT_EQ(b.view.controls().progress(Control::AbsProgress), 0);
    EXPECT_TRUE(b.view.messages().isEmpty()) << b.view.messages().join("|").toStdString();
    EXPECT_FALSE(b.bench->accuracy().running());

    // Every step, to the microsecond in virtual time: power on 2 ms into the
    // tick, stop 60 ms later, the stream 50 ms after that; each tick 300 ms
    // after the last.
    const auto packets = b.packets();
    ASSERT_EQ(packets.size(), 3u * kAccuracySteps);
    const std::uint8_t codes[3] = {0x4A, 0x6A, 0x7A};
    const std::int64_t offsets[3] = {2000, 62000, 112000};
    int wrong = 0;
    for (int n = 0; n < kAccuracySteps; ++n)
        for (int k = 0; k < 3; ++k) {
            const ReceivedPacket& p = packets[static_cast<std::size_t>(3 * n + k)];
            const std::int64_t due = start + (n + 1) * 300000 + offsets[k];
            if (!p.isFill(codes[k]) || p.benchMicros != due) {
                EXPECT_LT(++wrong, 4) << "step " << n + 1 << " packet " << k << " at " << p.benchMicros
                                      << " us, due " << due;
            }
        }
    EXPECT_EQ(wrong, 0);
}

TEST(AbsTest, JumpsAtTwoAnglesAreTheErrorsAndCanBeBrowsed)
{
    SimBench b;
    setUp(b);
    const std::int64_t start = placeShaft(b, 11.7);
    const AngleJump jumps[] = {{100.0, 27.0}, {250.0, -45.0}};
    for (const AngleJump& j : jumps)
        b.box->encoder().addAngleJump(j);
    press(b);
    runSteps(b, start);

    ASSERT_EQ(b.box->encoder().firedJumpsUntil(benchClock().nowMicros()).size(), 2u);
    EXPECT_EQ(b.view.controls().lamp(Control::AbsLamp), LampImage::Lit);
    EXPECT_EQ(b.view.controls().text(Control::AbsTest), "abs error");
    ASSERT_EQ(b.view.controls().text(Control::ErrorIndex), "2");
    EXPECT_TRUE(b.view.messages().isEmpty()) << b.view.messages().join("|").toStdString();

    // Each error is the last sample before the jump: within one step's
    // travel (under 1.8 degrees) below the jump's angle.
    auto shownAngle = [&] { return b.view.controls().text(Control::ErrorAngle).toDouble(); };
    auto nearJump = [](double shown, double at) { return shown <= at && shown > at - 2.0; };
    EXPECT_TRUE(nearJump(shownAngle(), 250.0)) << shownAngle();
    const QString second = b.view.controls().text(Control::ErrorAngle);
    const TestReport r = b.lastReport("abs-test");
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.figures["verdict"].toString(), "errors");
    ASSERT_EQ(r.figures["errors"].toArray().size(), 2);
    EXPECT_TRUE(nearJump(r.figures["errors"][0].toDouble(), 100.0));
    EXPECT_GT(r.figures["travel"].toDouble(), 300.0);

    // Down browses towards the first error and stays there; up back to the last.
    struct Step {
        QString typed;  // empty: the index as shown
        int direction;
        QString index;
    };
    const Step steps[] = {{"", -1, "1"}, {"", -1, "1"}, {"", +1, "2"}, {"", +1, "2"},
                          {"7", -1, "1"}, {"0", +1, "2"}, {"0", -1, "1"}};
    for (const Step& s : steps) {
        if (!s.typed.isEmpty())
            b.type(Control::ErrorIndex, s.typed);
        b.bench->onSpin(Control::ErrorIndex, s.direction);
        ASSERT_EQ(b.view.controls().text(Control::ErrorIndex), s.index) << s.typed.toStdString() << " " << s.direction;
        if (s.index == "1")
            EXPECT_TRUE(nearJump(shownAngle(), 100.0)) << shownAngle();
        else
            EXPECT_EQ(b.view.controls().text(Control::ErrorAngle), second);
    }
    b.type(Control::ErrorIndex, "x");
    b.bench->onSpin(Control::ErrorIndex, +1);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgNotInteger});
}

TEST(AbsTest, StandingEncoderAsksForTheMotor)
{
    SimBench b;
    setUp(b, "BISS", 0.0);
    // Nothing here depends on the steps' timing: run as fast as the box allows.
    const std::int64_t start = placeShaft(b, 90.0);
    press(b);
    EXPECT_EQ(runSteps(b, start), kAccuracySteps);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgTurnTheMotor});
    EXPECT_EQ(b.view.controls().lamp(Control::AbsLamp), LampImage::Unlit);
    EXPECT_EQ(b.view.controls().text(Control::AbsTest), "abs test");
    // The standing shaft was read at every step.
    EXPECT_EQ(b.view.controls().text(Control::FieldValue2), QString::number(kTurn / 4));
}

TEST(AbsTest, GuardsRefuseToStart)
{
    struct Case {
        const char* name;
        std::function<void(SimBench&)> arrange;
        QString message;  // empty: refused silently
    };
    const std::vector<Case> cases = {
        {"not configured", [](SimBench& b) { b.bench->stopAll(); }, kMsgSetConfiguration},
        {"TTL", [](SimBench& b) { setUp(b, "TTL"); }, kMsgUnsupportedTtl},
        {"no gauge field", [](SimBench& b) { b.type(Control::GaugeField, "0"); }, kMsgSetGaugeField},
        {"gauge field beyond the fields", [](SimBench& b) { b.type(Control::GaugeField, "4"); }, kMsgSetGaugeField},
        {"reading", [](SimBench& b) { b.bench->onCommand(Command::ReadData); }, {}},
        {"power off", [](SimBench& b) { b.bench->onCommand(Command::PowerControl); }, {}},
    };
    for (const Case& c : cases) {
        SimBench b;
        setUp(b);
        c.arrange(b);
        b.settle();
        b.view.clearMessages();
        b.clearPackets();
        press(b);
        EXPECT_FALSE(b.bench->accuracy().running()) << c.name;
        EXPECT_FALSE(b.view.timerRunning(kTimerAbsTest)) << c.name;
        EXPECT_EQ(b.view.messages(), c.message.isEmpty() ? QStringList{} : QStringList{c.message}) << c.name;
        EXPECT_TRUE(b.packetLog().empty()) << c.name;
    }
}

TEST(AbsTest, EndsWithoutAVerdict)
{
    struct Case {
        const char* name;
        std::function<void(SimBench&)> end;  // runs after a few steps
        QString caption;  // "Abs test": stop-all, which leaves the progress bar as it was
        QStringList messages;
    };
    const std::vector<Case> cases = {
        {"pressed again", [](SimBench& b) { press(b); }, "abs test", {}},
        {"the row's check box",
         [](SimBench& b) {
             b.bench->onToggled(Control::AbsRowCheck, true);
             b.bench->onTimer(kTimerAbsTest);
         },
         "abs test", {}},
        {"the box stops streaming",
         [](SimBench& b) {
             b.box->setNoAnswer(true);
             tickUntilEnded(b);
         },
         "Abs test", {}},
        {"SPI CRC error",
         [](SimBench& b) {
             b.box->injectCrcErrors(-1);
             tickUntilEnded(b);
         },
         "Abs test", {kMsgSpiCrcError}},
    };
    for (const Case& c : cases) {
        SimBench b;
        setUp(b, "SPI_CRC");
        press(b);
        for (int i = 0; i < 12; ++i)
            b.bench->onTimer(kTimerAbsTest);
        ASSERT_TRUE(b.bench->accuracy().running()) << c.name;
        c.end(b);
        b.settle();
        EXPECT_FALSE(b.bench->accuracy().running()) << c.name;
        EXPECT_FALSE(b.view.timerRunning(kTimerAbsTest)) << c.name;
        EXPECT_EQ(b.view.controls().text(Control::AbsTest), c.caption) << c.name;
        EXPECT_EQ(b.view.controls().lamp(Control::AbsLamp), LampImage::Unlit) << c.name;
        if (c.caption == "abs test") {
            EXPECT_EQ(b.view.controls().progress(Control::AbsProgress), 0) << c.name;
        }
        EXPECT_EQ(b.view.messages(), c.messages) << c.name;
        EXPECT_TRUE(waitFor([&] { return b.state.link.workers.runningCount() == 0; })) << c.name;
        // Nothing holds SendLock, and a later tick does nothing.
        EXPECT_TRUE(b.state.link.sendLock.isFree()) << c.name;
        b.clearPackets();
        b.bench->onTimer(kTimerAbsTest);
        b.settle();
        EXPECT_TRUE(b.packetLog().empty()) << c.name;
    }
}
