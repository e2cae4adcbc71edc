// "Force test" on the simulated box: the stream, the reader's force step, the
// dialog's attempts and top list, and the command's guards.
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// An encoder whose reading is its 17-bit position above an 8-bit status
// byte, read with a 17-bit first field: the layout the force formula takes.
void prepare(SimBench& b, int firstWidth = 17)
{
    EncoderModel& e = b.box->encoder();
    e.setResolution(17, 0, 8);
    e.setSpeedRpm(0);
    e.setStatus(0);
    e.setPositionCounts(0);
    b.chooseProtocol("BISS");
    b.type(Control::FieldWidth1, QString::number(firstWidth));
    b.type(Control::FieldWidth2, "8");
    b.type(Control::FieldWidth3, "0");
    b.type(Control::ContentCount, "2");
    ASSERT_TRUE(b.configure());
    b.clearPackets();
}

RecordingForceView& dialog(SimBench& b)
{
    return b.view.dialogs().forceView();
}

// Lets the window's timers run: timer 4 every 10 ms and, during an attempt,
// the dialog's live timer every 100 ms, until `done` or the time is up.
bool runUntil(SimBench& b, const std::function<bool()>& done, double benchMs = 2000)
{
    for (double t = 0; t < benchMs; t += 10) {
        if (b.view.timerRunning(kTimerForce))
            b.bench->onTimer(kTimerForce);
        if (dialog(b).attemptRunning() && static_cast<int>(t) % 100 == 0)
            b.bench->onForce(ForceInput::LiveTick);
        if (done())
            return true;
        benchSleep(10);
    }
    return done();
}

// One attempt: the encoder at `from` counts at "START", pushed to `to`.
void attempt(SimBench& b, std::int64_t from, std::int64_t to)
{
    runUntil(b, [] { return false; }, 20);  // timer 4 has seen the last STOP
    b.box->encoder().setPositionCounts(from);
    benchSleep(150);  // the reader takes the new position (a transfer spans ~42 ms)
    b.bench->onForce(ForceInput::StartStop);
    ASSERT_TRUE(dialog(b).attemptRunning());
    runUntil(b, [] { return false; }, 20);  // timer 4 passes the run mark on
    b.box->encoder().setPositionCounts(to);
    const QString live = QString::asprintf("%.3f", forceNewtons(to << 8, 131071) - forceNewtons(from << 8, 131071));
    EXPECT_TRUE(runUntil(b, [&] { return dialog(b).liveText() == live; })) << live.toStdString();
    b.bench->onForce(ForceInput::StartStop);
    EXPECT_FALSE(dialog(b).attemptRunning());
}

void name(SimBench& b, const QString& text, bool enter)
{
    b.bench->onForce(ForceInput::NameEdited, text);
    if (enter)
        b.bench->onForce(ForceInput::Enter);
}

}  // namespace

