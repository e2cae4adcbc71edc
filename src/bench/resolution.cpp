#include "bench/resolution.h"

#include "bench/guards.h"
#include "bench/number_input.h"
#include "bench/settings_editor.h"
#include "common/clock.h"
#include "common/logging.h"
#include "link/bounded_read.h"
#include "link/in_pump.h"
#include "measure/resolution_scan.h"

#include <vector>

void ResolutionTest::initialiseControls()
{
    ctx_.showEditText(Control::CycleCount, QStringLiteral("100000"));
}

void ResolutionTest::start(std::optional<int> cycles, std::optional<int> truncateBits)
{
    // Parameters given with the start are shown in their edits, as if typed.
    if (cycles)
        ctx_.showEditText(Control::CycleCount, QString::number(*cycles));
    if (truncateBits)
        ctx_.showEditText(Control::TruncateBits, QString::number(*truncateBits));
    run();
}

void ResolutionTest::run()
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::Resolution, editor_.editError()));
        return;
    }
    if (!Guards(ctx_, Operation::Resolution)
             .powerOn(false)
             .idle({Busy::Capture, Busy::AbsTest, Busy::Reading, Busy::Configuring, Busy::PoweringOn,
                    Busy::Eeprom})
             .configured()
             .idle({Busy::SinCos, Busy::ResetAngle, Busy::ResetTurns}))
        return;

    const ParsedNumber cycles = parseBoundedInteger(st.typed.text(Control::CycleCount), 0, 1000000);
    if (!cycles.value) {
        ctx_.refuse(Operation::Resolution, cycles.error);
        return;
    }
    const std::optional<int> bytes = resolutionTransferBytes(static_cast<int>(*cycles.value));
    if (!bytes) {
        ctx_.refuse(Operation::Resolution, kMsgCycleCountTooSmall);
        return;
    }
    const InterfaceSettings& s = ctx_.settings();
    const Job job{*bytes, s.modes, s.frameBits, s.truncateBits};

    ctx_.box.stop(100);
    // What the box still holds from before the stop is drained before the
    // stream starts, and the test's one transfer is queued before the first
    // stream command: from then on the box always has somewhere to put its
    // records, and the transfer holds an unbroken stretch of them.
    if (st.drainArmed) {
        requestDrainRead(st.link);
        benchSleep(100);
    }
    std::shared_ptr<InSession> session =
        st.link.inPump.open({kResolutionPartBytes, job.bytes / kResolutionPartBytes, kResolutionWaitRoundMs});
    f.raise(Flag::ResolutionActive);
    ctx_.box.send();
    benchSleep(100);
    view.setProgress(Control::ResolutionProgress, 0);
    f.lower(Flag::ResolutionActive);
    view.setText(Control::ResolutionResult, QStringLiteral("0"));

    f.raise(Flag::ResolutionActive);
    view.setEnabled(Control::CycleCount, false);
    running_ = true;
    const SendTicket sender = ctx_.box.send();
    benchSleep(10);
    if (!sender || !st.link.workers.start([this, job, session] {
            runWorker(job, *session);
            if (running_.exchange(false))
                ctx_.conclude(Outcome::stopped(Operation::Resolution));
        })) {
        // Only while the window closes: nothing is left running.
        f.lower(Flag::ResolutionActive);
        view.setEnabled(Control::CycleCount, true);
        if (running_.exchange(false))
            ctx_.conclude(Outcome::stopped(Operation::Resolution));
        return;
    }
    view.setEnabled(Control::Resolution, false);
    st.drainArmed = true;
}

void ResolutionTest::runWorker(const Job& job, InSession& session)
{
    BenchState& st = ctx_.state;
    BoxLink& link = st.link;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();
    const auto active = [&f] { return f.isUp(Flag::ResolutionActive); };

    int shown = 0;
    const auto post = [&](int progress) {
        if (progress != shown) {
            shown = progress;
            view.setProgress(Control::ResolutionProgress, progress);
        }
    };

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(job.bytes));
    const int parts = job.bytes / kResolutionPartBytes;
    std::size_t filled = 0;
    int taken = 0;
    int takenAtRoundStart = 0;
    for (;;) {
        if (!active())
            return;
        if (link.removalSeen) {
            ctx_.stopAll();
            return;
        }
        post(1);
        // A part that ends short (a short packet) leaves no gap: the next
        // part goes on where the box went on.
        BoundedRead request;
        request.length = kResolutionPartBytes;
        request.limitMs = kResolutionWaitRoundMs;
        request.keepWaiting = active;
        const ReadOutcome r = session.next(buffer.data() + filled, request);
        if (link.removalSeen) {
            ctx_.stopAll();
            return;
        }
        if (r.ok()) {
            filled += static_cast<std::size_t>(r.bytes);
            if (++taken == parts)
                break;
            continue;
        }
        if (r.status == ReadStatus::TimedOut) {
            // A round that saw the transfer advance waits another round.
            if (taken > takenAtRoundStart) {
                takenAtRoundStart = taken;
                continue;
            }
            endWithoutData(session);
            return;
        }
        if (r.status == ReadStatus::Failed || r.status == ReadStatus::NoEndpoint) {
            if (running_.exchange(false))
                ctx_.conclude(Outcome::boxFault(Operation::Resolution,
                                                r.status == ReadStatus::Failed
                                                    ? QStringLiteral("the box's transfer failed")
                                                    : QStringLiteral("the box has no IN endpoint")));
            ctx_.stopAll();
            return;
        }
        return;  // stopped: no result
    }
    session.close();

    const ResolutionScan scan = scanResolution({buffer.data(), filled}, job.modes, job.frameBits, post);
    if (scan.lastValue)
        st.lastRawFrame = *scan.lastValue;
    post(0);
    if (!active())
        return;
    const std::int32_t result = resolutionResult(scan, job.truncateBits);
    qCDebug(lcBench) << "resolution: records" << scan.records << "min" << scan.minimum << "max" << scan.maximum;
    view.setText(Control::ResolutionResult, resolutionResultText(result));
    f.lower(Flag::ResolutionActive);
    view.setEnabled(Control::Resolution, true);
    view.setEnabled(Control::CycleCount, true);
    if (!running_.exchange(false))
        return;
    ResolutionResult figures{result, job.bytes, job.truncateBits, static_cast<std::int64_t>(scan.records),
                             scan.complete, std::nullopt};
    if (scan.firstValue)
        figures.span = ResolutionTrace{*scan.firstValue, *scan.lastValue, scan.minimum, scan.maximum};
    Outcome end = Outcome::verdict(Operation::Resolution, scan.complete, figures);
    if (!scan.complete) {
        // A span over part of the turn is no resolution: said, not passed.
        end.message = kMsgResolutionIncomplete.arg(scan.records);
        view.showMessage(end.message);
    }
    ctx_.conclude(end);
}

void ResolutionTest::endWithoutData(InSession& session)
{
    // Nothing arrived for a whole round: the box is not streaming. The test
    // ends on its own; the configuration stays.
    session.close();
    BenchView& view = ctx_.view;
    ctx_.flags().lower(Flag::ResolutionActive);
    view.setProgress(Control::ResolutionProgress, 0);
    view.setEnabled(Control::Resolution, true);
    view.setEnabled(Control::CycleCount, true);
    if (!running_.exchange(false))
        return;
    view.showMessage(kMsgResolutionNoData);
    ctx_.conclude(Outcome::boxFault(Operation::Resolution, kMsgResolutionNoData));
}
