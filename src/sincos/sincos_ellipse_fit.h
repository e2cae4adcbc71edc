#pragma once
// Least-squares ellipse fit of one cos/sin track pair (the Lissajous figure
// of an analog sin/cos encoder): offsets, axis lengths and phase difference.
#include <span>

struct EllipseFitResult {
    double cosCentre = 0.0;     // V, centre on the cosine axis
    double sinCentre = 0.0;     // V, centre on the sine axis
    double majorAxis = 0.0;     // V, full length of the longer axis
    double minorAxis = 0.0;     // V, full length of the shorter axis
    double phaseDegrees = 0.0;  // degrees, from the axis ratio

    // V, full extent of the ellipse along the cosine axis and along the sine
    // axis: each track's own peak-to-peak. They equal the major and minor
    // axes only for an ellipse whose axes lie along the tracks.
    double cosExtent = 0.0;
    double sinExtent = 0.0;

    // False when the LU solve found the normal matrix singular (for example
    // tracks in phase). The five values are then what the formulas give on a
    // zero solution, i.e. not finite.
    bool solved = false;

    // True when all values are finite numbers worth showing.
    bool allFinite() const;
};

class SinCosEllipseFit {
public:
    // The fit always works on this many pairs; the constant also enters the
    // normal matrix as a number.
    static constexpr int kSampleCount = 1600;

    // Fits the conic s² + p1·cs + p2·c² + p3·s + p4·c + p5 = 0 to the first
    // kSampleCount pairs (c[k], s[k]), in volts. Pairs beyond that are ignored.
    // Shorter inputs contribute only the pairs they have (the constant 1600 is
    // kept); the caller always passes full tracks.
    static EllipseFitResult fit(std::span<const double> cosSamples,
                                std::span<const double> sinSamples);
};
