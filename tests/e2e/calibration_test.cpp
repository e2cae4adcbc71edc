// "Encoder's calibration" against the simulated box: the opening, access,
// the combos' parameter, each step's packets in order and its indicator,
// failure codes, silence, and closing or stop-all in the middle of a step.
#include "bench/encoder_calibration.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Log = std::vector<std::string>;
using Q = CalRequest;
using R = CalResult;
using C = CalControl;

// Waits up to `benchMs` for `done`.
class Cal {
public:
    explicit Cal(CalEncoderKind kind = CalEncoderKind::CoarseFine)
    {
        b.box->calibration().setKind(kind);
        b.bench->onCommand(Command::EncoderCalibration);
        b.settle();
        b.clearPackets();
    }
    const CalibrationEngine& engine() const { return b.bench->calibration().engine(); }
    FakeCalibrationView& dialog() { return b.view.dialogs().calibrationView(); }
    CalibrationFirmware& firmware() { return b.box->calibration(); }

    void grant()
    {
        b.bench->onCalibrationButton(C::Access);
        b.bench->onCalibrationAccessCode("482", false);
        b.bench->onCalibrationDisplayTick();
    }
    void press(C button) { b.bench->onCalibrationButton(button); }
    void display() { b.bench->onCalibrationDisplayTick(); }
    // One timer-3 tick; the packets it sent, the configuration packet as "CFG".
    Log tick()
    {
        b.clearPackets();
        b.bench->onTimer(kTimerCalibration);
        b.settle();
        Log log = b.packetLog();
        for (std::string& p : log) {
            if (p.rfind("3A3A", 0) == 0)
                p = "CFG";
        }
        return log;
    }
    bool raised(R r) const { return waitFor([&] { return engine().resultRaised(r); }); }
    bool requested(Q q) const { return waitFor([&] { return engine().requested(q); }); }

    // The two-acknowledgement start of encoder 1, tick by tick.
    void start()
    {
        const Log startPackets{"4A", "CFG", "0D", "16", "1D"};
        const Log configWrite{"393904040404", "3D"};
        press(C::Start);
        EXPECT_EQ(tick(), startPackets);
        ASSERT_TRUE(requested(Q::ConfigWrite));
        EXPECT_EQ(tick(), configWrite);
        ASSERT_TRUE(requested(Q::Restart));
        EXPECT_EQ(tick(), startPackets);
        ASSERT_TRUE(requested(Q::ConfigWrite));
        EXPECT_EQ(tick(), configWrite);
        ASSERT_TRUE(raised(R::StartOk));
        display();
    }
    void wake()
    {
        press(C::Wake);
        EXPECT_EQ(tick(), (Log{"2C", "CFG", "6A", "16", "2D", "1D", "4A"}));
        ASSERT_TRUE(raised(R::WakeOk));
        display();
    }

    SimBench b;
};

}  // namespace

TEST(Calibration, OpensAfterStoppingAndHidesTheMainWindow)
{
    SimBench b;
    b.bench->onCommand(Command::EncoderCalibration);
    b.settle();
    EXPECT_EQ(b.packetLog(), (Log{"6A", "4A"}));
    EXPECT_TRUE(b.view.dialogs().isDialogOpen(DialogKind::Calibration));
    EXPECT_TRUE(b.view.dialogs().mainWindowHidden());
    EXPECT_TRUE(b.view.timerRunning(kTimerCalibration));
    EXPECT_EQ(b.view.timerPeriod(kTimerCalibration), 450);
    EXPECT_EQ(b.bench->calibration().calibParam(), 4);
    FakeCalibrationView& d = b.view.dialogs().calibrationView();
    for (C c : {C::Start, C::Wake, C::CoarseEcc, C::FineAdc, C::CoarseAdc, C::FineRadius, C::Zero1, C::AirCal,
                C::Zero2, C::B1B2, C::Info2})
        EXPECT_FALSE(d.isEnabled(c)) << static_cast<int>(c);
    for (C c : {C::Access, C::Info1, C::Home, C::Direction, C::PolePairs, C::Carrier})
        EXPECT_TRUE(d.isEnabled(c)) << static_cast<int>(c);
    EXPECT_EQ(d.text(C::Start), "启动校准");
}

