#pragma once
// "Abs test": the absolute accuracy test. Timer 0 runs 680 steps of 300 ms;
// each step restarts the box's stream and lets a sampler worker take angle
// samples for 40 ms. The tracker turns the samples into travel and jumps;
// the verdict is a pass, the error angles (browsable with the index spin) or
// a request to turn the motor.
#include "bench/bench_context.h"
#include "interface/frame_decoder.h"
#include "measure/accuracy_tracker.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class FrameDisplay;
class SettingsEditor;

inline const QString kMsgTurnTheMotor = QStringLiteral("Please turn the motor with 1 rpm");
// Without a gauge field the angle never moves and the test could only ask
// for the motor to turn.
inline const QString kMsgSetGaugeField = QStringLiteral("Please set the gauge field of the angle");

// The sampler's transfer wait: the box sends a 2048-byte transfer well
// within it while it streams.
inline constexpr double kAccuracyReadWaitMs = 50;
inline constexpr double kAccuracyRxOnlyReadWaitMs = 100;
// The part of a step in which the sampler takes samples.
inline constexpr double kAccuracySamplingMs = 40;
// Transfers the sampler keeps queued: the box's FIFO holds a transfer's worth
// when the window opens, and a window needs one sample, so what the box
// streams past it is not wanted. A deeper queue only costs time at each
// step's start (on libusb every transfer is a URB submitted), which a step
// whose window is 40 ms cannot spare.
inline constexpr int kAccuracySamplerDepth = 1;

class AccuracyTest {
public:
    AccuracyTest(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }

    // The error index edit at start-up.
    void initialiseControls();

    // "Abs test": starts the test, or stops it without a verdict.
    void absTest();
    bool running() const { return active_.load(); }
    // The box came back on the bus: the test ends without a verdict.
    void onBoxArrival();
    // Timer 0: one step; the last one gives the verdict.
    void tick();
    // The spin beside the error index: +1 towards the last error, -1
    // towards the first.
    void onErrorIndexSpin(int direction);
    // Stop-all: the sampler leaves after its current transfer; a running
    // test ends without a verdict.
    void onStopAll();

    // The sampler worker's body for one step.
    void runSampler(const FrameLayout& layout, std::int64_t windowEndMicros);

private:
    void sendAndWait(double ms);
    void waitForWorker(WorkerHandle worker, double limitMs) const;
    void endWithoutVerdict();
    void giveVerdict();
    void showErrorAngle(std::optional<double> angle);

    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;

    // absSampling: the sampler of the current step takes samples.
    std::atomic<bool> sampling_{false};
    // From the start until the verdict or the stop; a late sample is not
    // counted once it drops.
    std::atomic<bool> active_{false};
    WorkerHandle sampler_;

    // Shared by the step tick and the sampler: the verdict never reads the
    // totals while a sample changes them.
    mutable std::mutex mutex_;
    AccuracyTracker tracker_;
    // Bench thread only.
    AccuracyErrorBrowser browser_;
};
