// Every operation ends with one outcome, whatever the path: refused with the
// guard's message, stopped, a box fault, or its verdict, posted only once the
// screen shows it.
#include "bench/accuracy.h"
#include "bench/capture.h"
#include "bench/eeprom_write.h"
#include "bench/number_input.h"
#include "bench/resolution.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

// Runs `start` and returns the outcome of `op` it leads to within `benchMs`.
std::optional<Outcome> outcomeOf(SimBench& b, Operation op, const std::function<void()>& start, double benchMs = 0)
{
    const std::uint64_t before = b.bench->outcomes().count(op);
    start();
    return b.bench->outcomes().waitNext(op, before, benchMs);
}

// Ticks timer `id` at its period until `op` concludes (at most `benchMs`).
std::optional<Outcome> tickUntilOutcome(SimBench& b, Operation op, int id, double benchMs)
{
    const std::uint64_t before = b.bench->outcomes().count(op);
    for (double t = 0; t < benchMs && b.bench->outcomes().count(op) == before; t += kTimerPeriodMs[id]) {
        benchSleep(kTimerPeriodMs[id]);
        if (b.view.timerRunning(id))
            b.bench->onTimer(id);
    }
    return b.bench->outcomes().waitNext(op, before, 1000);
}

}  // namespace

TEST(Outcomes, EachStartRefusedByItsGuardGivesTheMessageShown)
{
    struct Case {
        const char* what;
        bool configured;
        Operation op;
        std::function<void(Bench&)> start;
        QString message;
    };
    const Case cases[] = {
        {"eeprom unconfigured", false, Operation::Eeprom, [](Bench& b) { b.eepromWrite().start(9); },
         "Please set the configuration"},
        {"abs test unconfigured", false, Operation::AbsTest, [](Bench& b) { b.onCommand(Command::AbsTest); },
         "Please set the configuration"},
        {"resolution unconfigured", false, Operation::Resolution,
         [](Bench& b) { b.resolution().start(20000, std::nullopt); }, "Please set the configuration"},
        {"capture unconfigured", false, Operation::Capture,
         [](Bench& b) { b.capture().start({1, "/nowhere/x.doc", false}); }, "Please set the configuration"},
        {"abs test without gauge field", true, Operation::AbsTest, [](Bench& b) { b.onCommand(Command::AbsTest); },
         kMsgSetGaugeField},
        {"resolution of 200 cycles", true, Operation::Resolution,
         [](Bench& b) { b.resolution().start(200, std::nullopt); }, kMsgCycleCountTooSmall},
        {"eeprom typed 300", true, Operation::Eeprom,
         [](Bench& b) {
             b.context().showEditText(Control::EepromValue, "300");
             b.onCommand(Command::WriteEeprom);
         },
         ""},
    };
    for (const Case& c : cases) {
        SimBench b;
        if (c.configured) {
            b.chooseProtocol("RS485");
            ASSERT_TRUE(b.configure()) << c.what;
        }
        b.view.clearMessages();
        const std::size_t reports = b.reports().size();
        const std::optional<Outcome> o = outcomeOf(b, c.op, [&] { c.start(*b.bench); });
        ASSERT_TRUE(o) << c.what;
        EXPECT_EQ(o->ending, Ending::Refused) << c.what;
        ASSERT_EQ(b.view.messages().size(), 1) << c.what;
        if (!c.message.isEmpty()) {
            EXPECT_EQ(o->message, c.message) << c.what;
        }
        EXPECT_EQ(o->message, b.view.messages().first()) << c.what;
        // A refusal is no result.
        EXPECT_EQ(b.reports().size(), reports) << c.what;
    }
}

