#pragma once
// "sincos test": the analysis of an analog sin/cos encoder. While it runs
// the main window gives way to the analysis dialog. Timer 2 runs one capture
// cycle every 350 ms (stop, drain, stream, one sample reader of 20480
// bytes); the dialog asks for a refresh every 50 ms, arms the ellipse fit
// with "Collection" and ends the test with "Back to home".
#include "bench/bench_context.h"
#include "sincos/sincos_analysis.h"
#include "sincos/sincos_capture.h"

#include <QString>
#include <atomic>
#include <cstdint>

class FrameDisplay;
class SettingsEditor;

// Captions of the main window's "sincos test" button while the test runs
// and after it ended.
inline const QString kSinCosRunningCaption = QStringLiteral("Spot_sincos");
inline const QString kSinCosEndedCaption = QStringLiteral("sincos_test");

class SinCosTest {
public:
    SinCosTest(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }

    // "sincos test": starts the test, or ends a running one.
    void startOrStop();
    // The test runs (from its start until the cycle after the dialog closed).
    bool running() const { return active_.load(); }
    // Timer 2: one capture cycle, or the end of the test once the dialog closed.
    void tick();

    // --- The analysis dialog ---
    // Its 50 ms refresh: count, charts, Z and, when armed, the fit.
    void refresh();
    // "Collection": arms or disarms the fit.
    void collection();
    // "Back to home" or the dialog's close box: the dialog goes, the next
    // cycle ends the test.
    void backToHome();

    // Stop-all (any thread): the test ends at once, the dialog closes and the
    // main window comes back.
    void onStopAll();

    // The sample reader's body for capture cycle `cycle`.
    void runReader(std::uint64_t cycle);

    // Of the current (or last) test: the cycles that sent their stream command
    // and started a sample reader, and those whose reader stored a transfer.
    // Any thread.
    std::uint64_t cyclesRun() const { return cyclesRun_.load(); }
    std::uint64_t cyclesWithSamples() const { return cyclesWithSamples_.load(); }

private:
    bool readerIsRunning() const;
    // Waits briefly for the previous cycle's reader to end; false if it still runs.
    bool previousReaderFinished();
    void endTest();

    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;

    std::atomic<bool> active_{false};
    std::atomic<bool> closed_{false};  // the dialog has closed; the next tick ends the test
    bool cycled_ = false;              // a capture cycle has run: later cycles drain first
    // Moves on with every cycle and every stop, so a late reader of an
    // earlier cycle stores nothing.
    std::atomic<std::uint64_t> cycle_{0};
    WorkerHandle reader_;
    std::atomic<std::uint64_t> cyclesRun_{0};
    std::atomic<std::uint64_t> cyclesWithSamples_{0};

    SinCosCapture capture_;
    SinCosAnalysis analysis_;  // bench thread
    std::uint64_t shownSequence_ = 0;
    QString shownCount_;
};
