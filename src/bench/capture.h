#pragma once
// Captures: "Save file" (a toggle), the hot key Ctrl+Alt+S, timed captures on
// timer 1, the automatic cycle on timer 5, and the end of a capture - the save
// dialog, the decimal report, or the next numbered file.
//
// One capture worker per capture. It keeps one bounded inbound transfer
// pending, stores each transfer as a 40960-byte block, and after the stop
// waits (bounded) for the box's acknowledgement, which it handles itself.
// The capture file has one owner (CaptureFile): stop-all closes it from any
// thread, and the worker writes only while it is open.
#include "bench/bench_context.h"
#include "bench/capture_file.h"
#include "bench/capture_fate.h"
#include "bench/outcome.h"
#include "interface/mode_flags.h"
#include "measure/capture_stream.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

class InSession;
class SettingsEditor;

// A timed capture's parameters: its length, where the file goes (instead of
// the save dialog at the end) and whether it becomes a decimal report.
struct CaptureStart {
    int seconds = 3;
    QString destination;
    bool decimal = false;
};

inline const QString kMsgCaptureBroken = QStringLiteral("数据传输出错");
inline const QString kMsgUnacknowledged =
    QStringLiteral("The box did not acknowledge the end of the capture; the data up to the stop are kept");
inline const QString kMsgCaptureFault = QStringLiteral("The capture ended because %1; the data up to then are kept");
inline const QString kCaptionSaveFile = QStringLiteral("Save file");
inline const QString kCaptionStopCollecting = QStringLiteral("Stop Collecting");
inline const QStringList kCaptureFilters{"(*.txt) (*.txt)", "Word(*.doc) (*.doc)", "all(*.*) (*.*)"};

// The hot key's identifier; other identifiers are ignored.
inline constexpr int kCaptureHotKeyId = 199;
// Ticks of timer 5 (1 s) between two captures of the automatic cycle.
inline constexpr int kAutoSavePauseTicks = 1800;
// Bench ms the worker waits for the acknowledgement after the stop packet.
inline constexpr double kCaptureAckWaitMs = 3000;
// Bench ms one capture transfer may take before the box counts as silent (a
// full transfer takes under a second at the box's slowest record rate).
inline constexpr double kCaptureTransferLimitMs = 5000;

class Capture {
public:
    enum class Phase {
        Idle,
        Capturing,  // SaveActive up, the worker storing blocks
        Stopping,   // StopCmd up, the worker waiting for the acknowledgement
        Finishing,  // acknowledged; the save dialog or the report is under way
    };

    Capture(BenchContext& ctx, SettingsEditor& editor);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // "Save file": starts a capture, or stops the running one. False when
    // the press was refused and did nothing.
    bool saveFile();
    // A timed capture with these parameters (shown in their controls); ends
    // with an Operation::Capture outcome. False when refused.
    bool start(const CaptureStart& start);
    // The hot key: marks the capture as a hot-key capture, then acts exactly
    // like "Save file". A refused press leaves no mark behind.
    void hotKey(int id);

    // The check boxes of the capture row.
    void onTimedCaptureToggled(bool on);
    void onAutoSaveToggled(bool on);
    void onSaveAsDecimalToggled(bool on);

    // Timer 1 (500 ms): lamp blink and timed stop.
    void tick();
    // Timer 5 (1 s): the pause of the automatic cycle, then the next capture.
    void pauseTick();
    bool capturing() const { return phase_.load() == Phase::Capturing; }
    bool pausing() const { return pausing_.load(); }

    // Part of stop-all (any thread): ends a running capture, closes its file
    // and clears the hot-key mark. A capture already being finished goes on.
    void onStopAll();
    // The box left the bus: the stop-all that follows keeps the capture.
    void onBoxRemoval() { unplugged_ = true; }

    // text/ under the data root.
    static QString captureDirectory();

    Phase phase() const { return phase_.load(); }
    std::int64_t halfSecondTicks() const { return halfSecondTicks_.load(); }
    std::int64_t pauseTicks() const { return pauseTicks_.load(); }
    bool hotKeyMarked() const { return hotKeyCapture_.load(); }
    // The file the running (or last) capture writes to.
    QString filePath() const { return file_.path(); }

private:
    // Start sequence; `automatic`: the restart of the automatic cycle.
    bool startCapture(bool automatic);
    void stopCapture();
    // The guards of "Save file" after the edits are taken, without messages
    // for the automatic restart.
    bool startRefused(bool withMessages);
    void powerOffAndPause();

    void runWorker(std::uint64_t run, ModeFlags modes, InSession& session);
    void finish(std::uint64_t run, const StopAck* ack, ModeFlags modes);
    // Screen and timer back to idle at the end of a capture.
    void showIdle();
    // On the bench thread: the acknowledged capture goes where it belongs
    // and the outcome says where.
    void land(const QString& path, std::int64_t bytes, bool quiet, bool decimal, bool numbered,
              CaptureResult::Status status, const QString& message);
    // The worker found the box failing: the file so far is kept and handed
    // over as a finished capture, with `why` told.
    void handOn(std::uint64_t run, CaptureResult::Status status, const QString& why);
    // How a capture ends: a hot-key or automatic one quietly, a decimal
    // report, or a numbered file.
    struct Ending {
        bool quiet, decimal, numbered;
    };
    // The ending, with the hot-key mark cleared.
    Ending takeEnding();
    // The closed working file goes on to the bench thread's land().
    void handOver(Ending ending, const QString& path, std::int64_t bytes, CaptureResult::Status status,
                  const QString& message);
    // The worker ends run `run` with `outcome` through stop-all.
    void endWith(std::uint64_t run, Outcome outcome);

    BenchContext& ctx_;
    SettingsEditor& editor_;

    std::atomic<Phase> phase_{Phase::Idle};
    // Moves on with every capture and every stop-all: a worker whose run is
    // no longer current leaves without writing.
    std::atomic<std::uint64_t> run_{0};
    std::atomic<bool> pausing_{false};
    std::atomic<bool> unplugged_{false};
    std::atomic<bool> hotKeyCapture_{false};
    std::atomic<bool> timedCapture_{true};
    std::atomic<bool> autoSave_{false};
    std::atomic<bool> saveAsDecimal_{false};
    std::atomic<bool> numberedTarget_{false};
    std::atomic<std::int64_t> halfSecondTicks_{0};
    std::atomic<std::int64_t> pauseTicks_{0};
    WorkerHandle worker_;
    CaptureFile file_;
    CaptureFate fate_;
    std::mutex endMutex_;
    std::uint64_t faultRun_ = ~0ull; // the run that endWith() ends
    std::optional<Outcome> fault_;
};
