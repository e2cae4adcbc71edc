#include "bench/capture.h"

#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "common/logging.h"
#include "link/bounded_read.h"
#include "measure/capture_files.h"
#include "measure/decimal_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <memory>

namespace {

const QString kMsgCannotCreate = QStringLiteral("Cannot create the capture file %1: %2");
const QString kMsgCannotWrite = QStringLiteral("Cannot write the capture file %1: %2");

// Transfers that fail one after another before the capture gives up (a
// failing endpoint would otherwise spin the worker).
constexpr int kMaxFailedTransfers = 50;

}  // namespace

Capture::Capture(BenchContext& ctx, SettingsEditor& editor) : ctx_(ctx), editor_(editor), fate_(ctx) {}

Capture::~Capture() = default;

QString Capture::captureDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/text";
}

// ------------------------------------------------------------ commands

bool Capture::saveFile()
{
    // A press while a capture runs always stops it, whatever the edits hold.
    if (phase_.load() == Phase::Capturing) {
        stopCapture();
        return true;
    }
    BenchModes modes(ctx_);
    if (!Guards(ctx_, Operation::Capture).refuseIf(modes.powerOff() || modes.is(Busy::SinCos)))
        return false;
    // The bus is searched before the endpoint check, so a box that came
    // without a hot-plug event is found. A box already open is the one the
    // search would find; it is not reopened under a running stream.
    if (!ctx_.link.inEndpoint.present() && ctx_.link.usbDevice)
        ctx_.view.setTitle(QString::fromStdString(findBox(ctx_.link)));
    if (!Guards(ctx_, Operation::Capture).boxPresent())
        return false;
    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::Capture, editor_.editError()));
        return false;
    }
    if (startRefused(true))
        return false;
    return startCapture(false);
}

bool Capture::start(const CaptureStart& start)
{
    if (phase_.load() != Phase::Idle) {
        ctx_.refuse(Operation::Capture, {});
        return false;
    }
    // The parameters are shown in their controls, as if the user set them.
    ctx_.showEditText(Control::CaptureSeconds, QString::number(start.seconds));
    ctx_.view.setChecked(Control::TimedCapture, true);
    onTimedCaptureToggled(true);
    ctx_.view.setChecked(Control::SaveAsDecimal, start.decimal);
    saveAsDecimal_ = start.decimal;
    fate_.setDestination(start.destination);
    const bool started = saveFile();
    if (!started)
        fate_.clearDestination();
    return started;
}

void Capture::hotKey(int id)
{
    if (id != kCaptureHotKeyId)
        return;
    // The mark of a capture still being acknowledged stays; a refused press
    // adds none, so a later press of the button is not taken for the key.
    const bool before = hotKeyCapture_.exchange(true);
    if (!saveFile())
        hotKeyCapture_ = before;
}

bool Capture::startRefused(bool withMessages)
{
    BenchState& st = ctx_.state;
    Guards g(ctx_, withMessages ? std::optional(Operation::Capture) : std::nullopt);
    g.refuseIf(st.captureSeconds.load() == 0)
        .idle({Busy::AbsTest, Busy::Reading, Busy::Configuring, Busy::Resolution, Busy::PoweringOn});
    if (withMessages)
        g.configured();
    else
        g.refuseIf(!st.configApplied.load());
    g.idle({Busy::ResetAngle, Busy::ResetTurns})
        // Other operations keep their timers: while one of them is under way
        // the capture is refused rather than stranding it.
        .idle({Busy::AbsStep, Busy::Force, Busy::Eeprom})
        // The previous capture is still being acknowledged or handed over.
        .refuseIf(phase_.load() != Phase::Idle);
    return !g;
}

void Capture::onTimedCaptureToggled(bool on)
{
    timedCapture_ = on;
    editor_.takeEdits();
    ctx_.view.setEnabled(Control::CaptureSeconds, !on);
}

void Capture::onAutoSaveToggled(bool on)
{
    // Ends the blinking and timed stop of a running capture and the pause of
    // the cycle; the timers of other operations are theirs.
    ctx_.view.killTimer(kTimerCapture);
    ctx_.view.killTimer(kTimerAutoSave);
    pausing_ = false;
    autoSave_ = on;
}

void Capture::onSaveAsDecimalToggled(bool on)
{
    saveAsDecimal_ = on;
}

// ------------------------------------------------------------ sequences