TEST(Calibration, OpeningGuards)
{
    SimBench off;
    off.bench->onCommand(Command::PowerControl);
    off.settle();
    off.view.clearMessages();
    off.bench->onCommand(Command::EncoderCalibration);
    EXPECT_EQ(off.view.messages(), QStringList{kMsgPowerOn});
    EXPECT_FALSE(off.view.dialogs().isDialogOpen(DialogKind::Calibration));

    SimBench noBox({.withBox = false});
    noBox.bench->onCommand(Command::EncoderCalibration);
    EXPECT_EQ(noBox.view.messages(), QStringList{kMsgReconnectUsb});
    EXPECT_FALSE(noBox.view.dialogs().isDialogOpen(DialogKind::Calibration));
    EXPECT_FALSE(noBox.view.timerRunning(kTimerCalibration));
}

TEST(Calibration, AccessCode)
{
    struct Case {
        QString typed;
        bool enterKey;
        bool granted;
        QStringList messages;
    };
    const Case cases[] = {
        {"482", false, true, {}},
        {"482", true, true, {}},
        {"482 ", false, false, {"密码输入错误"}},
        {"483", true, false, {"密码输入错误"}},
        {"", false, false, {"密码不能为空"}},
        {"", true, false, {"密码不能为空"}},
    };
    for (const Case& c : cases) {
        Cal cal;
        cal.press(C::Access);
        EXPECT_TRUE(cal.b.view.dialogs().isDialogOpen(DialogKind::CalibrationAccess));
        cal.b.bench->onCalibrationAccessCode(c.typed, c.enterKey);
        cal.display();
        EXPECT_EQ(cal.b.view.messages(), c.messages) << qPrintable(c.typed);
        EXPECT_EQ(cal.dialog().isEnabled(C::Start), c.granted) << qPrintable(c.typed);
        EXPECT_EQ(cal.dialog().isEnabled(C::Wake), c.granted) << qPrintable(c.typed);
        EXPECT_EQ(cal.dialog().indicator(C::AccessLamp), c.granted ? CalIndicator::Success : CalIndicator::Idle);
        EXPECT_EQ(cal.b.view.dialogs().isDialogOpen(DialogKind::CalibrationAccess), !c.granted);
    }

    // Enter counts only while access is being asked for; a second press of
    // "校准权限" locks both encoders' first steps again.
    Cal cal;
    cal.b.bench->onCalibrationAccessCode("482", true);
    cal.display();
    EXPECT_FALSE(cal.dialog().isEnabled(C::Start));
    cal.grant();
    ASSERT_TRUE(cal.dialog().isEnabled(C::Start));
    cal.press(C::Access);
    EXPECT_FALSE(cal.dialog().isEnabled(C::Start));
    EXPECT_FALSE(cal.dialog().isEnabled(C::Wake));
    EXPECT_EQ(cal.dialog().indicator(C::AccessLamp), CalIndicator::Idle);
}

TEST(Calibration, CombosSetTheParameterByte)
{
    struct Case {
        int direction, polePairs, carrier;
        int param;
    };
    const Case cases[] = {
        {0, 0, 0, 4},
        {1, 8, 0, 204},  // "    N", "  十对极", "    25K"
        {0, 7, 0, 68},   // "  八对极": code 8
        {0, 9, 1, 80},   // "  十六对极": code 10, "    31.25k"
        {1, 9, 1, 208},
    };
    Cal cal;
    for (const Case& c : cases) {
        cal.b.bench->onCalibrationCombo(C::Direction, c.direction);
        cal.b.bench->onCalibrationCombo(C::PolePairs, c.polePairs);
        cal.b.bench->onCalibrationCombo(C::Carrier, c.carrier);
        EXPECT_EQ(cal.b.bench->calibration().calibParam(), c.param);
    }
    // The configuration write carries it.
    cal.grant();
    cal.press(C::Start);
    cal.tick();
    ASSERT_TRUE(cal.requested(Q::ConfigWrite));
    EXPECT_EQ(cal.tick(), (Log{"3939D0D0D0D0", "3D"}));
    EXPECT_EQ(cal.firmware().lastCalibParam(), 208);
}

TEST(Calibration, StartComesBackAtTheSixthDisplayTickWhateverTheAnswer)
{
    Cal cal;
    cal.b.box->setNoAnswer(true);
    cal.grant();
    cal.press(C::Start);
    EXPECT_FALSE(cal.dialog().isEnabled(C::Start));
    for (int i = 1; i <= 5; ++i) {
        cal.display();
        EXPECT_FALSE(cal.dialog().isEnabled(C::Start)) << i;
    }
    cal.display();
    EXPECT_TRUE(cal.dialog().isEnabled(C::Start));
}

