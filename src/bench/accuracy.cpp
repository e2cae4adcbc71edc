#include "bench/accuracy.h"

#include "bench/frame_display.h"
#include "bench/guards.h"
#include "bench/number_input.h"
#include "bench/reading.h"
#include "bench/settings_editor.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "link/box_link.h"
#include "common/logging.h"
#include "link/bounded_read.h"
#include "measure/accuracy_sampler.h"

#include <QJsonArray>

#include <cmath>
#include <vector>

namespace {

// Slices of the sampler's waits: the end of the sampling window is noticed
// within this much.
constexpr double kSamplerSliceMs = 2;

// The gauge shows one of the fields the frame is split into.
bool gaugeFieldShown(const InterfaceSettings& s)
{
    return s.gaugeField >= 1 && s.gaugeField <= kMaxFields && static_cast<unsigned>(s.gaugeField) <= s.fieldCount;
}

}  // namespace

void AccuracyTest::initialiseControls()
{
    ctx_.showEditText(Control::ErrorIndex, QStringLiteral("0"));
}

void AccuracyTest::absTest()
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;

    if (!Guards(ctx_, Operation::AbsTest)
             .powerOn(false)
             // The EEPROM write's power cycle would cut a step, and its end
             // lowers the test's flags.
             .idle({Busy::Capture, Busy::Configuring, Busy::Reading, Busy::Resolution, Busy::Eeprom})
             .configured()
             .idle({Busy::ResetAngle, Busy::ResetTurns})
             .notIncremental()
             .refuseIf(ctx_.settings().modes.sinCosMode))
        return;

    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::AbsTest, editor_.editError()));
        return;
    }
    st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    const bool starting = !running();
    if (starting && !gaugeFieldShown(ctx_.settings())) {
        ctx_.refuse(Operation::AbsTest, kMsgSetGaugeField);
        return;
    }
    display_.decodeFrame(st.lastRawFrame.load());

    benchSleep(100);
    requestDrainRead(st.link);
    benchSleep(50);

    sampling_ = false;
    active_ = starting;
    ctx_.flags().lower(Flag::PowerOnCmd);
    display_.decodeFrame(0);
    view.setGaugeValue(st.gaugeAngle.load());

    if (starting) {
        {
            std::lock_guard lock(mutex_);
            tracker_.start();
        }
        browser_.clear();
        ctx_.showEditText(Control::ErrorIndex, QStringLiteral("0"));
        view.setText(Control::ErrorAngle, QString());
        view.startTimer(kTimerAbsTest, kTimerPeriodMs[kTimerAbsTest]);
        view.setText(Control::AbsTest, QStringLiteral("abs test ....."));
    } else {
        view.killTimer(kTimerAbsTest);
        view.setProgress(Control::AbsProgress, 0);
        view.setText(Control::AbsTest, QStringLiteral("abs test"));
        view.setEnabled(Control::ReadData, true);
    }
    view.setLamp(Control::AbsLamp, LampImage::Unlit);
    if (!starting)
        ctx_.conclude(Outcome::stopped(Operation::AbsTest));
}

void AccuracyTest::tick()
{
    BenchState& st = ctx_.state;
    CommandFlags& f = ctx_.flags();

    // The last step's sampler leaves after its current transfer.
    sampling_ = false;
    benchSleep(2);
    f.raise(Flag::PowerOnCmd);
    sendAndWait(30);
    st.link.lastSendOk = false;
    f.lower(Flag::PowerOnCmd);
    benchSleep(30);
    f.raise(Flag::StopCmd);
    sendAndWait(30);
    f.lower(Flag::StopCmd);
    // Stop-all (a worker, a settings change) may have ended the test meanwhile.
    if (!running())
        return;

    if (st.restartOnRead) {
        endWithoutVerdict();
        return;
    }

    benchSleep(20);
    f.raise(Flag::AbsStepActive);
    sendAndWait(120);
    if (!running()) {
        f.lower(Flag::AbsStepActive);
        return;
    }

    const FrameLayout layout = frameLayoutOf(st.settingsSnapshot());
    const std::int64_t windowEnd = benchClock().nowMicros() + std::llround(kAccuracySamplingMs * 1000.0);
    sampling_ = true;
    sampler_ = st.link.workers.start([this, layout, windowEnd] { runSampler(layout, windowEnd); });
    benchSleep(kAccuracySamplingMs);

    bool last = false;
    int progress = 0;
    {
        std::lock_guard lock(mutex_);
        last = tracker_.stepDone();
        progress = tracker_.progress();
    }
    f.lower(Flag::AbsStepActive);
    sampling_ = false;
    if (!running())
        return;
    ctx_.view.setProgress(Control::AbsProgress, progress);
    if (last)
        giveVerdict();
}

