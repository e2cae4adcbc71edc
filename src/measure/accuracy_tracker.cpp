#include "measure/accuracy_tracker.h"

#include <algorithm>
#include <cmath>

AccuracyTracker::AccuracyTracker(int maxErrors) : maxErrors_(std::max(0, maxErrors)) {}

void AccuracyTracker::start()
{
    steps_ = 0;
    travel_ = 0.0;
    previousAngle_ = 0.0;
    errors_.clear();
    dropped_ = 0;
    trace_.clear();
}

double circularDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

AccuracySampleEffect AccuracyTracker::addSample(double angle)
{
    AccuracySampleEffect effect;
    if (steps_ > kAccuracyWarmUpSteps) {
        effect.counted = true;
        effect.change = std::fabs(previousAngle_ - angle);
        travel_ += effect.change;
        if (circularDistance(previousAngle_, angle) >= kAccuracyJumpMin) {
            effect.error = true;
            if (static_cast<int>(errors_.size()) < maxErrors_) {
                errors_.push_back(previousAngle_);
            } else {
                effect.listFull = true;
                ++dropped_;
            }
        }
    }
    previousAngle_ = angle;
    if (trace_.size() < kAccuracyTraceMax)
        trace_.push_back({steps_, angle, effect.error});
    return effect;
}

bool AccuracyTracker::stepDone()
{
    if (steps_ < kAccuracySteps)
        ++steps_;
    return finished();
}

int AccuracyTracker::progress() const
{
    return accuracyProgress(steps_);
}

AccuracyVerdict AccuracyTracker::verdict() const
{
    return accuracyVerdict(travel_, static_cast<std::int64_t>(errors_.size()) + dropped_);
}

int accuracyProgress(int stepsDone)
{
    const int steps = std::clamp(stepsDone, 0, kAccuracySteps);
    return kAccuracyProgressRange * steps / kAccuracySteps;
}

AccuracyVerdict accuracyVerdict(double travel, std::int64_t errorCount)
{
    if (!(travel >= kAccuracyFullTurn))
        return AccuracyVerdict::NotTurning;
    return errorCount == 0 ? AccuracyVerdict::Pass : AccuracyVerdict::Errors;
}

void AccuracyErrorBrowser::load(std::vector<double> errorAngles)
{
    errors_ = std::move(errorAngles);
    index_ = limit();
}

void AccuracyErrorBrowser::clear()
{
    errors_.clear();
    index_ = 0;
}

void AccuracyErrorBrowser::take(int typedIndex)
{
    index_ = limit() == 0 ? 0 : std::clamp(typedIndex, 1, limit());
}

std::optional<double> AccuracyErrorBrowser::stepTowardsFirst(int typedIndex)
{
    take(typedIndex);
    if (index_ > 1)
        --index_;
    return shown();
}

std::optional<double> AccuracyErrorBrowser::stepTowardsLast(int typedIndex)
{
    take(typedIndex);
    if (index_ < limit())
        ++index_;
    return shown();
}

std::optional<double> AccuracyErrorBrowser::shown() const
{
    if (index_ < 1 || index_ > limit())
        return std::nullopt;
    return errors_[static_cast<std::size_t>(index_ - 1)];
}
