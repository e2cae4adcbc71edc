#include "bench/encoder_calibration.h"

#include "bench/guards.h"
#include "bench/timers.h"
#include "calibration/cal_access.h"
#include "common/clock.h"
#include "common/logging.h"
#include "link/bounded_read.h"

#include <QJsonArray>

#include <vector>

namespace {

using R = CalResult;
using Q = CalRequest;

// A reply transfer is re-issued after this long, so that time-outs and the
// dialog's close are looked at between transfers.
constexpr double kReplyReadLimitMs = 250;
constexpr double kReplyReadSliceMs = 10;

// Display ticks after a press until the information buttons and "启动校准"
// come back.
constexpr int kReenableTick = 6;

constexpr CalControl kEncoder1Steps[] = {CalControl::CoarseEcc, CalControl::FineAdc, CalControl::CoarseAdc,
                                         CalControl::FineRadius, CalControl::Zero1};
constexpr CalControl kCombos[] = {CalControl::Direction, CalControl::PolePairs, CalControl::Carrier};
constexpr CalControl kStepLamps[] = {CalControl::StartLamp, CalControl::CoarseEccLamp, CalControl::FineAdcLamp,
                                     CalControl::CoarseAdcLamp, CalControl::FineRadiusLamp, CalControl::Zero1Lamp,
                                     CalControl::WakeLamp, CalControl::Wake2Lamp, CalControl::AirCalLamp,
                                     CalControl::Zero2Lamp, CalControl::B1Lamp, CalControl::B2Lamp};
constexpr Q kEncoder2Requests[] = {Q::Wake, Q::AirCal, Q::Zero2, Q::B1B2, Q::Info2};

int comboSlot(CalControl combo)
{
    switch (combo) {
    case CalControl::Direction: return 0;
    case CalControl::PolePairs: return 1;
    case CalControl::Carrier: return 2;
    default: return -1;
    }
}

}  // namespace

EncoderCalibration::EncoderCalibration(BenchContext& ctx) : ctx_(ctx) {}

CalibrationView& EncoderCalibration::view()
{
    return ctx_.view.dialogs().calibrationView();
}

// ------------------------------------------------------------ opening

void EncoderCalibration::open()
{
    BenchView& v = ctx_.view;
    if (!Guards(ctx_, Operation::Calibration).powerOn(true))
        return;

    ctx_.flags().lower(Flag::ReadActive);
    ctx_.box.stop(50);
    v.setText(Control::ReadData, "Read data");
    for (Control c : kStreamButtons)
        v.setEnabled(c, true);
    benchSleep(100);
    ctx_.stopAll();

    ctx_.box.powerOn(100);
    engine_.open();

    if (!Guards(ctx_, Operation::Calibration).boxPresent(true))
        return;

    benchSleep(10);
    alive_ = true;
    qCDebug(lcBench) << "calibration opens";

    // The dialog starts from its initial state: first combo items, locked
    // steps, idle indicators, empty information.
    DialogHost& host = v.dialogs();
    host.openDialog(DialogKind::Calibration);
    CalibrationView& cv = view();
    for (CalControl c : kCombos)
        cv.selectItem(c, 0);
    selection_[0] = selection_[1] = selection_[2] = 0;
    calibParam_ = kInitialCalibParam;
    resetSteps();
    displayTicks_ = 0;
    reenableStart_ = false;
    accessGranted_ = false;
    accessOpen_ = false;
    cv.setIndicator(CalControl::AccessLamp, CalIndicator::Idle);
    cv.setEnabled(CalControl::Start, false);
    cv.setEnabled(CalControl::Wake, false);
    for (int i = 0; i < kInfo1FieldCount; ++i)
        cv.setText(calControlAt(CalControl::Info1CoarseZero, i), QString());
    for (int i = 0; i < kInfo2FieldCount; ++i)
        cv.setText(calControlAt(CalControl::Info2CoarseSin, i), QString());

    v.startTimer(kTimerCalibration, kTimerPeriodMs[kTimerCalibration]);
    host.hideMainWindow();
}

