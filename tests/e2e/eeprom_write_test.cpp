// "Write eepprom " on the simulated box: the packet timeline of timer 6, the
// verdict lamp for encoders that store, do not store or answer wrongly, and
// the guards of the command.
#include "bench/eeprom_write.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr double kTickMs = 500;

// A configured RS485 bench (the protocols that offer the command) with the
// value typed.
void prepare(SimBench& b, const QString& value)
{
    b.chooseProtocol("RS485");
    ASSERT_TRUE(b.configure());
    b.type(Control::EepromValue, value);
    b.clearPackets();
}

// Presses the button and ticks timer 6 every 500 ms of bench time, as the
// window's timer does (a tick that overran fires at once), until the
// sequence stops its timer. `beforeTick(k)` runs before tick k. Returns the
// bench time at which the timer started.
std::int64_t runSequence(SimBench& b, const std::function<void(int)>& beforeTick = {})
{
    b.bench->onCommand(Command::WriteEeprom);
    const std::int64_t t0 = benchClock().nowMicros();
    EXPECT_TRUE(b.view.timerRunning(kTimerEeprom));
    EXPECT_EQ(b.view.timerPeriod(kTimerEeprom), 500);
    for (int k = 1; k <= 30 && b.view.timerRunning(kTimerEeprom); ++k) {
        const double due = static_cast<double>(t0) / 1000.0 + k * kTickMs;
        const double now = static_cast<double>(benchClock().nowMicros()) / 1000.0;
        if (due > now)
            benchSleep(due - now);
        if (beforeTick)
            beforeTick(k);
        b.bench->onTimer(kTimerEeprom);
    }
    b.settle();
    return t0;
}

}  // namespace

TEST(EepromWrite, PacketTimelineAndGreenCheckForValue171)
{
    SimBench b;
    prepare(b, "171");
    std::vector<LampImage> lamps;
    const std::int64_t t0 = runSequence(b, [&](int k) {
        lamps.push_back(b.view.controls().lamp(Control::EepromLamp));
        if (k == 2) {
            // Typed during the sequence: taken by no one.
            b.type(Control::EepromValue, "12");
            EXPECT_EQ(b.view.controls().text(Control::WriteEeprom), "Write .....");
            EXPECT_FALSE(b.view.controls().isEnabled(Control::ReadData));
            EXPECT_FALSE(b.view.controls().isEnabled(Control::PowerControl));
        }
    });

    const std::vector<std::string> expected = {"6A", "4A",           "B4B4A4A4FFAB", "2C",
                                               "4A", "B5B5A5A5A5A5", "4A"};
    EXPECT_EQ(b.packetLog(), expected);
    // Times from the start of timer 6: write 2.0 s, power off 4.0 s and on
    // 100 ms later, read-back request 6.1 s after the 100 ms drain, verdict 7.0 s.
    const std::vector<ReceivedPacket> p = b.packets();
    ASSERT_EQ(p.size(), expected.size());
    const double due[] = {2000, 4000, 4100, 6100, 7000};
    for (int i = 0; i < 5; ++i) {
        const double at = static_cast<double>(p[static_cast<std::size_t>(i + 2)].benchMicros - t0) / 1000.0;
        EXPECT_GE(at, due[i] - 1) << expected[static_cast<std::size_t>(i + 2)];
        EXPECT_LT(at, due[i] + 60) << expected[static_cast<std::size_t>(i + 2)];
    }
    EXPECT_LT(p[1].benchMicros, t0);  // the press's own packets

    // The lamp blinks red on even ticks, then shows the verdict.
    ASSERT_GE(lamps.size(), 4u);
    EXPECT_EQ(lamps[1], LampImage::Unlit);  // before tick 2: after tick 1 (odd)
    EXPECT_EQ(lamps[2], LampImage::Lit);
    EXPECT_EQ(b.view.controls().lamp(Control::EepromLamp), LampImage::Passed);
    EXPECT_EQ(b.box->encoder().eepromContent(), 171);
    EXPECT_EQ(b.view.controls().text(Control::WriteEeprom), "Write eepprom");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::ReadData));
    EXPECT_TRUE(b.view.controls().isEnabled(Control::PowerControl));
    EXPECT_FALSE(b.bench->eepromWrite().running());
    EXPECT_FALSE(b.state.link.inGate.owned()) << "the read-back transfer ended with the verdict";
    // The box stopped its pairs at the closing 4A; a new reading gets positions.
    EXPECT_FALSE(b.box->state().streaming);
}