TEST(Outcomes, APressAgainOrStopAllEndsARunningOperationAsStopped)
{
    struct Case {
        const char* what;
        Operation op;
        std::function<void(SimBench&)> start, stop;
    };
    const auto press = [](Command c) { return [c](SimBench& b) { b.bench->onCommand(c); }; };
    const auto stopAll = [](SimBench& b) { b.bench->stopAll(); };
    const Case cases[] = {
        {"eeprom pressed again", Operation::Eeprom, [](SimBench& b) { b.bench->eepromWrite().start(5); },
         press(Command::WriteEeprom)},
        {"eeprom stop-all", Operation::Eeprom, [](SimBench& b) { b.bench->eepromWrite().start(5); }, stopAll},
        {"abs test pressed again", Operation::AbsTest, press(Command::AbsTest), press(Command::AbsTest)},
        {"abs test stop-all", Operation::AbsTest, press(Command::AbsTest), stopAll},
        {"resolution stop-all", Operation::Resolution,
         [](SimBench& b) { b.bench->resolution().start(1000000, std::nullopt); }, stopAll},
        {"capture stop-all", Operation::Capture,
         [](SimBench& b) { b.bench->capture().start({60, b.dataRoot.filePath("c.doc"), false}); }, stopAll},
    };
    for (const Case& c : cases) {
        SimBench b;
        b.chooseProtocol("RS485");
        ASSERT_TRUE(b.configure()) << c.what;
        b.type(Control::GaugeField, "1");
        const std::uint64_t before = b.bench->outcomes().count(c.op);
        c.start(b);
        benchSleep(600);
        EXPECT_EQ(b.bench->outcomes().count(c.op), before) << c.what << ": ended before the stop";
        const std::optional<Outcome> o = outcomeOf(b, c.op, [&] { c.stop(b); }, 1000);
        ASSERT_TRUE(o) << c.what;
        EXPECT_EQ(o->ending, Ending::Stopped) << c.what;
        b.settle();
        // Exactly one outcome per run.
        EXPECT_EQ(b.bench->outcomes().count(c.op), before + 1) << c.what;
    }
}

TEST(Outcomes, ABoxThatFallsSilentMidCaptureKeepsWhatItSent)
{
    SimBench b;
    b.chooseProtocol("RS485");
    ASSERT_TRUE(b.configure());
    const QString target = b.dataRoot.filePath("silent.doc");
    const std::optional<Outcome> o = outcomeOf(b, Operation::Capture, [&] {
        ASSERT_TRUE(b.bench->capture().start({60, target, false}));
        benchSleep(3000);
        b.box->setNoAnswer(true);
    }, kCaptureTransferLimitMs + 5000);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ending, Ending::Verdict);
    EXPECT_FALSE(o->passed);
    ASSERT_TRUE(o->as<CaptureResult>());
    EXPECT_EQ(o->as<CaptureResult>()->status, CaptureResult::Status::BoxSilent);
    EXPECT_EQ(o->message, "The capture ended because the box stopped streaming; the data up to then are kept");
    EXPECT_EQ(b.view.messages().last(), o->message);
    // Handed over as a finished capture: to the destination, never left in
    // the working file for the next capture to overwrite.
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_GT(QFileInfo(target).size(), 0);
    EXPECT_EQ(QFileInfo(target).size(), o->as<CaptureResult>()->bytes);
    EXPECT_FALSE(QFileInfo::exists(Capture::captureDirectory() + "/num.txt"));
}

TEST(Outcomes, TheVerdictIsPostedOnlyOnceTheScreenShowsIt)
{
    for (EepromBehaviour behaviour : {EepromBehaviour::Store, EepromBehaviour::Ignore}) {
        SimBench b;
        b.box->encoder().setEepromBehaviour(behaviour);
        b.chooseProtocol("RS485");
        ASSERT_TRUE(b.configure());
        // What the screen shows at the moment the outcome is posted.
        LampImage lamp = LampImage::Unlit;
        QString caption;
        b.bench->outcomes().addListener([&](const Outcome& o) {
            if (o.operation != Operation::Eeprom)
                return;
            lamp = b.view.controls().lamp(Control::EepromLamp);
            caption = b.view.controls().text(Control::WriteEeprom);
        });
        b.bench->eepromWrite().start(201);
        const std::optional<Outcome> o = tickUntilOutcome(b, Operation::Eeprom, kTimerEeprom, 10000);
        ASSERT_TRUE(o);
        const bool stores = behaviour == EepromBehaviour::Store;
        EXPECT_EQ(o->ending, Ending::Verdict);
        EXPECT_EQ(o->passed, stores);
        ASSERT_TRUE(o->as<EepromResult>());
        EXPECT_EQ(o->as<EepromResult>()->value, 201);
        EXPECT_EQ(lamp, stores ? LampImage::Passed : LampImage::Lit);
        EXPECT_EQ(caption, "Write eepprom");
        ASSERT_EQ(b.reports().size(), 2u);  // the configuration's and this one
        EXPECT_EQ(b.reports().back().command, "eeprom");
        EXPECT_EQ(b.reports().back().passed, stores);
    }
}