TEST(Calibration, Encoder1FullCalibration)
{
    Cal cal;
    cal.grant();
    cal.start();
    FakeCalibrationView& d = cal.dialog();
    EXPECT_EQ(d.indicator(C::StartLamp), CalIndicator::Success);
    for (C c : {C::CoarseEcc, C::FineAdc, C::CoarseAdc, C::FineRadius, C::Zero1})
        EXPECT_TRUE(d.isEnabled(c));
    for (C c : {C::Direction, C::PolePairs, C::Carrier})
        EXPECT_FALSE(d.isEnabled(c));

    struct Step {
        C button;
        std::string packet;
        R result;
        C lamp;
    };
    const Step steps[] = {
        {C::CoarseEcc, "3B", R::CoarseEccOk, C::CoarseEccLamp},
        {C::FineAdc, "1A", R::FineAdcOk, C::FineAdcLamp},
        {C::CoarseAdc, "2A", R::CoarseAdcOk, C::CoarseAdcLamp},
        {C::FineRadius, "2B", R::FineRadiusOk, C::FineRadiusLamp},
        {C::Zero1, "1C", R::Zero1Ok, C::Zero1Lamp},
    };
    for (const Step& s : steps) {
        cal.press(s.button);
        EXPECT_EQ(cal.tick(), (Log{"16", s.packet})) << s.packet;
        ASSERT_TRUE(cal.raised(s.result)) << s.packet;
        cal.display();
        EXPECT_EQ(d.indicator(s.lamp), CalIndicator::Success) << s.packet;
    }
    // Zero alignment gives the combos back.
    EXPECT_TRUE(d.isEnabled(C::Direction));

    cal.press(C::Info1);
    EXPECT_FALSE(d.isEnabled(C::Info1));
    EXPECT_EQ(cal.tick(), (Log{"0D", "16", "15"}));
    ASSERT_TRUE(cal.raised(R::Info1Ready));
    cal.display();
    EXPECT_TRUE(d.isEnabled(C::Info1));
    EXPECT_EQ(d.text(C::Info1CoarseZero), "123456   ");
    EXPECT_EQ(d.text(C::Info1CoarseCos), "-860   ");
    EXPECT_EQ(d.text(C::Info1FineRadius), "2000   ");
    EXPECT_EQ(d.text(C::Info1Temperature), "    25");
    EXPECT_EQ(d.text(C::Info1EccentricitySin), "0.60   ");
    EXPECT_EQ(d.text(C::Info1FirmwareCode), "014315A4");
    EXPECT_EQ(d.text(C::Info1FirmwareText), "版本号:20；四倍频补偿；最高转速:3500RPM；协议:RS485；单圈:20；多圈:14");
    EXPECT_EQ(d.text(C::Info1FineAdc), "2050   ");
    // Every step is a result of its own, in the order they ended.
    QStringList reported;
    for (const TestReport& r : cal.b.reports())
        if (r.command == "calibration")
            reported << r.figures["step"].toString() + (r.passed ? "" : "!");
    EXPECT_EQ(reported, (QStringList{"start", "coarse-eccentricity", "fine-adc", "coarse-adc", "fine-radius",
                                  "zero-1", "info-1"}));
    EXPECT_EQ(cal.b.lastReport("calibration").figures["fields"][0].toString(), "123456   ");
    EXPECT_FALSE(cal.engine().awaitingReply());
    EXPECT_TRUE(waitFor([&] { return !cal.b.bench->calibration().readerRunning(); }, 200));
}

TEST(Calibration, Encoder1RecordWithRadiusZeroShowsADash)
{
    Cal cal;
    Encoder1Stored s;
    s.fineRadiusSquare = 0;
    cal.firmware().setStored1(s);
    cal.press(C::Info1);
    cal.tick();
    ASSERT_TRUE(cal.raised(R::Info1Ready));
    cal.display();
    EXPECT_EQ(cal.dialog().text(C::Info1FineRadius), "0   ");
    EXPECT_EQ(cal.dialog().text(C::Info1EccentricitySin), QString::fromLatin1(kNoEccentricityText));
    EXPECT_EQ(cal.dialog().text(C::Info1EccentricityCos), QString::fromLatin1(kNoEccentricityText));
}