TEST(EepromWrite, VerdictOfTheEncoder)
{
    struct Case {
        const char* what;
        EepromBehaviour behaviour;
        bool noise;
        int value;
        LampImage lamp;
        int stored;
        bool burst = false;
    };
    const Case cases[] = {
        {"stores the byte", EepromBehaviour::Store, false, 0x42, LampImage::Passed, 0x42},
        {"stores, noise between the pairs", EepromBehaviour::Store, true, 0, LampImage::Passed, 0},
        {"126 good pairs, then a bad one", EepromBehaviour::Short, false, 0x42, LampImage::Lit, 0x42},
        {"does not store", EepromBehaviour::Ignore, false, 0x42, LampImage::Lit, 0xFF},
        // The whole read-back the moment the request arrives: the drain read
        // must be over by then or it swallows the pairs.
        {"answers in one burst", EepromBehaviour::Store, false, 0x42, LampImage::Passed, 0x42, true},
        {"answers in one burst, with noise", EepromBehaviour::Store, true, 7, LampImage::Passed, 7, true},
        {"one burst of a byte not stored", EepromBehaviour::Ignore, false, 0x42, LampImage::Lit, 0xFF, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBench b;
        b.box->encoder().setEepromBehaviour(c.behaviour);
        b.box->setEepromNoise(c.noise);
        b.box->setEepromBurst(c.burst);
        prepare(b, QString::number(c.value));
        runSequence(b);
        EXPECT_EQ(b.view.controls().lamp(Control::EepromLamp), c.lamp);
        EXPECT_EQ(b.box->encoder().eepromContent(), c.stored);
        EXPECT_EQ(b.packetLog().size(), 7u);
        const TestReport r = b.lastReport("eeprom");
        EXPECT_EQ(r.passed, c.lamp == LampImage::Passed);
        EXPECT_EQ(r.figures["value"].toInt(), c.value);
    }
}

TEST(EepromWrite, SecondPressStopsAtOnceAndSendsNothingMore)
{
    SimBench b;
    prepare(b, "5");
    std::size_t sentBefore = 0;
    runSequence(b, [&](int k) {
        if (k != 5)
            return;
        b.settle();
        sentBefore = b.packets().size();
        EXPECT_TRUE(b.state.link.flags.isUp(Flag::EepromWriteCmd));  // held since tick 4
        b.bench->onCommand(Command::WriteEeprom);
    });
    b.settle();
    EXPECT_EQ(sentBefore, 3u);  // 6A, 4A, the write header
    EXPECT_EQ(b.packets().size(), sentBefore);
    EXPECT_FALSE(b.view.timerRunning(kTimerEeprom));
    EXPECT_FALSE(b.bench->eepromWrite().running());
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::EepromWriteCmd));
    EXPECT_EQ(b.view.controls().text(Control::WriteEeprom), "Write eepprom");
    EXPECT_EQ(b.view.controls().lamp(Control::EepromLamp), LampImage::Unlit);
    EXPECT_TRUE(b.view.controls().isEnabled(Control::ReadData));
    EXPECT_TRUE(b.view.controls().isEnabled(Control::ResetAngle));
    // A later tick of the stopped timer does nothing.
    b.bench->onTimer(kTimerEeprom);
    b.settle();
    EXPECT_EQ(b.packets().size(), sentBefore);
}

TEST(EepromWrite, StopAllDuringTheReadBackCancelsItsTransfer)
{
    SimBench b;
    prepare(b, "9");
    runSequence(b, [&](int k) {
        if (k == 13)
            b.bench->stopAll();
    });
    EXPECT_FALSE(b.bench->eepromWrite().running());
    EXPECT_EQ(b.view.controls().lamp(Control::EepromLamp), LampImage::Unlit);
    EXPECT_FALSE(b.state.link.inGate.owned());
    EXPECT_EQ(b.packetLog().back(), "B5B5A5A5A5A5") << "no verdict pulse after stop-all";
}

TEST(EepromWrite, RefusedStarts)
{
    struct Case {
        const char* what;
        std::function<void(SimBench&)> arrange;
        QString value;
        QString message;
        Flag keptUp;  // a running mode that the refusal must leave up (Count: none)
    };
    const Case cases[] = {
        {"power switched off", [](SimBench& b) { b.bench->onCommand(Command::PowerControl); }, "1", {},
         Flag::PowerOffCmd},
        {"not configured", [](SimBench& b) { b.bench->stopAll(); }, "1", "Please set the configuration",
         Flag::Count},
        {"a capture runs", [](SimBench& b) { b.state.link.flags.raise(Flag::SaveActive); }, "1", {},
         Flag::SaveActive},
        {"the force test streams", [](SimBench& b) { b.state.link.flags.raise(Flag::ForceActive); }, "1", {},
         Flag::ForceActive},
        {"the sin/cos test runs", [](SimBench& b) { b.state.link.flags.raise(Flag::SincosActive); }, "1", {},
         Flag::SincosActive},
        {"reading", [](SimBench& b) { b.state.link.flags.raise(Flag::ReadActive); }, "1", {}, Flag::ReadActive},
        {"value above 255", [](SimBench&) {}, "256", QString::fromUtf8("请输入一个 0 至 255 之间的整数。"),
         Flag::Count},
        {"value below 0", [](SimBench&) {}, "-1", QString::fromUtf8("请输入一个 0 至 255 之间的整数。"),
         Flag::Count},
        {"value not a number", [](SimBench&) {}, "0x10", QString::fromUtf8("请输入一个整数。"), Flag::Count},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBench b;
        prepare(b, c.value);
        c.arrange(b);
        b.settle();
        b.clearPackets();
        b.view.clearMessages();
        b.bench->onCommand(Command::WriteEeprom);
        b.settle();
        EXPECT_TRUE(b.packets().empty());
        EXPECT_FALSE(b.view.timerRunning(kTimerEeprom));
        EXPECT_FALSE(b.bench->eepromWrite().running());
        EXPECT_EQ(b.view.messages(), c.message.isEmpty() ? QStringList{} : QStringList{c.message});
        if (c.keptUp != Flag::Count) {
            EXPECT_TRUE(b.state.link.flags.isUp(c.keptUp));
        }
    }
}