bool Capture::startCapture(bool automatic)
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    view.killTimer(kTimerCapture);
    view.killTimer(kTimerAutoSave);
    pausing_ = false;

    f.lower(Flag::SaveActive);
    ctx_.box.stop(100);
    st.link.lastReadOk = false;
    const bool numbered = automatic || autoSave_ || hotKeyCapture_;
    if (automatic || autoSave_)
        ctx_.box.powerOn(automatic ? 10 : 20);
    // Whatever an earlier stream left in the box goes now, before the 5A
    // packet, so this read cannot take the capture's first bytes.
    if (st.drainArmed)
        drainNow(st.link);
    st.drainArmed = true;

    const QString dir = captureDirectory();
    QString path = dir;
    QString error;
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("the folder cannot be created");
    } else if (numbered) {
        path = fate_.nextNumberedPath();
        if (path.isEmpty())
            error = QStringLiteral("no free file number");
    } else {
        path = captureFilePath(dir, kCaptureWorkingName);
    }
    if (error.isEmpty())
        error = file_.open(path);
    if (!error.isEmpty()) {
        // Nothing is started: no 5A held, no worker.
        ctx_.refuse(Operation::Capture, kMsgCannotCreate.arg(path, error));
        return false;
    }

    numberedTarget_ = numbered;
    const ModeFlags modes = st.settingsSnapshot().modes;
    const std::uint64_t run = ++run_;
    phase_ = Phase::Capturing;
    f.raise(Flag::SaveActive);
    // The worker's transfers are queued before the 5A packet goes out, so the
    // box's first packets find them waiting.
    std::shared_ptr<InSession> session = st.link.inPump.open({kCaptureBlockBytes, 0, kCaptureTransferLimitMs});
    worker_ = st.link.workers.start([this, run, modes, session] { runWorker(run, modes, *session); });
    const SendTicket sender = worker_ ? ctx_.box.send() : SendTicket{};
    benchSleep(10);
    if (!sender) {
        ctx_.stopAll();
        return false;
    }
    if (run_.load() != run)
        return false;  // stop-all came first
    halfSecondTicks_ = 0;
    view.startTimer(kTimerCapture, kCaptureTickMs);
    view.setEnabled(Control::TimedCapture, false);
    view.setText(Control::SaveFile, kCaptionStopCollecting);
    qCDebug(lcBench) << "capture into" << path;
    return true;
}

void Capture::stopCapture()
{
    Phase expected = Phase::Capturing;
    if (!phase_.compare_exchange_strong(expected, Phase::Stopping))
        return;
    CommandFlags& f = ctx_.flags();
    // StopCmd goes up before SaveActive comes down: the packet is 6A either
    // way, and the worker sees a capture without a gap.
    f.raise(Flag::StopCmd);
    f.lower(Flag::SaveActive);
    ctx_.box.send();
    benchSleep(20);
    benchSleep(100);
    ctx_.view.killTimer(kTimerCapture);
}

void Capture::tick()
{
    const std::int64_t ticks = ++halfSecondTicks_;
    ctx_.view.setLamp(Control::CaptureLamp, captureLampLit(ticks) ? LampImage::Lit : LampImage::Unlit);
    if (!timedCaptureStopsAt(ticks, timedCapture_.load(), ctx_.state.captureSeconds.load()))
        return;
    stopCapture();
    if (autoSave_)
        powerOffAndPause();
}

void Capture::powerOffAndPause()
{
    ctx_.box.pulse(Flag::PowerOffCmd, 10);
    pauseTicks_ = 0;
    pausing_ = true;
    ctx_.view.startTimer(kTimerAutoSave, kTimerPeriodMs[kTimerAutoSave]);
}

void Capture::pauseTick()
{
    if (pauseTicks_.load() < kAutoSavePauseTicks)
        ++pauseTicks_;
    if (pauseTicks_.load() < kAutoSavePauseTicks)
        return;
    // Due. A bench busy with something else is asked again on the next tick.
    BenchModes modes(ctx_);
    if (modes.powerOff() || modes.is(Busy::SinCos) || !ctx_.link.inEndpoint.present() || startRefused(false))
        return;
    ctx_.view.killTimer(kTimerAutoSave);
    pausing_ = false;
    pauseTicks_ = 0;
    startCapture(true);
}