// R: the steps go back to their start; access stays as it is.
void EncoderCalibration::resetSteps()
{
    CalibrationView& cv = view();
    for (Q q : kEncoder2Requests)
        engine_.lowerRequest(q);
    wakeSeen_ = false;
    engine_.takeResult(R::B1Ok);
    engine_.takeResult(R::B2Ok);
    for (CalControl c : kCombos)
        cv.setEnabled(c, true);
    for (CalControl c : kEncoder1Steps)
        cv.setEnabled(c, false);
    for (CalControl c : {CalControl::Zero2, CalControl::B1B2, CalControl::AirCal, CalControl::Info2})
        cv.setEnabled(c, false);
    cv.setText(CalControl::Start, QStringLiteral("启动校准"));
    for (CalControl c : kStepLamps)
        cv.setIndicator(c, CalIndicator::Idle);
}

// ------------------------------------------------------------ dialog input

void EncoderCalibration::onButton(CalControl button)
{
    CalibrationView& cv = view();
    DialogHost& host = ctx_.view.dialogs();
    auto idle = [&cv](CalControl lamp) { cv.setIndicator(lamp, CalIndicator::Idle); };

    switch (button) {
    case CalControl::Access:
        if (!accessOpen_) {
            accessOpen_ = true;
            host.openDialog(DialogKind::CalibrationAccess);
        } else {
            // Revoked: locked again, "唤醒" as well as "启动校准".
            resetSteps();
            accessOpen_ = false;
            accessGranted_ = false;
            reenableStart_ = false;
            idle(CalControl::AccessLamp);
            cv.setEnabled(CalControl::Start, false);
            cv.setEnabled(CalControl::Wake, false);
            host.closeDialog(DialogKind::CalibrationAccess);
        }
        break;
    case CalControl::Start:
        resetSteps();
        engine_.raiseRequest(Q::Start);
        displayTicks_ = 0;
        reenableStart_ = true;
        cv.setEnabled(CalControl::Start, false);
        break;
    case CalControl::CoarseEcc:
        engine_.raiseRequest(Q::CoarseEccentricity);
        idle(CalControl::CoarseEccLamp);
        break;
    case CalControl::FineAdc:
        engine_.raiseRequest(Q::FineAdc);
        idle(CalControl::FineAdcLamp);
        break;
    case CalControl::CoarseAdc:
        engine_.raiseRequest(Q::CoarseAdc);
        idle(CalControl::CoarseAdcLamp);
        break;
    case CalControl::FineRadius:
        engine_.raiseRequest(Q::FineRadius);
        idle(CalControl::FineRadiusLamp);
        break;
    case CalControl::Zero1:
        engine_.raiseRequest(Q::Zero1);
        idle(CalControl::Zero1Lamp);
        break;
    case CalControl::Info1:
        for (Q q : kEncoder2Requests)
            engine_.lowerRequest(q);
        benchSleep(50);
        engine_.raiseRequest(Q::Info1);
        displayTicks_ = 0;
        cv.setEnabled(CalControl::Info1, false);
        for (int i = 0; i < kInfo1FieldCount; ++i)
            cv.setText(calControlAt(CalControl::Info1CoarseZero, i), QString());
        break;
    case CalControl::Wake:
        resetSteps();
        engine_.raiseRequest(Q::Wake);
        break;
    case CalControl::AirCal:
        for (Q q : {Q::Zero2, Q::B1B2, Q::Info2})
            engine_.lowerRequest(q);
        engine_.raiseRequest(Q::AirCal);
        idle(CalControl::AirCalLamp);
        break;
    case CalControl::Zero2:
        for (Q q : {Q::AirCal, Q::B1B2, Q::Info2})
            engine_.lowerRequest(q);
        engine_.raiseRequest(Q::Zero2);
        idle(CalControl::Zero2Lamp);
        break;
    case CalControl::B1B2:
        for (Q q : {Q::Zero2, Q::AirCal, Q::Wake, Q::Info2})
            engine_.lowerRequest(q);
        engine_.raiseRequest(Q::B1B2);
        idle(CalControl::B1Lamp);
        idle(CalControl::B2Lamp);
        break;
    case CalControl::Info2:
        displayTicks_ = 0;
        cv.setEnabled(CalControl::Info2, false);
        for (Q q : {Q::B1B2, Q::Zero2, Q::AirCal, Q::Wake})
            engine_.lowerRequest(q);
        for (int i = 0; i < kInfo2FieldCount; ++i)
            cv.setText(calControlAt(CalControl::Info2CoarseSin, i), QString());
        engine_.raiseRequest(Q::Info2);
        break;
    case CalControl::Home:
        closeDialog();
        break;
    default:
        break;
    }
}

