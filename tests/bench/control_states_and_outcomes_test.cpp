// The control-state model the bench writes and the window mirrors, and the
// board on which operations post their outcomes.
#include "bench/control_states.h"
#include "bench/outcome_board.h"
#include "common/clock.h"
#include "support/test_clock.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <atomic>
#include <set>
#include <thread>

TEST(ControlStates, ListsFollowTheirEntriesAndOtherControlsStartEmpty)
{
    ControlStates m;
    EXPECT_EQ(m.currentIndex(Control::DisplayBase), 0);
    EXPECT_EQ(m.text(Control::DisplayBase), "Binary");
    EXPECT_EQ(m.text(Control::Protocols), "BISS");
    EXPECT_EQ(m.currentIndex(Control::ReadData), -1);
    EXPECT_TRUE(m.isEnabled(Control::ReadData));
    EXPECT_TRUE(m.isVisible(Control::ReadData));
    EXPECT_EQ(m.lamp(Control::AbsLamp), LampImage::Unlit);

    struct Case {
        const char* what;
        std::function<void(ControlStates&)> write;
        int index;
        QString text;
    };
    const Case cases[] = {
        {"index", [](ControlStates& s) { s.setCurrentIndex(Control::DisplayBase, 2); }, 2, "Hex"},
        {"text of an entry", [](ControlStates& s) { s.setText(Control::DisplayBase, "Decimal"); }, 1, "Decimal"},
        {"text of no entry", [](ControlStates& s) { s.setText(Control::DisplayBase, "Octal"); }, -1, ""},
        {"index past the end", [](ControlStates& s) { s.setCurrentIndex(Control::DisplayBase, 3); }, 3, ""},
    };
    for (const Case& c : cases) {
        c.write(m);
        EXPECT_EQ(m.currentIndex(Control::DisplayBase), c.index) << c.what;
        EXPECT_EQ(m.text(Control::DisplayBase), c.text) << c.what;
    }
}

TEST(ControlStates, ChangesComeOncePerControlInOrderWithOneNoticePerBurst)
{
    ControlStates m;
    int notices = 0;
    std::vector<std::pair<Control, QString>> seen;
    m.setChangeNotice([&] { ++notices; });
    m.setObserver([&](Control c, const ControlState& s) { seen.emplace_back(c, s.text); });

    m.setText(Control::ReadData, "Stop");
    m.setEnabled(Control::AbsTest, false);
    m.setText(Control::ReadData, "Read data");
    m.setLamp(Control::ReadData, LampImage::Lit);
    EXPECT_EQ(notices, 1);
    std::vector<ControlChange> changes = m.takeChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].control, Control::ReadData);
    EXPECT_EQ(changes[0].fields, kFieldText | kFieldIndex | kFieldLamp);
    EXPECT_EQ(changes[1].control, Control::AbsTest);
    EXPECT_EQ(changes[1].fields, kFieldEnabled);
    EXPECT_TRUE(m.takeChanges().empty());
    // Every write reached the observer with the state after it.
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].second, "Read data");

    m.setGaugeHighlight(3);
    EXPECT_EQ(notices, 2);
    EXPECT_EQ(m.gaugeHighlight(), 3);
    m.setGaugeHighlight(7);
    EXPECT_EQ(m.gaugeHighlight(), 7);
    EXPECT_FALSE(m.state(fieldWidthControl(3)).highlighted);
    m.setGaugeHighlight(0);
    EXPECT_EQ(m.gaugeHighlight(), 0);
    // A redraw of the same value is still a redraw.
    m.setGaugeValue(12.5);
    m.setGaugeValue(12.5);
    EXPECT_EQ(m.gaugeRedraws(), 2u);
    EXPECT_EQ(m.gaugeValue(), 12.5);
}

TEST(ControlStates, WritersOnManyThreadsLoseNoChange)
{
    // Four writers while the window's side takes changes: each control is
    // reported changed after its last write, and holds that write.
    ControlStates m;
    constexpr int kWrites = 2000;
    std::atomic<int> notices{0};
    m.setChangeNotice([&] { ++notices; });
    std::atomic<bool> done{false};
    std::set<Control> reported;
    std::thread taker([&] {
        while (!done.load())
            for (const ControlChange& c : m.takeChanges())
                reported.insert(c.control);
    });
    std::vector<std::thread> writers;
    for (int t = 1; t <= 4; ++t)
        writers.emplace_back([&m, t] {
            for (int i = 1; i <= kWrites; ++i)
                m.setProgress(fieldValueControl(t), i);
        });
    for (std::thread& w : writers)
        w.join();
    done = true;
    taker.join();
    for (const ControlChange& c : m.takeChanges())
        reported.insert(c.control);
    for (int t = 1; t <= 4; ++t) {
        EXPECT_EQ(m.progress(fieldValueControl(t)), kWrites);
        EXPECT_TRUE(reported.count(fieldValueControl(t)));
    }
    EXPECT_GE(notices.load(), 1);
    EXPECT_LE(notices.load(), 4 * kWrites);
}