void Capture::onStopAll()
{
    const std::uint64_t run = run_++;
    // A box pulled off the bus ends the capture through stop-all: what it
    // sent until then is handed over like a finished capture.
    const bool unplugged = unplugged_.exchange(false) || ctx_.link.removalSeen.load();
    const Ending ending = takeEnding();
    pausing_ = false;
    Phase p = phase_.load();
    while (p == Phase::Capturing || p == Phase::Stopping) {
        if (unplugged && phase_.compare_exchange_weak(p, Phase::Finishing)) {
            file_.close();
            showIdle();
            const QString path = file_.path();
            handOver(ending, path, QFileInfo(path).size(), CaptureResult::Status::Unplugged,
                     kMsgCaptureFault.arg(QStringLiteral("the box was removed")));
            break;
        }
        if (!unplugged && phase_.compare_exchange_weak(p, Phase::Idle)) {
            file_.close();
            ctx_.view.setText(Control::SaveFile, kCaptionSaveFile);
            fate_.clearDestination();
            std::optional<Outcome> end;
            {
                std::lock_guard lock(endMutex_);
                if (faultRun_ == run)
                    end = std::move(fault_);
                fault_.reset();
            }
            ctx_.conclude(end ? *end : Outcome::stopped(Operation::Capture));
            break;
        }
    }
}

void Capture::endWith(std::uint64_t run, Outcome outcome)
{
    if (run_.load() != run)
        return;
    {
        std::lock_guard lock(endMutex_);
        faultRun_ = run;
        fault_ = std::move(outcome);
    }
    ctx_.stopAll();
}

// ------------------------------------------------------------ worker

void Capture::runWorker(std::uint64_t run, ModeFlags modes, InSession& session)
{
    BoxLink& link = ctx_.link;
    auto rx = std::make_unique<CaptureReceiver>();
    auto active = [this, run] {
        const Phase p = phase_.load();
        return run_.load() == run && (p == Phase::Capturing || p == Phase::Stopping);
    };
    // The box failed the capture: what it sent before is kept and offered
    // as a finished capture would be.
    auto failed = [this, run](CaptureResult::Status status, const QString& why) { handOn(run, status, why); };
    std::int64_t ackDeadline = 0;  // bench µs, from the moment the stop is seen
    int failures = 0;

    while (active()) {
        if (link.removalSeen.load()) {
            failed(CaptureResult::Status::Unplugged, QStringLiteral("the box was removed"));
            return;
        }
        double limitMs = kCaptureTransferLimitMs;
        if (phase_.load() == Phase::Stopping) {
            const std::int64_t now = benchClock().nowMicros();
            if (ackDeadline == 0)
                ackDeadline = now + static_cast<std::int64_t>(kCaptureAckWaitMs * 1000);
            limitMs = static_cast<double>(ackDeadline - now) / 1000.0;
            if (limitMs <= 0) {
                finish(run, nullptr, modes);  // no acknowledgement: a broken stream
                return;
            }
        }
        // The session keeps 40960-byte transfers queued: the box fills each
        // one whole while it streams, so every file block is as the
        // transfer-by-transfer request would have made it.
        BoundedRead request;
        request.length = kCaptureBlockBytes;
        request.limitMs = limitMs;
        request.keepWaiting = active;
        const ReadOutcome r = session.next(rx->data(), request);
        switch (r.status) {
        case ReadStatus::Ok:
            failures = 0;
            break;
        case ReadStatus::Stopped:
            continue;
        case ReadStatus::Cancelled:
            // Stop-all ends the run before it cancels the reads, so a run
            // still going has a session that never got the endpoint: it
            // would only spin.
            if (active())
                failed(CaptureResult::Status::BoxFailed, QStringLiteral("the box's IN endpoint was held by another reader"));
            return;
        case ReadStatus::TimedOut:
            if (phase_.load() == Phase::Stopping)
                continue;  // the deadline above ends it
            // The box stopped streaming while the capture ran.
            failed(CaptureResult::Status::BoxSilent, QStringLiteral("the box stopped streaming"));
            return;
        case ReadStatus::NoEndpoint:
            failed(CaptureResult::Status::Unplugged, QStringLiteral("the box has no IN endpoint"));
            return;
        case ReadStatus::Failed:
            // What the box sent before an unplug cut the transfer off is
            // capture data like any other.
            if (r.bytes > 0 && !file_.append(rx->takeBlock(r.bytes)))
                return;  // closed by stop-all, or the write failed: the next loop says which
            if (++failures >= kMaxFailedTransfers) {
                failed(CaptureResult::Status::BoxFailed, QStringLiteral("the box's transfers failed"));
                return;
            }
            benchSleep(1);
            continue;
        }

        if (phase_.load() == Phase::Stopping) {
            if (const std::optional<StopAck> ack = parseStopAck(rx->delivered(r.bytes))) {
                finish(run, &*ack, modes);
                return;
            }
        }
        // Every other transfer is capture data, also the partial one that the
        // stop ends; an empty one adds nothing.
        if (r.bytes <= 0)
            continue;
        if (!file_.append(rx->takeBlock(r.bytes))) {
            if (run_.load() != run || !file_.isOpen())
                return;  // closed by stop-all
            const QString path = file_.path();
            const QString message = kMsgCannotWrite.arg(path, file_.errorText());
            CaptureResult result;
            result.status = CaptureResult::Status::WriteError;
            result.file = QFileInfo(path).absoluteFilePath();
            Outcome end = Outcome::verdict(Operation::Capture, false, result);
            end.message = message;
            endWith(run, std::move(end));
            ctx_.view.showMessage(message);
            return;
        }
    }
}

