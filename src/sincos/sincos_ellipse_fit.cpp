#include "sincos/sincos_ellipse_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <opencv2/core.hpp>

bool EllipseFitResult::allFinite() const
{
    return std::isfinite(cosCentre) && std::isfinite(sinCentre) && std::isfinite(majorAxis)
           && std::isfinite(minorAxis) && std::isfinite(phaseDegrees) && std::isfinite(cosExtent)
           && std::isfinite(sinExtent);
}

EllipseFitResult SinCosEllipseFit::fit(std::span<const double> cosSamples,
                                       std::span<const double> sinSamples)
{
    const std::size_t n =
        std::min({cosSamples.size(), sinSamples.size(), static_cast<std::size_t>(kSampleCount)});

    // The thirteen power sums, zeroed for every fit.
    double sc = 0, ss = 0, scs = 0, sc2 = 0, ss2 = 0, sc2s = 0, scs2 = 0, sc3 = 0, ss3 = 0,
           sc2s2 = 0, sc3s = 0, scs3 = 0, sc4 = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double c = cosSamples[k];
        const double s = sinSamples[k];
        const double c2 = c * c;
        const double s2 = s * s;
        const double cs = c * s;
        sc += c;
        ss += s;
        scs += cs;
        sc2 += c2;
        ss2 += s2;
        sc2s += c2 * s;
        scs2 += c * s2;
        sc3 += c2 * c;
        ss3 += s2 * s;
        sc2s2 += c2 * s2;
        sc3s += c2 * cs;
        scs3 += cs * s2;
        sc4 += c2 * c2;
    }

    // Normal equations for φ = (cs, c², s, c, 1) against the target −s².
    // The constant term's diagonal is the fixed sample count, not n.
    cv::Mat normal = (cv::Mat_<double>(5, 5) <<
        sc2s2, sc3s, scs2, sc2s, scs,
        sc3s,  sc4,  sc2s, sc3,  sc2,
        scs2,  sc2s, ss2,  scs,  ss,
        sc2s,  sc3,  scs,  sc2,  sc,
        scs,   sc2,  ss,   sc,   static_cast<double>(kSampleCount));
    cv::Mat rhs = (cv::Mat_<double>(5, 1) << -scs3, -sc2s2, -ss3, -scs2, -ss2);
    cv::Mat p(5, 1, CV_64FC1, cv::Scalar(0));

    EllipseFitResult r;
    // On a singular matrix OpenCV leaves p zero and reports false; the
    // formulas below then yield non-finite values, which the caller sees.
    r.solved = cv::solve(normal, rhs, p, cv::DECOMP_LU);

    const double p1 = p.at<double>(0);
    const double p2 = p.at<double>(1);
    const double p3 = p.at<double>(2);
    const double p4 = p.at<double>(3);
    const double p5 = p.at<double>(4);

    const double delta = p1 * p1 - 4.0 * p2;
    r.cosCentre = (2.0 * p4 - p1 * p3) / delta;
    r.sinCentre = (2.0 * p2 * p3 - p1 * p4) / delta;
    const double k = 2.0 * (p1 * p3 * p4 - p2 * p3 * p3 - p4 * p4 + 4.0 * p2 * p5 - p1 * p1 * p5);
    const double root = std::sqrt(p1 * p1 + (1.0 - p2) * (1.0 - p2));
    // The absolute values keep the axes real even for a conic that is not an
    // ellipse.
    const double a = std::sqrt(std::fabs(k / (delta * (p2 - root + 1.0))));
    const double b = std::sqrt(std::fabs(k / (delta * (p2 + root + 1.0))));
    r.majorAxis = 2.0 * a;
    r.minorAxis = 2.0 * b;
    // The truncated π is deliberate: readings stay identical to the ones the
    // instrument has always shown.
    r.phaseDegrees = 2.0 * std::atan(b / a) * 180.0 / 3.1415926;

    // Extents along the tracks. Moved to its centre the conic reads
    // p2·x² + p1·xy + y² = g with g = −((p4·c0 + p3·s0)/2 + p5); the largest
    // x on it is √(−4g/Δ), the largest y √(−4g·p2/Δ).
    const double g = -((p4 * r.cosCentre + p3 * r.sinCentre) / 2.0 + p5);
    r.cosExtent = 2.0 * std::sqrt(std::fabs(4.0 * g / delta));
    r.sinExtent = 2.0 * std::sqrt(std::fabs(4.0 * g * p2 / delta));
    return r;
}