TEST(ForceTest, GaugeFollowsTheEncoderAndAttemptsFillTheTopList)
{
    SimBench b;
    prepare(b);
    b.bench->onCommand(Command::ForceTest);
    b.settle();
    EXPECT_EQ(b.packetLog(), (std::vector<std::string>{"6A", "7A"}));
    EXPECT_TRUE(b.view.dialogs().isDialogOpen(DialogKind::Force));
    EXPECT_EQ(b.view.timerPeriod(kTimerForce), 10);
    EXPECT_FALSE(b.view.controls().isEnabled(Control::Resolution));
    EXPECT_FALSE(b.view.controls().isEnabled(Control::PowerControl));
    EXPECT_FALSE(b.view.dialogs().mainWindowHidden());

    // The force never rises above its value at START: 0 stays out of the
    // empty list.
    name(b, "Ann", true);
    EXPECT_TRUE(dialog(b).nameConfirmed());
    b.bench->onForce(ForceInput::StartStop);
    runUntil(b, [] { return false; }, 200);
    b.bench->onForce(ForceInput::StartStop);
    EXPECT_EQ(dialog(b).recordText(), "0.000");
    EXPECT_TRUE(dialog(b).topList().isEmpty());

    // Half a turn of the 17-bit field; just past it folds back to one count.
    attempt(b, 0, 65536);
    EXPECT_EQ(dialog(b).recordText(), "5015.378");
    EXPECT_DOUBLE_EQ(dialog(b).gaugeValue(), 5015.378);
    b.bench->onForce(ForceInput::StartStop);
    runUntil(b, [] { return false; }, 20);
    b.box->encoder().setPositionCounts(131071);
    EXPECT_TRUE(runUntil(b, [&] { return dialog(b).liveText() == "-5015.302"; }));
    b.bench->onForce(ForceInput::StartStop);
    EXPECT_EQ(dialog(b).recordText(), "0.000") << "the peak is the force at START";
    EXPECT_EQ(dialog(b).topList(), QStringList{"Ann=5015.378"});

    struct Step {
        const char* what;
        const char* name;
        bool enter;
        std::int64_t from, to;
        const char* record;
        QStringList list;
    };
    const Step steps[] = {
        {"a worse result keeps Ann's best", "Ann", true, 0, 1000, "76.528", {"Ann=5015.378"}},
        {"without ENTER nothing is listed", "Bob", false, 0, 2000, "153.057", {"Ann=5015.378"}},
        {"confirmed, Bob enters below Ann", "Bob", true, 1000, 3000, "153.057", {"Ann=5015.378", "Bob=153.057"}},
        {"edited after ENTER: not listed", "Bobby", false, 0, 3000, "229.585", {"Ann=5015.378", "Bob=153.057"}},
        {"an empty confirmed name is listed", "", true, 0, 500, "38.264",
         {"Ann=5015.378", "Bob=153.057", "=38.264"}},
        {"and only once, with its best", "", true, 0, 400, "30.611", {"Ann=5015.378", "Bob=153.057", "=38.264"}},
        {"Bob's better result replaces his row", "Bob", true, 0, 65536, "5015.378",
         {"Ann=5015.378", "Bob=5015.378", "=38.264"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        name(b, s.name, s.enter);
        attempt(b, s.from, s.to);
        EXPECT_EQ(dialog(b).recordText(), s.record);
        EXPECT_EQ(dialog(b).topList(), s.list);
        const TestReport r = b.lastReport("force");
        EXPECT_EQ(QString::number(r.figures["result"].toDouble(), 'f', 3), s.record);
        EXPECT_EQ(r.figures["name"].toString(), s.enter ? s.name : "");
    }
    b.bench->onCommand(Command::ForceTest);
}

TEST(ForceTest, PressesStopAndRestartTheStreamInTheSameDialogAndCloseEndsIt)
{
    SimBench b;
    prepare(b);
    b.bench->onCommand(Command::ForceTest);
    name(b, "Ann", true);
    attempt(b, 0, 1000);
    ASSERT_EQ(dialog(b).topList(), QStringList{"Ann=76.528"});

    // Second press: the stream stops, the dialog stays open and frozen.
    b.clearPackets();
    b.bench->onCommand(Command::ForceTest);
    b.settle();
    EXPECT_EQ(b.packetLog(), std::vector<std::string>{"6A"});
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ForceActive));
    EXPECT_TRUE(b.view.dialogs().isDialogOpen(DialogKind::Force));
    EXPECT_TRUE(runUntil(b, [&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }, 500));
    EXPECT_TRUE(b.view.controls().isEnabled(Control::Resolution));
    b.box->encoder().setPositionCounts(3000);
    b.bench->onForce(ForceInput::StartStop);
    runUntil(b, [] { return false; }, 300);
    b.bench->onForce(ForceInput::StartStop);
    EXPECT_EQ(dialog(b).recordText(), "0.000") << "no new values while frozen";

    // Third press: streaming again, in the same dialog with its list.
    b.clearPackets();
    b.bench->onCommand(Command::ForceTest);
    b.settle();
    EXPECT_EQ(b.packetLog(), (std::vector<std::string>{"6A", "7A"}));
    EXPECT_EQ(b.view.dialogs().opens(DialogKind::Force), 1);
    name(b, "Bob", true);
    attempt(b, 0, 500);
    EXPECT_EQ(dialog(b).topList(), (QStringList{"Ann=76.528", "Bob=38.264"}));

    // "Back to home": within one tick of timer 4 the stream ends.
    b.clearPackets();
    b.bench->onForce(ForceInput::Close);
    EXPECT_FALSE(b.view.dialogs().isDialogOpen(DialogKind::Force));
    EXPECT_TRUE(b.state.link.flags.isUp(Flag::ForceActive));
    b.bench->onTimer(kTimerForce);
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ForceActive));
    EXPECT_FALSE(b.view.timerRunning(kTimerForce));
    // ... and the box is told so: it does not stream on behind the closed dialog.
    b.settle();
    EXPECT_EQ(b.packetLog(), std::vector<std::string>{"6A"});
    EXPECT_FALSE(b.box->state().streaming);
    EXPECT_TRUE(b.view.controls().isEnabled(Control::PowerControl));
    EXPECT_TRUE(runUntil(b, [&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }, 500));

    // The next press opens a new dialog with an empty list.
    b.bench->onCommand(Command::ForceTest);
    EXPECT_EQ(b.view.dialogs().opens(DialogKind::Force), 2);
    name(b, "Cy", true);
    attempt(b, 0, 400);
    EXPECT_EQ(dialog(b).topList(), QStringList{"Cy=30.611"});
    b.bench->onCommand(Command::ForceTest);
}

TEST(ForceTest, StopAllFreezesTheDialog)
{
    SimBench b;
    prepare(b);
    b.bench->onCommand(Command::ForceTest);
    b.bench->stopAll();
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ForceActive));
    EXPECT_FALSE(b.view.timerRunning(kTimerForce));
    EXPECT_TRUE(b.view.dialogs().isDialogOpen(DialogKind::Force));
    // A tick that was already queued finds the test ended.
    b.bench->onTimer(kTimerForce);
    EXPECT_FALSE(b.view.timerRunning(kTimerForce));
}

