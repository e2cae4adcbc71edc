#include "sincos/sincos_ellipse_fit.h"

#include <numbers>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {


struct Tracks {
    std::vector<double> c;
    std::vector<double> s;
};

// 1600 samples over four whole turns.
template <typename Cos, typename Sin>
Tracks tracks(Cos cosTrack, Sin sinTrack, int count = 1600)
{
    Tracks t;
    for (int k = 0; k < count; ++k) {
        const double theta = 2 * std::numbers::pi * k / 400.0;
        t.c.push_back(cosTrack(theta));
        t.s.push_back(sinTrack(theta));
    }
    return t;
}

// The dialog shows three decimals; compare what it would show.
std::string shown(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

void expectShown(const EllipseFitResult& r, const char* cosCentre, const char* sinCentre, const char* major,
                 const char* minor, const char* phase)
{
    EXPECT_TRUE(r.solved);
    EXPECT_TRUE(r.allFinite());
    EXPECT_EQ(shown(r.cosCentre), cosCentre);
    EXPECT_EQ(shown(r.sinCentre), sinCentre);
    EXPECT_EQ(shown(r.majorAxis), major);
    EXPECT_EQ(shown(r.minorAxis), minor);
    EXPECT_EQ(shown(r.phaseDegrees), phase);
}

}  // namespace

TEST(EllipseFit, QuadratureTracksOfEqualAmplitudeDrawACircle)
{
    const Tracks t = tracks([](double a) { return 2.5 + std::cos(a); }, [](double a) { return 2.5 + std::sin(a); });
    expectShown(SinCosEllipseFit::fit(t.c, t.s), "2.500", "2.500", "2.000", "2.000", "90.000");
}

TEST(EllipseFit, AxisAlignedEllipseGivesAmplitudesAndAtanPhase)
{
    const Tracks t =
        tracks([](double a) { return 2.5 + std::cos(a); }, [](double a) { return 2.5 + 0.5 * std::sin(a); });
    expectShown(SinCosEllipseFit::fit(t.c, t.s), "2.500", "2.500", "2.000", "1.000", "53.130");
}

TEST(EllipseFit, PhaseShiftedSineTiltsTheEllipse)
{
    const Tracks t = tracks([](double a) { return 2.0 + std::cos(a); },
                            [](double a) { return 3.0 + std::sin(a - 2 * std::numbers::pi / 12.0); });
    expectShown(SinCosEllipseFit::fit(t.c, t.s), "2.000", "3.000", "2.449", "1.414", "60.000");
}

TEST(EllipseFit, PhaseUsesTheTruncatedPiConstant)
{
    // 2·atan(1) = π/2, so the circle's phase is 90·π/3.1415926, a little
    // above 90 in the sixth decimal.
    const Tracks t = tracks([](double a) { return 2.5 + std::cos(a); }, [](double a) { return 2.5 + std::sin(a); });
    const EllipseFitResult r = SinCosEllipseFit::fit(t.c, t.s);
    EXPECT_NEAR(r.phaseDegrees, 90.0 * 3.141592653589793 / 3.1415926, 1e-8);
    EXPECT_GT(r.phaseDegrees, 90.0 + 1e-7);
}

TEST(EllipseFit, OnlyTheFirst1600PairsCount)
{
    Tracks t = tracks([](double a) { return 2.5 + std::cos(a); },
                      [](double a) { return 2.5 + 0.7 * std::sin(a + 0.3); }, 2000);
    const EllipseFitResult a = SinCosEllipseFit::fit(t.c, t.s);
    for (std::size_t k = 1600; k < t.c.size(); ++k) {
        t.c[k] = 1e6 * static_cast<double>(k);
        t.s[k] = -3.0;
    }
    const EllipseFitResult b = SinCosEllipseFit::fit(t.c, t.s);
    EXPECT_EQ(a.cosCentre, b.cosCentre);
    EXPECT_EQ(a.sinCentre, b.sinCentre);
    EXPECT_EQ(a.majorAxis, b.majorAxis);
    EXPECT_EQ(a.minorAxis, b.minorAxis);
    EXPECT_EQ(a.phaseDegrees, b.phaseDegrees);
    // ...and they do count below index 1600.
    t.c[1599] += 0.5;
    EXPECT_NE(SinCosEllipseFit::fit(t.c, t.s).cosCentre, a.cosCentre);
}

TEST(EllipseFit, SingularTracksAreFlaggedWithoutCrashing)
{
    // In-phase tracks: c·s and c² are the same design function.
    const Tracks inPhase =
        tracks([](double a) { return 2.5 + std::cos(a); }, [](double a) { return 2.5 + std::cos(a); });
    const EllipseFitResult r = SinCosEllipseFit::fit(inPhase.c, inPhase.s);
    EXPECT_FALSE(r.solved);
    EXPECT_FALSE(r.allFinite());

    // A flat capture (all samples equal) as well.
    const std::vector<double> flat(1600, 1.25);
    const EllipseFitResult f = SinCosEllipseFit::fit(flat, flat);
    EXPECT_FALSE(f.solved);
    EXPECT_FALSE(f.allFinite());
}
