// The encoder model's position jumps at angles, slow speeds and the sin/cos
// track shape, without the box.
#include "common/clock.h"
#include "simbox/encoder_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct SeenJump {
    double fromDegrees;
    double stepDegrees;
};

// Angles every millisecond over `ms`; the steps that are not the turning
// itself (more than 1 degree against the expected 0.36 degrees at 60 rpm).
std::vector<SeenJump> jumpsSeen(const EncoderModel& m, std::int64_t t0, int ms, int bits)
{
    const double turn = std::ldexp(1.0, bits);
    auto angle = [&](std::int64_t t) { return static_cast<double>(m.fieldsAt(t).position) / turn * 360.0; };
    std::vector<SeenJump> seen;
    double prev = angle(t0);
    for (int i = 1; i <= ms; ++i) {
        const double a = angle(t0 + i * 1000);
        double d = a - prev;
        d -= 360.0 * std::round(d / 360.0);  // across 0
        if (std::fabs(std::fabs(d) - 0.36) > 1.0)
            seen.push_back({prev, d});
        prev = a;
    }
    return seen;
}

TEST(EncoderJumps, EachJumpAppearsOnceAtItsAngle)
{
    struct Case {
        const char* name;
        double rpm;
        std::vector<AngleJump> jumps;
        bool futureFirst;  // ask for a late position before the early ones
        std::vector<SeenJump> expected;
    };
    const Case cases[] = {
        {"forwards", 60, {{90, 20}, {270, -30}}, false, {{90, 20}, {270, -30}}},
        {"asked_out_of_order", 60, {{90, 20}, {270, -30}}, true, {{90, 20}, {270, -30}}},
        // Backwards from 0 the shaft passes 300 first, then 45.
        {"backwards", -60, {{45, 10}, {300, 5}}, false, {{300, 5}, {45, 10}}},
        // A jump that lands past another angle does not pass it: 100 fires a
        // full turn later, after 350.
        {"landing_past_an_angle", 60, {{95, 10}, {100, 7}, {350, -2}}, false, {{95, 10}, {350, -2}, {100, 7}}},
        {"standing", 0, {{0, 10}, {180, 10}}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncoderModel m;
        m.setResolution(12, 8, 0);
        m.setSpeedRpm(c.rpm);
        for (const AngleJump& j : c.jumps)
            m.addAngleJump(j);
        const std::int64_t t0 = benchClock().nowMicros();
        if (c.futureFirst) {
            EXPECT_EQ(c.expected.size(), m.firedJumpsUntil(t0 + 2'500'000).size());
        }
        const std::vector<SeenJump> seen = jumpsSeen(m, t0, 2500, 12);
        ASSERT_EQ(c.expected.size(), seen.size());
        for (std::size_t i = 0; i < seen.size(); ++i) {
            // Within one sampling step of travel (0.36) and a count or two (0.09 each).
            EXPECT_NEAR(c.expected[i].fromDegrees, seen[i].fromDegrees, 0.6) << i;
            EXPECT_NEAR(c.expected[i].stepDegrees, seen[i].stepDegrees, 0.6) << i;
        }
        const std::vector<FiredJump> fired = m.firedJumpsUntil(t0 + 2'500'000);
        ASSERT_EQ(c.expected.size(), fired.size());
        for (std::size_t i = 0; i < fired.size(); ++i)
            EXPECT_DOUBLE_EQ(c.expected[i].stepDegrees, fired[i].jump.stepDegrees);
    }
}

TEST(EncoderJumps, ArmedJumpsOutliveSpeedAndPositionChanges)
{
    EncoderModel m;
    m.setResolution(12, 8, 0);
    m.addAngleJump({10, 5});
    const std::int64_t t0 = benchClock().nowMicros();
    EXPECT_TRUE(m.firedJumpsUntil(t0 + 10'000'000).empty());  // standing
    m.setPositionCounts(4096 * 3 + 4000);                       // 351.6 degrees
    m.setSpeedRpm(60);
    const std::int64_t t1 = benchClock().nowMicros();
    const std::vector<SeenJump> seen = jumpsSeen(m, t1, 1000, 12);
    ASSERT_EQ(1u, seen.size());
    EXPECT_NEAR(10, seen[0].fromDegrees, 0.6);
    EXPECT_NEAR(5, seen[0].stepDegrees, 0.6);
    EXPECT_EQ(4, m.fieldsAt(t1 + 100'000).turns);  // across 0 into the next turn

    m.clearAngleJumps();
    m.addAngleJump({200, 30});
    m.clearAngleJumps();
    EXPECT_TRUE(jumpsSeen(m, benchClock().nowMicros(), 1000, 12).empty());
}

TEST(EncoderSpeed, OneRpmTurnsSixDegreesPerSecond)
{
    EncoderModel m;
    m.setResolution(17, 0, 0);
    m.setSpeedRpm(1);
    const std::int64_t t0 = benchClock().nowMicros();
    for (int s = 1; s <= 30; s += 7) {
        const auto moved = static_cast<double>(m.fieldsAt(t0 + s * 1'000'000ll).position) -
                           static_cast<double>(m.fieldsAt(t0).position);
        EXPECT_NEAR(131072.0 / 60.0 * s, moved, 1.0) << s << " s";
    }
}

TEST(EncoderSinCos, EveryTrackHasItsOwnOffsetAmplitudeAndPhase)
{
    EncoderModel m;
    m.setResolution(12, 0, 0);
    SinCosShape s;
    s.periodsPerTurn = 16;  // 256 counts per signal period
    s.sinPlusOffset = 2.7;
    s.sinAmplitude = 0.6;
    s.cosPlusOffset = 2.3;
    s.cosAmplitude = 1.0;
    s.sinMinusOffset = 2.4;
    s.sinMinusAmplitude = 0.8;
    s.cosMinusOffset = 2.6;
    s.cosMinusAmplitude = 0.5;
    s.minusPhaseDegrees = 80;
    m.setSinCos(s);
    const double sin80 = std::sin(80.0 * std::numbers::pi / 180.0);
    const double sin170 = std::sin(170.0 * std::numbers::pi / 180.0);
    struct Row {
        std::int64_t counts;
        double sinPlus, sinMinus, cosPlus, cosMinus;
    };
    const Row rows[] = {
        {0, 2.7, 2.4, 3.3, 2.6 - 0.5 * sin80},
        {64, 3.3, 1.6, 2.3, 2.6 - 0.5 * sin170},  // a quarter period
        {128, 2.7, 2.4, 1.3, 2.6 + 0.5 * sin80},
        {192, 2.1, 3.2, 2.3, 2.6 + 0.5 * sin170},
    };
    for (const Row& r : rows) {
        m.setPositionCounts(r.counts);
        const SinCosSample x = m.sinCosAt(benchClock().nowMicros());
        EXPECT_NEAR(r.sinPlus, x.volts[0], 1e-9) << r.counts;
        EXPECT_NEAR(r.sinMinus, x.volts[1], 1e-9) << r.counts;
        EXPECT_NEAR(r.cosPlus, x.volts[2], 1e-9) << r.counts;
        EXPECT_NEAR(r.cosMinus, x.volts[3], 1e-9) << r.counts;
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(static_cast<int>(std::floor(x.volts[i] * 256 / 5)), x.codes[i]) << r.counts << " " << i;
    }
}

TEST(EncoderSinCos, GaussianNoiseOfTheGivenSpreadRepeatsForTheSameInstant)
{
    EncoderModel m;
    SinCosShape s;
    s.noiseVolts = 0.05;
    m.setSinCos(s);
    const std::int64_t t0 = benchClock().nowMicros();
    double sum = 0, sumSq = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const double v = m.sinCosAt(t0 + i * 16).volts[0] - 2.5;  // standing at position 0: SIN+ sits on its offset
        sum += v;
        sumSq += v * v;
    }
    const double mean = sum / n;
    EXPECT_NEAR(0.0, mean, 0.002);
    EXPECT_NEAR(0.05, std::sqrt(sumSq / n - mean * mean), 0.002);
    EXPECT_EQ(m.sinCosAt(t0 + 160).volts, m.sinCosAt(t0 + 160).volts);
    EXPECT_NE(m.sinCosAt(t0 + 160).volts[0], m.sinCosAt(t0 + 176).volts[0]);
}

TEST(EncoderSinCos, SpeedAtWhich1600SamplesCoverOneSignalPeriod)
{
    const double rpm = sinCosRpmForPeriods(1.0, 1600, 16, 2048);
    EXPECT_NEAR(60e6 / (1600.0 * 16 * 2048), rpm, 1e-12);
    EXPECT_DOUBLE_EQ(2 * rpm, sinCosRpmForPeriods(2.0, 1600, 16, 2048));
    EncoderModel m;
    m.setResolution(17, 0, 0);
    SinCosShape s;
    s.periodsPerTurn = 2048;
    m.setSinCos(s);
    m.setSpeedRpm(rpm * 1.25);
    const std::int64_t t0 = benchClock().nowMicros();
    // 4 quadrature counts per period: 1.25 periods over the 1600 samples.
    const auto counts = static_cast<int>(m.sinCosAt(t0 + 1600 * 16).count - m.sinCosAt(t0).count);
    EXPECT_NEAR(5, counts, 1);
}

}  // namespace