void Capture::showIdle()
{
    BenchView& view = ctx_.view;
    view.killTimer(kTimerCapture);
    halfSecondTicks_ = 0;
    view.setLamp(Control::CaptureLamp, LampImage::Unlit);
    view.setText(Control::SaveFile, kCaptionSaveFile);
    view.setEnabled(Control::TimedCapture, true);
}

void Capture::finish(std::uint64_t run, const StopAck* ack, ModeFlags modes)
{
    Phase expected = Phase::Stopping;
    if (run_.load() != run || !phase_.compare_exchange_strong(expected, Phase::Finishing))
        return;  // stop-all ended the capture meanwhile
    ctx_.flags().lower(Flag::StopCmd);
    file_.close();
    const QString path = file_.path();
    const qint64 bytes = QFileInfo(path).size();
    showIdle();

    if (ack && captureEndFor(*ack, modes) == CaptureEnd::TransmissionError) {
        // A broken stream is not kept, in the working file or a numbered one.
        QFile::remove(path);
        hotKeyCapture_ = false;
        phase_ = Phase::Idle;
        fate_.clearDestination();
        ctx_.view.showMessage(kMsgCaptureBroken);
        CaptureResult result;
        result.status = CaptureResult::Status::TransmissionError;
        result.bytes = bytes;
        result.ackStatus = ack ? ack->status : -1;
        Outcome end = Outcome::verdict(Operation::Capture, false, result);
        end.message = kMsgCaptureBroken;
        ctx_.conclude(end);
        return;
    }
    // No acknowledgement within the wait: the data up to the stop may well
    // be complete, so they are kept, and the user is told.
    handOver(takeEnding(), path, bytes, ack ? CaptureResult::Status::Ok : CaptureResult::Status::Unacknowledged,
             ack ? QString() : kMsgUnacknowledged);
}

Capture::Ending Capture::takeEnding()
{
    return {hotKeyCapture_.exchange(false) || autoSave_.load(), saveAsDecimal_.load(), numberedTarget_.load()};
}

void Capture::handOn(std::uint64_t run, CaptureResult::Status status, const QString& why)
{
    Phase p = phase_.load();
    if (run_.load() != run || (p != Phase::Capturing && p != Phase::Stopping) ||
        !phase_.compare_exchange_strong(p, Phase::Finishing))
        return;  // stop-all ended the capture meanwhile
    file_.close();
    const QString path = file_.path();
    const qint64 bytes = QFileInfo(path).size();
    showIdle();
    // Taken before stop-all clears the hot-key mark.
    const Ending ending = takeEnding();
    // The bench goes back to idle; a capture being finished is left alone.
    ctx_.stopAll();
    handOver(ending, path, bytes, status, kMsgCaptureFault.arg(why));
}

void Capture::handOver(Ending e, const QString& path, std::int64_t bytes, CaptureResult::Status status,
                       const QString& message)
{
    // The worker's part ends here; the save dialog, the report or the
    // numbered file are the bench thread's.
    ctx_.onBenchThread([=, this] { land(path, bytes, e.quiet, e.decimal, e.numbered, status, message); });
}

void Capture::land(const QString& path, std::int64_t bytes, bool quiet, bool decimal, bool numbered,
                   CaptureResult::Status status, const QString& message)
{
    if (!message.isEmpty())
        ctx_.view.showMessage(message);
    QString landed;
    if (numbered) {
        // A numbered capture stays where it is.
        landed = path;
    } else if (quiet) {
        // A manual capture ended by the hot key or during the automatic
        // cycle is not left in the working file, where the next one would
        // overwrite it.
        landed = fate_.keepNumbered(path);
    } else {
        landed = fate_.keepManual(path, decimal);
    }
    phase_ = Phase::Idle;
    CaptureResult result;
    result.status = landed.isEmpty() ? CaptureResult::Status::NotSaved : status;
    result.file = landed.isEmpty() ? QString() : QFileInfo(landed).absoluteFilePath();
    result.bytes = bytes;
    result.decimal = decimal && !quiet && !numbered;
    Outcome end = Outcome::verdict(Operation::Capture, !landed.isEmpty() && status == CaptureResult::Status::Ok, result);
    end.message = message;
    ctx_.conclude(end);
}

