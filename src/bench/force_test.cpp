#include "bench/force_test.h"

#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "bench/timers.h"
#include "common/clock.h"

namespace {

// What the stream takes from the main window while the force test streams.
constexpr Control kStreamTaken[] = {Control::Resolution, Control::AbsTest, Control::PowerControl,
                                    Control::SaveFile};

}  // namespace

ForceView& ForceTest::view()
{
    return ctx_.view.dialogs().forceView();
}

void ForceTest::press()
{
    BenchState& st = ctx_.state;
    BenchView& v = ctx_.view;
    CommandFlags& f = ctx_.flags();
    DialogHost& dialogs = v.dialogs();

    const bool streaming = f.isUp(Flag::ForceActive);
    Guards guards(ctx_, streaming ? std::nullopt : std::optional(Operation::Force));
    guards.idle({Busy::AbsTest, Busy::Resolution}).configured().idle({Busy::Reading});
    // A start must not lower another mode's flag behind it (a capture's file
    // would never be closed) nor feed the reader another mode's stream.
    if (!streaming)
        guards.powerOn(false).idle({Busy::Capture, Busy::SinCos, Busy::Eeprom});
    if (!guards)
        return;

    if (streaming) {
        // The stream stops; the dialog stays open without new values.
        f.lower(Flag::ForceActive);
        benchSleep(100);
        ctx_.box.stop(10);
        releaseButtons();
        return;
    }

    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::Force, editor_.editError()));
        return;
    }
    // 0 bits would divide by zero, 32 and more turn the 32-bit mask negative.
    const int width = ctx_.settings().fieldWidth[0];
    if (!Guards(ctx_, Operation::Force).refuseIf(!forceFieldWidthUsable(width), QString::fromUtf8(kForceWidthMessage)))
        return;

    for (int id = kTimerAbsTest; id <= kTimerCalibration; ++id)
        v.killTimer(id);
    f.lower(Flag::ForceActive);
    ctx_.box.stop(100);
    f.raise(Flag::ForceActive);
    st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    mask_ = forceFieldMask(width);

    // A dialog still open (frozen by an earlier press) is used again, with
    // its list; otherwise the new one starts empty.
    const bool reuse = dialogs.isDialogOpen(DialogKind::Force);
    if (!reuse)
        resetDialogState();

    timerArmed_ = true;
    v.startTimer(kTimerForce, kTimerPeriodMs[kTimerForce]);
    benchSleep(100);
    const SendTicket sender = ctx_.box.send();  // 512 x 7A
    benchSleep(20);
    if (!sender) {
        f.lower(Flag::ForceActive);
        timerArmed_ = false;
        v.killTimer(kTimerForce);
        return;
    }
    if (startReader_()) {
        st.drainArmed = true;
        for (Control c : kStreamTaken)
            v.setEnabled(c, false);
    }
    dialogs.openDialog(DialogKind::Force);
}

void ForceTest::reset()
{
    timerArmed_ = false;
    // An attempt that stop-all cut short (the box removed or silent) has no
    // result: its peak would cover only part of it.
    if (runMark_.exchange(false)) {
        view().setAttemptRunning(false);
        ctx_.conclude(Outcome::stopped(Operation::Force));
    }
}

void ForceTest::releaseButtons()
{
    for (Control c : kStreamTaken)
        ctx_.view.setEnabled(c, true);
}

void ForceTest::tick()
{
    runSeen_ = runMark_.load();
    if (!closeMark_)
        return;
    ctx_.view.killTimer(kTimerForce);
    timerArmed_ = false;
    CommandFlags& f = ctx_.flags();
    if (f.isUp(Flag::ForceActive)) {
        // The box streams until it is told to stop, as after a second press.
        f.lower(Flag::ForceActive);
        benchSleep(100);
        ctx_.box.stop(10);
        releaseButtons();
    }
    ctx_.view.dialogs().showMainWindow();
}

void ForceTest::resetDialogState()
{
    baseline_ = 0.0;
    result_ = 0.0;
    lastShown_ = 0.0;
    nameConfirmed_ = false;
    name_.clear();
    confirmedName_.clear();
    list_ = ForceTopList{};
    runMark_ = false;
    runSeen_ = false;
    closeMark_ = false;
}

void ForceTest::onForceReading(std::int64_t raw)
{
    const ForceSample s = forceFromReading(raw, mask_.load(), runSeen_.load(), peak_.load());
    now_ = s.forceNow;
    peak_ = s.peak;
}

void ForceTest::onInput(ForceInput input, const QString& text)
{
    switch (input) {
    case ForceInput::Enter:
        nameConfirmed_ = true;
        confirmedName_ = name_;
        view().setNameConfirmed(true);
        break;
    case ForceInput::NameEdited:
        name_ = text;
        if (name_ != confirmedName_) {
            nameConfirmed_ = false;
            view().setNameConfirmed(false);
        }
        break;
    case ForceInput::StartStop:
        startStop();
        break;
    case ForceInput::LiveTick: {
        if (!runMark_)
            return;  // a tick queued before "STOP"
        const double live = now_.load() - baseline_;
        view().setGaugeValue(live);
        if (live != lastShown_) {
            view().setLiveText(forceText(live));
            lastShown_ = live;
        }
        break;
    }
    case ForceInput::Close:
        close();
        break;
    }
}

void ForceTest::startStop()
{
    if (!runMark_) {
        runMark_ = true;
        liveAtStart_ = ctx_.flags().isUp(Flag::ForceActive);
        baseline_ = now_.load();
        view().setAttemptRunning(true);
        return;
    }
    runMark_ = false;
    result_ = forceResult(peak_.load(), baseline_);
    view().setAttemptRunning(false);
    // The name field cannot change during an attempt, and a confirmed name
    // equals it; only above row 10's power does the result enter.
    if (nameConfirmed_ && list_.offer(name_, result_))
        view().setTopList(list_.rows());
    view().setRecordText(forceText(result_));
    // An attempt in a dialog the stream had already left (stopped, or the
    // box gone before "START") measured nothing: it is shown, but no pass.
    const bool live = liveAtStart_ && ctx_.flags().isUp(Flag::ForceActive);
    ctx_.conclude(Outcome::verdict(Operation::Force, live,
                                   ForceResult{result_, baseline_, nameConfirmed_ ? name_ : QString()}));
}

void ForceTest::close()
{
    if (closeMark_)
        return;
    runMark_ = false;
    closeMark_ = true;
    nameConfirmed_ = false;
    view().setAttemptRunning(false);
    ctx_.view.dialogs().closeDialog(DialogKind::Force);
}
