#include "bench/sincos_test.h"

#include "bench/frame_display.h"
#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "bench/sincos_view.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "link/box_link.h"
#include "link/bounded_read.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// The four fitted tracks of the transfer as the ADC gave them, for the plots.
std::shared_ptr<const SinCosTrace> fittedTracks(const SinCosSnapshot& snap)
{
    auto t = std::make_shared<SinCosTrace>();
    const SinCosTrack order[] = {CosPlus, SinPlus, CosMinus, SinMinus};
    for (int k = 0; k < 4; ++k) {
        auto& codes = t->codes[static_cast<std::size_t>(k)];
        codes.reserve(kSinCosShownSamples);
        for (double v : snap.tracks[order[k]])
            codes.push_back(static_cast<std::uint8_t>(std::clamp(std::lround(v * 256.0 / 5.0), 0L, 255L)));
    }
    return t;
}


// The box fills a 20480-byte transfer in about 33 ms; a transfer still
// pending after this long is given up and asked for again while the cycle runs.
constexpr double kTransferWaitMs = 50;
// How long the bench waits for the previous cycle's reader, which was told
// to stop when the cycle lowered SincosActive.
constexpr double kPreviousReaderWaitMs = 100;

}  // namespace

// ------------------------------------------------------------ the command

void SinCosTest::startOrStop()
{
    BenchView& view = ctx_.view;
    BenchState& st = ctx_.state;
    CommandFlags& f = ctx_.flags();

    if (!Guards(ctx_, Operation::SinCos).idle({Busy::AbsTest, Busy::Resolution}).configured().idle({Busy::Reading}).sinCos())
        return;

    if (active_) {
        view.killTimer(kTimerSinCos);
        benchSleep(10);
        f.lower(Flag::SincosActive);
        f.lower(Flag::StopCmd);
        ++cycle_;
        view.setText(Control::SincosTest, kSinCosEndedCaption);
        view.setEnabled(Control::SincosTest, true);
        endTest();
        return;
    }

    // A reader of an earlier test still finishing would write into the
    // store this test starts with.
    ++cycle_;
    if (!previousReaderFinished())
        return;
    f.raise(Flag::SincosActive);
    view.killTimer(kTimerAbsTest);
    view.killTimer(kTimerCapture);
    editor_.takeEdits();
    st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    display_.decodeFrame(st.lastRawFrame.load());

    capture_.clear();
    analysis_ = SinCosAnalysis{};
    shownSequence_ = 0;
    shownCount_.clear();
    cyclesRun_ = 0;
    cyclesWithSamples_ = 0;
    closed_ = false;
    active_ = true;

    view.startTimer(kTimerSinCos, kTimerPeriodMs[kTimerSinCos]);
    view.setText(Control::SincosTest, kSinCosRunningCaption);
    benchSleep(100);
    DialogHost& dialogs = view.dialogs();
    dialogs.openDialog(DialogKind::SinCos);
    dialogs.sinCos().reset();
    dialogs.hideMainWindow();
}

void SinCosTest::endTest()
{
    DialogHost& dialogs = ctx_.view.dialogs();
    active_ = false;
    closed_ = false;
    dialogs.closeDialog(DialogKind::SinCos);
    dialogs.showMainWindow();
}

void SinCosTest::onStopAll()
{
    ++cycle_;
    if (active_)
        endTest();
}

// ------------------------------------------------------------ the cycle

void SinCosTest::tick()
{
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    if (closed_) {
        view.killTimer(kTimerSinCos);
        benchSleep(10);
        f.lower(Flag::SincosActive);
        ++cycle_;
        f.raise(Flag::StopCmd);
        ctx_.box.send();
        benchSleep(50);
        view.setProgress(Control::ResolutionProgress, 0);
        f.lower(Flag::StopCmd);
        view.setText(Control::SincosTest, kSinCosEndedCaption);
        view.setEnabled(Control::SincosTest, true);
        endTest();
        return;
    }

    // The box stops, the reader of the last cycle lets go.
    f.lower(Flag::SincosActive);
    const std::uint64_t cycle = ++cycle_;
    benchSleep(1);
    ctx_.box.stop(5);
    // One reader at a time: the last cycle's reader has let go before the
    // box streams again.
    if (!previousReaderFinished())
        return;

    // What the box streamed after the last transfer is stale.
    if (cycled_) {
        requestDrainRead(ctx_.link);
        benchSleep(10);
    }

    if (!ctx_.box.startMode(Flag::SincosActive))
        return;
    // Counted before the reader can store, so no reading sees more cycles
    // with samples than cycles run.
    ++cyclesRun_;
    reader_ = ctx_.link.workers.start([this, cycle] { runReader(cycle); });
    if (!reader_) {
        --cyclesRun_;
        return;
    }
    view.setEnabled(Control::SincosTest, true);
    cycled_ = true;
}

bool SinCosTest::readerIsRunning() const
{
    return reader_ && ctx_.link.workers.isRunning(reader_);
}