TEST(Calibration, Encoder2FullCalibration)
{
    Cal cal(CalEncoderKind::Waking);
    cal.grant();
    cal.wake();
    FakeCalibrationView& d = cal.dialog();
    EXPECT_EQ(d.indicator(C::WakeLamp), CalIndicator::Success);
    for (C c : {C::Zero2, C::AirCal, C::B1B2, C::Info2})
        EXPECT_TRUE(d.isEnabled(c));
    // The second stage answers once the operator has turned the shaft.
    ASSERT_TRUE(cal.raised(R::Wake2Ok));
    cal.display();
    EXPECT_EQ(d.indicator(C::Wake2Lamp), CalIndicator::Success);

    cal.press(C::AirCal);
    EXPECT_EQ(cal.tick(), (Log{"49"}));
    ASSERT_TRUE(cal.requested(Q::AirP));
    EXPECT_EQ(cal.tick(), (Log{"50"}));
    ASSERT_TRUE(cal.raised(R::AirOk));

    cal.press(C::Zero2);
    EXPECT_EQ(cal.tick(), (Log{"3B"}));
    ASSERT_TRUE(cal.raised(R::Zero2Ok));

    cal.press(C::B1B2);
    EXPECT_EQ(cal.tick(), (Log{"2A"}));
    ASSERT_TRUE(cal.raised(R::B1Ok));
    // The B1 reply ends the step: no second wait holds the reader, and the
    // box's B2 that follows is taken by no one.
    EXPECT_TRUE(waitFor([&] { return !cal.b.bench->calibration().readerRunning(); }, 1000));
    EXPECT_FALSE(cal.engine().resultRaised(R::B2Ok));
    cal.display();
    for (C lamp : {C::AirCalLamp, C::Zero2Lamp, C::B1Lamp})
        EXPECT_EQ(d.indicator(lamp), CalIndicator::Success) << static_cast<int>(lamp);
    EXPECT_EQ(d.indicator(C::B2Lamp), CalIndicator::Idle);

    cal.press(C::Info2);
    EXPECT_EQ(cal.tick(), (Log{"16", "15"}));
    ASSERT_TRUE(cal.raised(R::Info2Ready));
    cal.display();
    EXPECT_EQ(d.text(C::Info2CoarseSin), "-2   ");
    EXPECT_EQ(d.text(C::Info2B1Angle), "90.000   ");
    EXPECT_EQ(d.text(C::Info2B2Angle), "270.000   ");
    EXPECT_EQ(d.text(C::Info2Serial), "20160601   ");
    EXPECT_FALSE(cal.b.state.link.flags.isUp(Flag::CalPCmd));
}

TEST(Calibration, FailureCodesShowTheFailureIndicator)
{
    struct Case {
        CalEncoderKind kind;
        CalFirmwareStep fails;
        C button;
        std::string packet;
        R failure;
        C lamp;
    };
    const Case cases[] = {
        {CalEncoderKind::CoarseFine, CalFirmwareStep::FineAdc, C::FineAdc, "1A", R::FineAdcFailed, C::FineAdcLamp},
        {CalEncoderKind::CoarseFine, CalFirmwareStep::CoarseAdc, C::CoarseAdc, "2A", R::CoarseAdcFailed, C::CoarseAdcLamp},
        {CalEncoderKind::CoarseFine, CalFirmwareStep::FineRadius, C::FineRadius, "2B", R::FineRadiusFailed,
         C::FineRadiusLamp},
        {CalEncoderKind::Waking, CalFirmwareStep::ZeroAlign2, C::Zero2, "3B", R::Zero2Failed, C::Zero2Lamp},
        {CalEncoderKind::Waking, CalFirmwareStep::B1, C::B1B2, "2A", R::B1Failed, C::B1Lamp},
    };
    for (const Case& c : cases) {
        Cal cal(c.kind);
        cal.grant();
        if (c.kind == CalEncoderKind::CoarseFine)
            cal.start();
        else
            cal.wake();
        ASSERT_TRUE(cal.firmware().setOutcome(c.fails, CalOutcome::Fail));
        cal.press(c.button);
        const Log log = cal.tick();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.packet);
        ASSERT_TRUE(cal.raised(c.failure)) << c.packet;
        cal.display();
        EXPECT_EQ(cal.dialog().indicator(c.lamp), CalIndicator::Failure) << c.packet;
        if (c.fails == CalFirmwareStep::FineRadius) {
            // 0x22 raises both results and the step keeps waiting.
            EXPECT_TRUE(cal.engine().waiting(CalWait::FineRadius));
            EXPECT_TRUE(cal.b.bench->calibration().readerRunning());
        }
    }
}