void AccuracyTest::sendAndWait(double ms)
{
    // The OUT queue keeps the step's packets in order: no wait for the sender.
    ctx_.box.send();
    benchSleep(ms);
}

void AccuracyTest::waitForWorker(WorkerHandle worker, double limitMs) const
{
    ctx_.link.workers.waitFor(worker, limitMs);
}

void AccuracyTest::endWithoutVerdict()
{
    BenchView& view = ctx_.view;
    view.killTimer(kTimerAbsTest);
    view.setProgress(Control::AbsProgress, 0);
    active_ = false;
    view.setText(Control::AbsTest, QStringLiteral("abs test"));
    view.setEnabled(Control::ReadData, true);
    view.setLamp(Control::AbsLamp, LampImage::Unlit);
    ctx_.conclude(Outcome::stopped(Operation::AbsTest));
}

void AccuracyTest::onBoxArrival()
{
    if (active_.exchange(false))
        ctx_.conclude(Outcome::stopped(Operation::AbsTest));
}

void AccuracyTest::onStopAll()
{
    sampling_ = false;
    if (active_.exchange(false))
        ctx_.conclude(Outcome::stopped(Operation::AbsTest));
}

void AccuracyTest::giveVerdict()
{
    BenchView& view = ctx_.view;

    // The last sampler is finishing its transfer; its sample belongs to the
    // test. It ends within its read wait.
    waitForWorker(sampler_, kAccuracyRxOnlyReadWaitMs + kAccuracySamplingMs);

    view.setProgress(Control::AbsProgress, 0);
    view.killTimer(kTimerAbsTest);
    AccuracyVerdict verdict;
    std::vector<double> errors;
    std::vector<AccuracyTracePoint> trace;
    double travel = 0.0;
    {
        // From here on a late sample is not counted. A stop-all that came
        // first has ended the test without a verdict.
        std::lock_guard lock(mutex_);
        if (!active_.exchange(false))
            return;
        verdict = tracker_.verdict();
        errors = tracker_.errorAngles();
        travel = tracker_.travel();
        trace = tracker_.trace();
        qCDebug(lcBench) << "abs test: travel" << tracker_.travel() << "errors" << tracker_.errorCount()
                         << "dropped" << tracker_.droppedErrors();
    }

    AccuracyResult result{verdict, errors, travel, std::move(trace)};
    switch (verdict) {
    case AccuracyVerdict::NotTurning:
        view.showMessage(kMsgTurnTheMotor);
        view.setText(Control::AbsTest, QStringLiteral("abs test"));
        ctx_.conclude(Outcome::verdict(Operation::AbsTest, false, std::move(result)));
        return;
    case AccuracyVerdict::Pass:
        view.setLamp(Control::AbsLamp, LampImage::Passed);
        view.setText(Control::AbsTest, QStringLiteral("abs test"));
        break;
    case AccuracyVerdict::Errors:
        view.setLamp(Control::AbsLamp, LampImage::Lit);
        view.setText(Control::AbsTest, QStringLiteral("abs error"));
        break;
    }
    browser_.load(std::move(errors));
    showErrorAngle(browser_.shown());
    ctx_.showEditText(Control::ErrorIndex, QString::number(browser_.index()));
    ctx_.conclude(Outcome::verdict(Operation::AbsTest, verdict == AccuracyVerdict::Pass, std::move(result)));
}

void AccuracyTest::showErrorAngle(std::optional<double> angle)
{
    if (angle)
        ctx_.view.setText(Control::ErrorAngle, QString::number(*angle, 'f', 3));
}