TEST(Operations, EveryCommandTimerAndOutcomeHasExactlyOneOwner)
{
    SimBench b;
    const OperationRegistry& r = b.bench->operations();
    std::map<Command, int> commands;
    std::map<int, int> timers;
    std::map<Operation, int> outcomes;
    for (const OperationDecl& d : r.operations()) {
        EXPECT_TRUE(d.onCommand) << d.name;
        for (Command c : d.commands)
            ++commands[c];
        for (const OperationDecl::Timer& t : d.timers) {
            ++timers[t.id];
            EXPECT_TRUE(t.tick && t.running) << d.name;
        }
        if (d.outcome)
            ++outcomes[*d.outcome];
    }
    for (int c = 0; c <= static_cast<int>(Command::ForceTest); ++c)
        EXPECT_EQ(commands[static_cast<Command>(c)], 1) << "command " << c;
    for (int id = 0; id < kTimerCount; ++id)
        EXPECT_EQ(timers[id], 1) << "timer " << id;
    for (int op = 0; op < kOperationCount; ++op)
        EXPECT_EQ(outcomes[static_cast<Operation>(op)], 1) << operationName(static_cast<Operation>(op)).toStdString();
    // The modes only an operation knows are its own.
    EXPECT_TRUE(r.busyProbe(Busy::AbsTest));
    EXPECT_TRUE(r.busyProbe(Busy::Eeprom));
    EXPECT_FALSE(r.busyProbe(Busy::Reading));
}

TEST(Outcomes, TheAccuracyAndResolutionTestsWaitForTheEepromWrite)
{
    // The write's power cycle would cut their stream and its end lowers
    // their flags: both are refused while it runs, and start after it.
    SimBench b;
    b.chooseProtocol("RS485");
    ASSERT_TRUE(b.configure());
    b.type(Control::GaugeField, "1");
    b.bench->eepromWrite().start(7);
    ASSERT_TRUE(b.bench->eepromWrite().running());
    const std::optional<Outcome> abs =
        outcomeOf(b, Operation::AbsTest, [&] { b.bench->onCommand(Command::AbsTest); });
    ASSERT_TRUE(abs);
    EXPECT_EQ(abs->ending, Ending::Refused);
    EXPECT_FALSE(b.bench->accuracy().running());
    const std::optional<Outcome> res =
        outcomeOf(b, Operation::Resolution, [&] { b.bench->resolution().start(20000, std::nullopt); });
    ASSERT_TRUE(res);
    EXPECT_EQ(res->ending, Ending::Refused);
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::ResolutionActive));

    ASSERT_TRUE(tickUntilOutcome(b, Operation::Eeprom, kTimerEeprom, 10000));
    b.settle();
    const std::uint64_t before = b.bench->outcomes().count(Operation::AbsTest);
    b.bench->onCommand(Command::AbsTest);
    EXPECT_TRUE(b.bench->accuracy().running());
    EXPECT_EQ(b.bench->outcomes().count(Operation::AbsTest), before);
    b.bench->stopAll();
}

TEST(Outcomes, TheEepromPressReportsAnInvalidEditElsewhere)
{
    SimBench b;
    b.chooseProtocol("RS485");
    ASSERT_TRUE(b.configure());
    b.type(Control::TruncateBits, "99");
    b.view.clearMessages();
    const std::optional<Outcome> o = outcomeOf(b, Operation::Eeprom, [&] { b.bench->onCommand(Command::WriteEeprom); });
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ending, Ending::Refused);
    EXPECT_EQ(o->message, kMsgRangeTemplate.arg(0).arg(64));
    EXPECT_EQ(b.view.messages(), QStringList{o->message});
    EXPECT_FALSE(b.bench->eepromWrite().running());
}

TEST(Outcomes, AResolutionOverAStreamThatLostBlocksIsNoPass)
{
    SimBench b;
    b.chooseProtocol("BISS");
    ASSERT_TRUE(b.configure());
    b.view.clearMessages();
    const std::optional<Outcome> o = outcomeOf(b, Operation::Resolution, [&] {
        b.bench->resolution().start(50000, std::nullopt);
        benchSleep(300);  // in the middle of the transfer's stream
        b.box->dropBlockSync(1);
    }, 30000);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ending, Ending::Verdict);
    EXPECT_FALSE(o->passed);
    ASSERT_TRUE(o->as<ResolutionResult>());
    EXPECT_FALSE(o->as<ResolutionResult>()->complete);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgResolutionIncomplete.arg(o->as<ResolutionResult>()->records)});
    EXPECT_EQ(o->figures()["complete"], false);
}