TEST(Calibration, SilenceTimesOutIntoTheFailureIndicator)
{
    Cal cal;
    cal.grant();
    cal.start();
    ASSERT_TRUE(cal.firmware().setOutcome(CalFirmwareStep::FineAdc, CalOutcome::Silent));
    cal.press(C::FineAdc);
    cal.tick();
    EXPECT_TRUE(cal.engine().waiting(CalWait::FineAdc));
    EXPECT_TRUE(cal.b.bench->calibration().readerRunning());
    // Nothing comes; the reply time-out is five seconds. Box and bench
    // share the clock, so the whole bench may run faster while it waits.
    const bool timedOut = waitFor([&] { return cal.engine().resultRaised(R::FineAdcFailed); }, 6000);
    ASSERT_TRUE(timedOut);
    EXPECT_FALSE(cal.engine().awaitingReply());
    EXPECT_TRUE(waitFor([&] { return !cal.b.bench->calibration().readerRunning(); }, 200));
    cal.display();
    EXPECT_EQ(cal.dialog().indicator(C::FineAdcLamp), CalIndicator::Failure);
}

TEST(Calibration, ClosingMidStepLeavesNoReaderAndNoRaisedFlag)
{
    Cal cal(CalEncoderKind::Waking);
    cal.grant();
    cal.wake();
    // The second wake stage waits for the operator's turns: a reader is pending.
    ASSERT_TRUE(cal.engine().waiting(CalWait::Wake2));
    ASSERT_TRUE(cal.b.bench->calibration().readerRunning());
    cal.press(C::Home);
    EXPECT_FALSE(cal.b.view.dialogs().isDialogOpen(DialogKind::Calibration));
    EXPECT_FALSE(cal.engine().awaitingReply());
    EXPECT_TRUE(waitFor([&] { return !cal.b.bench->calibration().readerRunning(); }, 100));

    // Every tick until stop-all sends 0x16 and shows the main window.
    const int shown = cal.b.view.dialogs().showMainWindowCalls();
    EXPECT_EQ(cal.tick(), (Log{"16"}));
    EXPECT_EQ(cal.tick(), (Log{"16"}));
    EXPECT_EQ(cal.b.view.dialogs().showMainWindowCalls(), shown + 2);
    EXPECT_FALSE(cal.b.view.dialogs().mainWindowHidden());
    cal.b.bench->stopAll();
    EXPECT_FALSE(cal.b.view.timerRunning(kTimerCalibration));
    EXPECT_TRUE(cal.tick().empty());
}

TEST(Calibration, APendingPDiesWithTheClose)
{
    Cal cal(CalEncoderKind::Waking);
    cal.grant();
    cal.wake();
    cal.press(C::AirCal);
    EXPECT_EQ(cal.tick(), (Log{"49"}));
    ASSERT_TRUE(cal.requested(Q::AirP));
    cal.press(C::Home);
    EXPECT_FALSE(cal.engine().requested(Q::AirP));
    const Log log = cal.tick();
    EXPECT_EQ(log, (Log{"16"}));
    EXPECT_FALSE(cal.b.state.link.flags.isUp(Flag::CalPCmd));
}

TEST(Calibration, StopAllMidStepCancelsTheReaderAndGivesTheMainWindowBack)
{
    Cal cal;
    cal.grant();
    cal.start();
    ASSERT_TRUE(cal.firmware().setOutcome(CalFirmwareStep::CoarseAdc, CalOutcome::Silent));
    cal.press(C::CoarseAdc);
    cal.tick();
    ASSERT_TRUE(cal.b.bench->calibration().readerRunning());
    cal.b.bench->stopAll();
    EXPECT_FALSE(cal.engine().awaitingReply());
    EXPECT_TRUE(waitFor([&] { return !cal.b.bench->calibration().readerRunning(); }, 100));
    EXPECT_FALSE(cal.b.view.timerRunning(kTimerCalibration));
    // The dialog notices at its next display tick.
    EXPECT_TRUE(cal.b.view.dialogs().isDialogOpen(DialogKind::Calibration));
    cal.display();
    EXPECT_FALSE(cal.b.view.dialogs().isDialogOpen(DialogKind::Calibration));
    EXPECT_FALSE(cal.b.view.dialogs().mainWindowHidden());
}
