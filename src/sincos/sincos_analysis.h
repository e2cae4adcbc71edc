#pragma once
// What the sin/cos analysis dialog shows, worked out from one snapshot of the
// sample store: the position count, the Z readings while Z swings, and the
// ellipse fits of (COS+, SIN+) and (COS−, SIN−) once "Collection" is armed
// and the captured signal swings enough.
#include "sincos/sincos_capture.h"
#include "sincos/sincos_ellipse_fit.h"

#include <cstdint>
#include <optional>
#include <string>

// A track swings when its peak-to-peak reaches this many volts.
constexpr double kSinCosMinSwingVolts = 0.25;
// ... and when at least this many records reached each of its extremes.
constexpr int kSinCosMinExtremeHits = 10;

// True when at least one of SIN+, SIN−, COS+, COS− swings by at least
// 0.25 V and reached its maximum and its minimum at least ten times each.
bool sinCosTracksSwing(const SinCosStatistics& stats);

// True when the Z track (ZPlus or ZMinus) swings by at least 0.25 V.
bool zTrackSwings(const SinCosStatistics& stats, SinCosTrack z);

// One fitted pair, each value under its own track's name.
struct SinCosPairResult {
    double cosOffset = 0.0;      // V, "COS±_DC_offset:"
    double cosPeakToPeak = 0.0;  // V, "COS±_Peak_to_peak:"
    double sinOffset = 0.0;      // V, "SIN±_DC_offset:"
    double sinPeakToPeak = 0.0;  // V, "SIN±_Peak_to_peak:"
    double phaseDegrees = 0.0;   // "phase difference sin±/cos±:"
};

// The ellipse's centre and extent along each track's axis, and its phase.
SinCosPairResult sinCosPairResult(const EllipseFitResult& fit);

// Fits one pair on the first 1600 samples of its tracks.
SinCosPairResult fitSinCosPair(const SinCosSnapshot& snapshot, SinCosTrack cosTrack, SinCosTrack sinTrack);

// Texts of the value fields.
std::string sinCosValueText(double volts);            // "%.3f"; "xxx" when not finite
std::string sinCosCountText(std::uint32_t position);  // "%d" of the position
inline constexpr const char* kSinCosNoValue = "xxx";  // every value field until its first result

struct SinCosPairTexts {
    std::string cosOffset;
    std::string cosPeakToPeak;
    std::string sinOffset;
    std::string sinPeakToPeak;
    std::string phase;
};
SinCosPairTexts sinCosPairTexts(const SinCosPairResult& r);

struct SinCosZTexts {
    std::string offset;      // "Z±_DC_offset:"
    std::string peakToPeak;  // "Z±_Peak_to_peak:"
};

// The fields to update after one refresh; a field without a new text keeps
// the one it shows.
struct SinCosRefresh {
    std::string count;                     // "Count:", every refresh
    std::optional<SinCosPairTexts> plus;   // (COS+, SIN+), when fitted
    std::optional<SinCosPairTexts> minus;  // (COS−, SIN−), when fitted
    std::optional<SinCosZTexts> zPlus;     // while Z+ swings
    std::optional<SinCosZTexts> zMinus;    // while Z− swings

    bool fitted() const { return plus.has_value(); }
};

// The dialog's side of the analysis: the "Collection" arming and one
// refresh per dialog tick. Lives on the thread that runs the dialog's ticks.
class SinCosAnalysis {
public:
    bool collectArmed() const { return m_armed; }

    // "Collection": arms or disarms; returns the new state (the caption is
    // "Turning encoder" while armed, "Collection" otherwise).
    bool toggleCollection();
    void disarm() { m_armed = false; }

    // One refresh. Fits both pairs when armed, when the latest transfer
    // filled all 1600 fitted samples (no older samples mixed in) and when the
    // tracks swing; a fit disarms.
    SinCosRefresh refresh(const SinCosSnapshot& snapshot);

private:
    bool m_armed = false;
};