void EncoderCalibration::onCombo(CalControl combo, int index)
{
    const int slot = comboSlot(combo);
    if (slot < 0)
        return;
    selection_[slot] = index;
    calibParam_ = calibParamOfSelection(selection_[0], selection_[1], selection_[2]);
}

void EncoderCalibration::onAccessCode(const QString& typed, bool enterKey)
{
    // Enter is looked at only while access is being asked for.
    if (enterKey && !accessOpen_)
        return;
    const CalAccessCheck check = checkCalibrationAccessCode(typed);
    accessGranted_ = check.granted;
    if (check.granted) {
        ctx_.view.dialogs().closeDialog(DialogKind::CalibrationAccess);
        return;
    }
    ctx_.refuse(Operation::Calibration, check.message);
}

// The dialog has closed ("返回主页" or its close box): from the next tick on,
// timer 3 sends 0x16 and shows the main window until stop-all. Every wait
// drops with the close, so the reply reader ends within one slice.
void EncoderCalibration::closeDialog()
{
    if (engine_.closed())
        return;
    engine_.close();
    accessOpen_ = false;
    DialogHost& host = ctx_.view.dialogs();
    host.closeDialog(DialogKind::CalibrationAccess);
    host.closeDialog(DialogKind::Calibration);
    qCDebug(lcBench) << "calibration dialog closed";
}

// ------------------------------------------------------------ display tick

void EncoderCalibration::onDisplayTick()
{
    CalibrationView& cv = view();
    DialogHost& host = ctx_.view.dialogs();

    if (++displayTicks_ == kReenableTick) {
        cv.setEnabled(CalControl::Info1, true);
        if (wakeSeen_)
            cv.setEnabled(CalControl::Info2, true);
        if (reenableStart_) {
            benchSleep(100);
            cv.setEnabled(CalControl::Start, true);
            reenableStart_ = false;
        }
    }

    if (!alive_) {
        // Stop-all ran (the box went, or a command stopped everything): the
        // dialog goes and the main window comes back, which timer 3 no
        // longer does.
        if (!engine_.closed()) {
            engine_.close();
            host.closeDialog(DialogKind::CalibrationAccess);
            host.closeDialog(DialogKind::Calibration);
            host.showMainWindow();
        }
        return;
    }
    showResults();
}