void AccuracyTest::onErrorIndexSpin(int direction)
{
    // The index as typed counts; the browser keeps it within the errors found.
    const ParsedNumber typed = parseBoundedInteger(ctx_.state.typed.text(Control::ErrorIndex), 0, kAccuracyMaxErrors);
    if (!typed.value) {
        ctx_.view.showMessage(typed.error);
        return;
    }
    const int index = static_cast<int>(*typed.value);
    const std::optional<double> angle =
        direction > 0 ? browser_.stepTowardsLast(index) : browser_.stepTowardsFirst(index);
    if (!angle)
        return;
    showErrorAngle(angle);
    ctx_.showEditText(Control::ErrorIndex, QString::number(browser_.index()));
}

void AccuracyTest::runSampler(const FrameLayout& layout, std::int64_t windowEndMicros)
{
    BenchState& st = ctx_.state;
    BoxLink& link = st.link;

    std::vector<std::uint8_t> buffer(kAccuracyTransferBytes);
    std::int64_t previousValue = 0;
    const double waitMs = layout.modes.rxOnlyMode ? kAccuracyRxOnlyReadWaitMs : kAccuracyReadWaitMs;
    const auto testRuns = [&] { return active_.load(); };
    const auto inWindow = [&] { return sampling_.load() && benchClock().nowMicros() < windowEndMicros; };

    // The step's transfers stay queued for its window, ended with it.
    const auto session = link.inPump.open({kAccuracyTransferBytes, kAccuracySamplerDepth, waitMs});
    for (bool first = true; first ? sampling_.load() : inWindow(); first = false) {
        if (link.removalSeen || !link.inEndpoint.present()) {
            ctx_.stopAll();
            return;
        }
        // The box streams for the whole step, so the step's first transfer
        // must come within the wait: one that does not means the box has
        // stopped. Later transfers end with the sampling window and are
        // cancelled there, not counted as a silent box.
        BoundedRead request;
        request.length = kAccuracyTransferBytes;
        request.limitMs = waitMs;
        request.sliceMs = kSamplerSliceMs;
        request.keepWaiting = first ? std::function<bool()>(testRuns) : std::function<bool()>(inWindow);
        const ReadOutcome r = session->next(buffer.data(), request);

        switch (r.status) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Failed:
            // Skipped, but not asked again at once: a stalled endpoint fails
            // every transfer the moment it starts, and would spin a core.
            benchSleep(waitMs);
            continue;
        case ReadStatus::TimedOut:
        case ReadStatus::NoEndpoint:
            // Stop-all also shows the decode of 0 on the gauge.
            ctx_.stopAll();
            return;
        case ReadStatus::Stopped:
        case ReadStatus::Cancelled:
            return;
        }
        if (!testRuns())
            continue;

        std::array<std::int64_t, kMaxFields> fields{};
        for (int k = 0; k < kMaxFields; ++k)
            fields[static_cast<std::size_t>(k)] = st.fieldValue[static_cast<std::size_t>(k)].load();
        const AccuracyPick pick =
            pickAccuracySample({buffer.data(), static_cast<std::size_t>(r.bytes)}, layout, previousValue, fields);
        if (pick.lastValue) {
            st.lastRawFrame = *pick.lastValue;
            display_.decodeFrame(*pick.lastValue);
            ctx_.view.setGaugeValue(st.gaugeAngle.load());
        }
        if (pick.kind == AccuracyPickKind::CrcMismatch) {
            // The test ends here; the user starts it again once the encoder
            // is configured again.
            ctx_.stopAll();
            ctx_.view.showMessage(kMsgSpiCrcError);
            return;
        }
        if (pick.kind == AccuracyPickKind::Sample) {
            previousValue = pick.value;
            std::lock_guard lock(mutex_);
            if (!testRuns())
                continue;
            const double before = tracker_.previousAngle();
            if (tracker_.addSample(pick.angle).error)
                qCDebug(lcBench) << "abs test: jump from" << before << "to" << pick.angle << "at step"
                                 << tracker_.stepsDone() + 1;
        }
    }
}