TEST(OutcomeBoard, AWaiterGetsTheOutcomeAfterTheOneItCountedOrNoneAtItsDeadline)
{
    OutcomeBoard board;
    QStringList heard;
    board.addListener([&](const Outcome& o) { heard << operationName(o.operation); });
    board.post(Outcome::verdict(Operation::Eeprom, true, EepromResult{7, true}));
    const std::uint64_t before = board.count(Operation::Eeprom);
    EXPECT_EQ(before, 1u);

    Clock& clock = benchClock();
    const std::int64_t t0 = clock.nowMicros();
    ClockThread poster(clock, [&] {
        clock.sleepFor(250);
        board.post(Outcome::refused(Operation::AbsTest, "Please set the gauge field of the angle"));
        clock.sleepFor(250);
        board.post(Outcome::stopped(Operation::Eeprom));
    });
    // Another operation's outcome does not end the wait.
    const std::optional<Outcome> o = board.waitNext(Operation::Eeprom, before, 1000);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ending, Ending::Stopped);
    EXPECT_EQ(clock.nowMicros() - t0, 500'000);
    poster.join();
    EXPECT_EQ(heard, (QStringList{"eeprom", "abs-test", "eeprom"}));
    EXPECT_EQ(board.last(Operation::AbsTest)->message, "Please set the gauge field of the angle");

    const std::int64_t t1 = clock.nowMicros();
    EXPECT_FALSE(board.waitNext(Operation::Eeprom, 2, 300));
    EXPECT_EQ(clock.nowMicros() - t1, 300'000);
}

TEST(Outcome, FiguresAreWhatTheResultsStoreKeeps)
{
    struct Case {
        Outcome outcome;
        const char* json;
    };
    ReadResult read;
    read.values = 3;
    read.lastRaw = 77;
    read.fields = {1, 2};
    read.angle = 90.5;
    CaptureResult ok;
    ok.file = "/t/cap.doc";
    ok.bytes = 40960;
    CaptureResult broken;
    broken.status = CaptureResult::Status::TransmissionError;
    broken.bytes = 1024;
    broken.ackStatus = 1;
    const Case cases[] = {
        {Outcome::verdict(Operation::Configure, true, ConfigureResult{true}), R"({"configured":true})"},
        {Outcome::verdict(Operation::Eeprom, false, EepromResult{201, false}), R"({"value":201,"verified":false})"},
        {Outcome::verdict(Operation::AbsTest, false, AccuracyResult{AccuracyVerdict::Errors, {180.5}, 400, {}}),
         R"({"errors":[180.5],"travel":400,"verdict":"errors"})"},
        {Outcome::verdict(Operation::Resolution, true, ResolutionResult{131071, 160000, 2, 20000, true, {}}),
         R"({"bytes":160000,"complete":true,"records":20000,"truncate":2,"value":131071})"},
        {Outcome::verdict(Operation::Read, true, read),
         R"({"end":"stopped","last":{"angle":90.5,"fields":[1,2],"raw":77},"values":3})"},
        {Outcome::verdict(Operation::Capture, true, ok), R"({"bytes":40960,"decimal":false,"file":"/t/cap.doc","status":"ok"})"},
        {Outcome::verdict(Operation::Capture, false, broken),
         R"({"ack":1,"bytes":1024,"file":null,"status":"transmission-error"})"},
        {Outcome::verdict(Operation::Calibration, true, CalibrationStepResult{"info-2", true, {"a", "b"}}),
         R"({"fields":["a","b"],"step":"info-2"})"},
        {Outcome::verdict(Operation::Force, true, ForceResult{40.5, 1.5, "Ana"}),
         R"({"baseline":1.5,"name":"Ana","result":40.5})"},
        {Outcome::refused(Operation::Resolution, "Please set the cycle count to 10000 or more"), "{}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QJsonDocument(c.outcome.figures()).toJson(QJsonDocument::Compact), QByteArray(c.json))
            << operationName(c.outcome.operation).toStdString();
}