void EncoderCalibration::showResults()
{
    CalibrationView& cv = view();
    // Each step's outcome is kept as a result of its own.
    auto report = [&](const char* step, bool ok, std::vector<QString> fields = {}) {
        ctx_.conclude(Outcome::verdict(Operation::Calibration, ok,
                                       CalibrationStepResult{QLatin1String(step), ok, std::move(fields)}));
    };
    auto lamp = [&](R ok, R failed, CalControl c, const char* step) {
        const bool passed = engine_.takeResult(ok);
        if (passed)
            cv.setIndicator(c, CalIndicator::Success);
        const bool lost = failed != R::Count && engine_.takeResult(failed);
        if (lost)
            cv.setIndicator(c, CalIndicator::Failure);
        if (passed || lost)
            report(step, !lost);
    };

    if (engine_.takeResult(R::WakeOk)) {
        report("wake", true);
        cv.setIndicator(CalControl::WakeLamp, CalIndicator::Success);
        for (CalControl c : {CalControl::Zero2, CalControl::AirCal, CalControl::B1B2, CalControl::Info2})
            cv.setEnabled(c, true);
        wakeSeen_ = true;
    }
    lamp(R::Count, R::WakeFailed, CalControl::WakeLamp, "wake");
    lamp(R::Wake2Ok, R::Wake2Failed, CalControl::Wake2Lamp, "wake-2");
    lamp(R::AirOk, R::AirFailed, CalControl::AirCalLamp, "air");
    lamp(R::Zero2Ok, R::Zero2Failed, CalControl::Zero2Lamp, "zero-2");
    lamp(R::B1Ok, R::B1Failed, CalControl::B1Lamp, "b1");
    lamp(R::B2Ok, R::B2Failed, CalControl::B2Lamp, "b2");

    if (engine_.takeResult(R::StartOk)) {
        report("start", true);
        cv.setIndicator(CalControl::StartLamp, CalIndicator::Success);
        for (CalControl c : kCombos)
            cv.setEnabled(c, false);
        for (CalControl c : kEncoder1Steps)
            cv.setEnabled(c, true);
        cv.setText(CalControl::Start, QStringLiteral("启动校准"));
    }
    lamp(R::Count, R::StartFailed, CalControl::StartLamp, "start");
    lamp(R::CoarseEccOk, R::CoarseEccFailed, CalControl::CoarseEccLamp, "coarse-eccentricity");
    lamp(R::FineAdcOk, R::FineAdcFailed, CalControl::FineAdcLamp, "fine-adc");
    lamp(R::CoarseAdcOk, R::CoarseAdcFailed, CalControl::CoarseAdcLamp, "coarse-adc");
    // Both raised (a 0x22 answer): the failure icon stays.
    lamp(R::FineRadiusOk, R::FineRadiusFailed, CalControl::FineRadiusLamp, "fine-radius");
    if (engine_.takeResult(R::Zero1Ok)) {
        report("zero-1", true);
        cv.setIndicator(CalControl::Zero1Lamp, CalIndicator::Success);
        for (CalControl c : kCombos)
            cv.setEnabled(c, true);
    }
    lamp(R::Count, R::Zero1Failed, CalControl::Zero1Lamp, "zero-1");

    if (engine_.takeResult(R::Info1Ready)) {
        cv.setEnabled(CalControl::Info1, true);
        const Encoder1InfoTexts t = engine_.info1Texts();
        const QString* texts[kInfo1FieldCount] = {&t.coarseZero, &t.fineZero,        &t.coarseSin,
                                                  &t.coarseCos,  &t.fineRadius,      &t.userZero,
                                                  &t.temperature, &t.fineSin,        &t.fineCos,
                                                  &t.eccentricitySin, &t.eccentricityCos, &t.firmwareCode,
                                                  &t.firmwareDescription, &t.coarseAdc, &t.fineAdc};
        std::vector<QString> shown;
        for (int i = 0; i < kInfo1FieldCount; ++i) {
            cv.setText(calControlAt(CalControl::Info1CoarseZero, i), *texts[i]);
            shown.push_back(*texts[i]);
        }
        report("info-1", true, std::move(shown));
    }
    // No record within the time-out: the fields stay empty and the button
    // comes back for another try.
    if (engine_.takeResult(R::Info1Failed)) {
        report("info-1", false);
        cv.setEnabled(CalControl::Info1, true);
    }
    if (engine_.takeResult(R::Info2Ready)) {
        const Encoder2InfoTexts t = engine_.info2Texts();
        const QString* texts[kInfo2FieldCount] = {&t.coarseSin,  &t.coarseCos, &t.fineSin, &t.fineCos,
                                                  &t.zeroOffset, &t.b1Angle,   &t.b2Angle, &t.serial};
        std::vector<QString> shown;
        for (int i = 0; i < kInfo2FieldCount; ++i) {
            cv.setText(calControlAt(CalControl::Info2CoarseSin, i), *texts[i]);
            shown.push_back(*texts[i]);
        }
        report("info-2", true, std::move(shown));
    }
    if (engine_.takeResult(R::Info2Failed)) {
        report("info-2", false);
        if (wakeSeen_)
            cv.setEnabled(CalControl::Info2, true);
    }

    if (accessGranted_.exchange(false)) {
        cv.setEnabled(CalControl::Start, true);
        cv.setEnabled(CalControl::Wake, true);
        cv.setIndicator(CalControl::AccessLamp, CalIndicator::Success);
    }
}