// An attempt cut short by stop-all ends without a result; the next press
// of "START" begins a new attempt rather than scoring the broken one.
TEST(ForceTest, StopAllDuringAnAttemptEndsItWithoutAResult)
{
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "the box removed" : "stop-all");
        SimBench b;
        prepare(b);
        b.bench->onCommand(Command::ForceTest);
        runUntil(b, [] { return false; }, 200);
        const std::uint64_t before = b.bench->outcomes().count(Operation::Force);
        b.bench->onForce(ForceInput::StartStop);
        runUntil(b, [] { return false; }, 200);
        if (unplug) {
            ASSERT_TRUE(b.bus->unplug(b.box));
            b.bus->waitForNotifications();
            runUntil(b, [&] { return b.bench->outcomes().count(Operation::Force) > before; }, 1000);
        } else {
            b.bench->stopAll();
        }
        const std::optional<Outcome> o = b.bench->outcomes().waitNext(Operation::Force, before, 1000);
        ASSERT_TRUE(o.has_value());
        EXPECT_EQ(o->ending, Ending::Stopped);
        EXPECT_FALSE(dialog(b).attemptRunning());
        b.bench->onForce(ForceInput::StartStop);
        EXPECT_TRUE(dialog(b).attemptRunning()) << "a new attempt, not the score of the broken one";
        EXPECT_EQ(b.bench->outcomes().count(Operation::Force), before + 1);
        EXPECT_TRUE(b.reports().empty() || b.reports().back().command != "force");
        // That attempt, in a dialog without a stream, measured nothing.
        b.bench->onForce(ForceInput::StartStop);
        const std::optional<Outcome> frozen = b.bench->outcomes().waitNext(Operation::Force, before + 1, 100);
        ASSERT_TRUE(frozen.has_value());
        EXPECT_EQ(frozen->ending, Ending::Verdict);
        EXPECT_FALSE(frozen->passed);
    }
}

TEST(ForceTest, RefusedStarts)
{
    const QString widthMessage = QString::fromUtf8(kForceWidthMessage);
    struct Case {
        const char* what;
        int firstWidth;
        std::function<void(SimBench&)> arrange;
        QString message;
        Flag keptUp;  // a running mode the refusal leaves up (Count: none)
    };
    const Case cases[] = {
        {"first field of 0 bits", 0, [](SimBench&) {}, widthMessage, Flag::Count},
        {"first field of 32 bits", 32, [](SimBench&) {}, widthMessage, Flag::Count},
        {"power switched off", 17, [](SimBench& b) { b.bench->onCommand(Command::PowerControl); }, {},
         Flag::PowerOffCmd},
        {"not configured", 17, [](SimBench& b) { b.bench->stopAll(); }, "Please set the configuration", Flag::Count},
        {"a capture runs", 17, [](SimBench& b) { b.state.link.flags.raise(Flag::SaveActive); }, {},
         Flag::SaveActive},
        {"the sin/cos test runs", 17, [](SimBench& b) { b.state.link.flags.raise(Flag::SincosActive); }, {},
         Flag::SincosActive},
        {"an EEPROM write runs", 17, [](SimBench& b) { b.state.link.flags.raise(Flag::EepromWriteCmd); }, {}, Flag::Count},
        {"reading", 17, [](SimBench& b) { b.state.link.flags.raise(Flag::ReadActive); }, {}, Flag::ReadActive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBench b;
        prepare(b, c.firstWidth);
        c.arrange(b);
        b.settle();
        b.clearPackets();
        b.view.clearMessages();
        b.bench->onCommand(Command::ForceTest);
        b.settle();
        EXPECT_TRUE(b.packets().empty());
        EXPECT_FALSE(b.state.link.flags.isUp(Flag::ForceActive));
        EXPECT_FALSE(b.view.timerRunning(kTimerForce));
        EXPECT_FALSE(b.view.dialogs().isDialogOpen(DialogKind::Force));
        EXPECT_EQ(b.view.messages(), c.message.isEmpty() ? QStringList{} : QStringList{c.message});
        if (c.keptUp != Flag::Count) {
            EXPECT_TRUE(b.state.link.flags.isUp(c.keptUp));
        }
    }
}

TEST(ForceTest, ReadDataDuringTheForceTestIsRefusedAndKeepsTheConfiguration)
{
    SimBench b;
    prepare(b);
    b.bench->onCommand(Command::ForceTest);
    b.settle();
    ASSERT_TRUE(b.state.link.flags.isUp(Flag::ForceActive));
    b.clearPackets();
    for (int press = 0; press < 2; ++press) {
        const std::uint64_t before = b.bench->outcomes().count(Operation::Read);
        b.bench->onCommand(Command::ReadData);
        ASSERT_EQ(b.bench->outcomes().count(Operation::Read), before + 1);
        EXPECT_EQ(b.bench->outcomes().last(Operation::Read)->ending, Ending::Refused);
    }
    b.settle();
    EXPECT_TRUE(b.packetLog().empty());
    EXPECT_TRUE(b.state.link.flags.isUp(Flag::ForceActive));
    EXPECT_TRUE(b.state.configApplied.load());
    b.bench->onCommand(Command::ForceTest);
}