bool SinCosTest::previousReaderFinished()
{
    for (double waited = 0; readerIsRunning() && waited < kPreviousReaderWaitMs; waited += 1)
        benchSleep(1);
    return !readerIsRunning();
}

void SinCosTest::runReader(std::uint64_t cycle)
{
    BoxLink& link = ctx_.link;
    CommandFlags& f = ctx_.flags();
    auto current = [&] { return f.isUp(Flag::SincosActive) && cycle_.load() == cycle; };

    if (link.removalSeen || !link.usbDevice || !link.usbDevice->isOpen() || !link.inEndpoint.present()) {
        // Nothing to read from: the test ends and the main window comes back.
        ctx_.stopAll();
        return;
    }

    std::vector<std::uint8_t> buffer(kSinCosTransferBytes);
    BoundedRead request;
    request.length = static_cast<int>(kSinCosTransferBytes);
    request.limitMs = kTransferWaitMs;
    request.keepWaiting = current;
    // One transfer per cycle; a wait that ends keeps it pending for the next.
    const auto session = link.inPump.open({static_cast<int>(kSinCosTransferBytes), 1, kTransferWaitMs});
    while (current()) {
        ctx_.view.setProgress(Control::ResolutionProgress, 1);
        const ReadOutcome r = session->next(buffer.data(), request);
        if (r.ok()) {
            if (cycle_.load() == cycle) {
                capture_.storeTransfer(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(r.bytes)));
                ++cyclesWithSamples_;
            }
            return;
        }
        if (r.status == ReadStatus::NoEndpoint || link.removalSeen) {
            ctx_.stopAll();
            return;
        }
        if (r.status == ReadStatus::Stopped || r.status == ReadStatus::Cancelled)
            return;
        // Failed or not complete in time: ask again while the cycle runs. A
        // transfer that failed at once (a stalled endpoint) is asked again
        // only after the wait it would have had, not in a loop.
        if (r.status == ReadStatus::Failed && r.waitedMs < kTransferWaitMs)
            benchSleep(kTransferWaitMs - r.waitedMs);
    }
}

// ------------------------------------------------------------ the dialog

void SinCosTest::refresh()
{
    if (!active_ || closed_)
        return;
    SinCosView& v = ctx_.view.dialogs().sinCos();
    const SinCosSnapshot snap = capture_.snapshot();
    const SinCosRefresh r = analysis_.refresh(snap);

    const QString count = QString::fromStdString(r.count);
    if (count != shownCount_) {
        v.setField(SinCosField::Count, count);
        shownCount_ = count;
    }
    // The charts are given samples only when a transfer brought new ones.
    if (snap.ready && snap.sequence != shownSequence_) {
        shownSequence_ = snap.sequence;
        v.showTraces(std::make_shared<const SinCosTraces>(snap.tracks));
    }

    auto show = [&v](SinCosField field, const std::string& text) { v.setField(field, QString::fromStdString(text)); };
    if (r.plus) {
        show(SinCosField::CosPlusOffset, r.plus->cosOffset);
        show(SinCosField::CosPlusPeakToPeak, r.plus->cosPeakToPeak);
        show(SinCosField::SinPlusOffset, r.plus->sinOffset);
        show(SinCosField::SinPlusPeakToPeak, r.plus->sinPeakToPeak);
        show(SinCosField::PhasePlus, r.plus->phase);
    }
    if (r.minus) {
        show(SinCosField::CosMinusOffset, r.minus->cosOffset);
        show(SinCosField::CosMinusPeakToPeak, r.minus->cosPeakToPeak);
        show(SinCosField::SinMinusOffset, r.minus->sinOffset);
        show(SinCosField::SinMinusPeakToPeak, r.minus->sinPeakToPeak);
        show(SinCosField::PhaseMinus, r.minus->phase);
    }
    if (r.fitted()) {
        v.setCollectionCaption(kSinCosCollection);
        ctx_.conclude(Outcome::verdict(Operation::SinCos, true,
                                       SinCosResult{*r.plus, r.minus, r.zPlus, r.zMinus, fittedTracks(snap)}));
    }
    if (r.zPlus) {
        show(SinCosField::ZPlusOffset, r.zPlus->offset);
        show(SinCosField::ZPlusPeakToPeak, r.zPlus->peakToPeak);
    }
    if (r.zMinus) {
        show(SinCosField::ZMinusOffset, r.zMinus->offset);
        show(SinCosField::ZMinusPeakToPeak, r.zMinus->peakToPeak);
    }
}

void SinCosTest::collection()
{
    if (!active_ || closed_)
        return;
    const bool armed = analysis_.toggleCollection();
    ctx_.view.dialogs().sinCos().setCollectionCaption(armed ? kSinCosTurning : kSinCosCollection);
}

void SinCosTest::backToHome()
{
    DialogHost& dialogs = ctx_.view.dialogs();
    if (active_) {
        closed_ = true;
        analysis_.disarm();
    }
    dialogs.closeDialog(DialogKind::SinCos);
}
