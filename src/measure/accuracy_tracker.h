#pragma once
// The accuracy test's arithmetic: steps, travel, jumps and the verdict, and
// the browser over the error angles found. Not thread-safe: the operation
// guards one tracker with its own lock, shared by the step tick and the
// sampler worker, so the verdict never reads the list while a sample
// appends to it.
#include "measure/result_trace.h"

#include <cstdint>
#include <optional>
#include <vector>

inline constexpr int kAccuracySteps = 680;
inline constexpr int kAccuracyStepMs = 300;
// Samples are not counted until this many steps are done: the motor and the
// box's stream settle first.
inline constexpr int kAccuracyWarmUpSteps = 10;
// A change of the angle between two samples of at least this much, measured
// the short way round the circle, is a jump in the absolute position. The
// wrap from 360 to 0 is no jump however far from 0 the samples fall (one
// near 0 may be skipped), while a jump across the wrap is still found.
inline constexpr double kAccuracyJumpMin = 5.0;

// The distance of two angles on the circle, 0..180 degrees.
double circularDistance(double a, double b);
// The samples must have travelled at least a full turn.
inline constexpr double kAccuracyFullTurn = 360.0;
// The progress bar runs 0..60.
inline constexpr int kAccuracyProgressRange = 60;
// The error index edit takes 0..1310720; the list never grows beyond it.
inline constexpr int kAccuracyMaxErrors = 1310720;
// Samples kept for the plot: the sampler takes about one a step.
inline constexpr std::size_t kAccuracyTraceMax = 16 * kAccuracySteps;

enum class AccuracyVerdict {
    NotTurning,  // travel below a full turn: "Please turn the motor with 1 rpm"
    Pass,        // a full turn without a jump: green check
    Errors,      // jumps found: red lamp, "abs error", the last error shown
};

// What one sample did to the totals.
struct AccuracySampleEffect {
    bool counted = false;  // past the warm-up steps: added to the travel
    double change = 0.0;   // |previous angle - angle| when counted (the travel's term)
    bool error = false;    // the change was a jump
    bool listFull = false; // a jump the bounded list could not keep
};

class AccuracyTracker {
public:
    explicit AccuracyTracker(int maxErrors = kAccuracyMaxErrors);

    // A new test: travel, errors and steps back to zero.
    void start();

    // One sample's angle in degrees. Within the warm-up steps it only becomes
    // the previous angle; afterwards the change counts towards the travel
    // whatever its size, and a jump records the angle where it started.
    AccuracySampleEffect addSample(double angle);

    // The step tick counts a step; true when the test's last step is done.
    bool stepDone();

    int stepsDone() const { return steps_; }
    bool finished() const { return steps_ >= kAccuracySteps; }
    // 60 x steps / 680, integer.
    int progress() const;

    double travel() const { return travel_; }
    double previousAngle() const { return previousAngle_; }
    const std::vector<double>& errorAngles() const { return errors_; }
    int errorCount() const { return static_cast<int>(errors_.size()); }
    // Jumps seen after the list was full; counted for the verdict.
    std::int64_t droppedErrors() const { return dropped_; }
    // Every sample with its step, warm-up included, jumps marked; at most
    // kAccuracyTraceMax, the first ones kept.
    const std::vector<AccuracyTracePoint>& trace() const { return trace_; }

    AccuracyVerdict verdict() const;

private:
    int maxErrors_;
    int steps_ = 0;
    double travel_ = 0.0;
    double previousAngle_ = 0.0;
    std::vector<double> errors_;
    std::int64_t dropped_ = 0;
    std::vector<AccuracyTracePoint> trace_;
};

// 60 x steps / 680, integer division.
int accuracyProgress(int stepsDone);

// The verdict from the totals of a finished test.
AccuracyVerdict accuracyVerdict(double travel, std::int64_t errorCount);

// Browses the error angles of the last completed test with the index edit and
// its spin: index 1 is the first error found, the index after a verdict is
// the last. A typed index is clamped to 1..number of errors before a step, so
// a step never reads outside the list.
class AccuracyErrorBrowser {
public:
    // The errors of a completed test; the index shows the last one.
    void load(std::vector<double> errorAngles);
    // A new test starts: index 0, nothing shown, nothing to browse.
    void clear();

    // One spin step after the index edit was read as typedIndex. Towards the
    // first error the index decreases and stays at 1; towards the last it
    // increases and stays at the number of errors. Returns the angle to
    // show, or nothing when there are no errors.
    std::optional<double> stepTowardsFirst(int typedIndex);
    std::optional<double> stepTowardsLast(int typedIndex);

    int index() const { return index_; }
    int limit() const { return static_cast<int>(errors_.size()); }
    // The angle at the current index, or nothing for index 0.
    std::optional<double> shown() const;

private:
    void take(int typedIndex);

    std::vector<double> errors_;
    int index_ = 0;
};