// ------------------------------------------------------------ timer 3

void EncoderCalibration::tick()
{
    for (CalWait w : engine_.expireOverdue())
        qCDebug(lcBench) << "calibration: no reply within" << CalibrationEngine::replyTimeoutMs(w) << "ms";

    engine_.beginTick();
    while (const std::optional<CalStep> step = engine_.nextStep()) {
        switch (step->kind) {
        case CalStep::Kind::Pause:
            benchSleep(step->waitMs);
            break;
        case CalStep::Kind::Send:
            ctx_.box.pulse(step->packet, step->waitMs,
                           [param = calibParam_.load()](PacketParams& p) { p.calibParam = param; });
            break;
        case CalStep::Kind::DrainRead:
            // Armed until the wake sequence reaches its own read, so it takes
            // the answer to the wake line instead of the wake reply.
            wakeDrainArmed_ = true;
            requestDrainRead(ctx_.link, [this] { return wakeDrainArmed_.load() && alive_.load(); });
            benchSleep(step->waitMs);
            break;
        case CalStep::Kind::Read:
            wakeDrainArmed_ = false;
            ensureReader();
            break;
        case CalStep::Kind::LowerWait:
            break;  // done by the engine
        case CalStep::Kind::ShowMainWindow:
            ctx_.view.dialogs().showMainWindow();
            break;
        }
    }
    wakeDrainArmed_ = false;
}

void EncoderCalibration::stopAll()
{
    alive_ = false;
    wakeDrainArmed_ = false;
    engine_.stopAll();
}

// ------------------------------------------------------------ reply reader

bool EncoderCalibration::keepReading() const
{
    return alive_.load() && engine_.awaitingReply();
}

void EncoderCalibration::ensureReader()
{
    if (readerActive_.exchange(true))
        return;  // the running reader takes this wait too
    if (!ctx_.link.workers.start([this] { runReader(); }))
        readerActive_ = false;
}

void EncoderCalibration::runReader()
{
    BoxLink& link = ctx_.link;
    std::vector<std::uint8_t> buf(kCalReplyTransferLength);
    BoundedRead request;
    request.length = kCalReplyTransferLength;
    request.limitMs = kReplyReadLimitMs;
    request.sliceMs = kReplyReadSliceMs;
    request.keepWaiting = [this] { return keepReading(); };

    for (;;) {
        const auto session = link.inPump.open({kCalReplyTransferLength, 0, kReplyReadLimitMs});
        while (keepReading()) {
            if (link.removalSeen) {
                readerActive_ = false;
                ctx_.stopAll();
                return;
            }
            for (CalWait w : engine_.expireOverdue())
                qCDebug(lcBench) << "calibration: no reply within" << CalibrationEngine::replyTimeoutMs(w) << "ms";
            const ReadOutcome r = session->next(buf.data(), request);
            if (r.status == ReadStatus::Cancelled || r.status == ReadStatus::NoEndpoint)
                break;
            if (link.removalSeen) {
                readerActive_ = false;
                ctx_.stopAll();
                return;
            }
            if (r.status == ReadStatus::Failed) {
                benchSleep(kReplyReadSliceMs);
                continue;
            }
            if (!r.ok() || r.bytes <= 0)
                continue;
            const CalReplyOutcome out =
                engine_.takeTransfer({buf.data(), static_cast<std::size_t>(r.bytes)});
            if (out.item == CalReplyOutcome::Item::Reply)
                qCDebug(lcLink, "%10.3f IN  calibration reply AA ?? AA %02X", benchClock().nowMs(), out.code);
            else if (out.item == CalReplyOutcome::Item::Tag)
                qCDebug(lcLink, "%10.3f IN  calibration tag %d", benchClock().nowMs(), out.code);
            if (out.endReader)
                break;
        }
        readerActive_ = false;
        // A wait raised while this reader was finishing finds it gone: take
        // it over rather than leave it without a reader.
        if (!keepReading() || readerActive_.exchange(true))
            return;
    }
}
