#include "measure/eeprom_readback.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// `count` pairs AB v, each followed by `noise`.
Bytes pairs(int count, std::uint8_t v, const Bytes& noise = {})
{
    Bytes out;
    for (int i = 0; i < count; ++i) {
        out.push_back(0xAB);
        out.push_back(v);
        out.insert(out.end(), noise.begin(), noise.end());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(EepromReadBack, NeedsOneHundredTwentySevenConsecutiveMatchingPairs)
{
    struct Case {
        const char* name;
        Bytes stream;
        int value;
        bool verified;
    };
    const std::vector<Case> cases = {
        {"127 pairs", pairs(127, 0x5C), 0x5C, true},
        {"126 pairs", pairs(126, 0x5C), 0x5C, false},
        {"126 good then one bad", pairs(126, 0x5C) + pairs(1, 0x5D), 0x5C, false},
        {"126 good, bad, 127 good", pairs(126, 0x5C) + pairs(1, 0x00) + pairs(127, 0x5C), 0x5C, true},
        {"bad after 127 good", pairs(127, 0x5C) + pairs(1, 0x00), 0x5C, true},
        {"value 171: AB AB counted once each", pairs(127, 0xAB), 171, true},
        {"value 171: 126 pairs AB AB", pairs(126, 0xAB), 171, false},
        {"value 0", pairs(127, 0x00), 0, true},
        {"encoder did not store", pairs(400, 0xFF), 0x12, false},
        {"noise between pairs", pairs(127, 0x5C, {0x00, 0x55, 0x12}), 0x5C, true},
        {"noise before the pairs", Bytes(1000, 0x00) + pairs(127, 0x5C), 0x5C, true},
        {"value outside a byte", pairs(127, 0x00), 256, false},
        {"last byte is a mark without its value", pairs(126, 0x5C) + Bytes{0xAB}, 0x5C, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eepromReadBackVerified(c.stream, c.value), c.verified) << c.name;
        EepromReadBack scan(c.value);
        EXPECT_EQ(scan.feed(c.stream), c.verified) << c.name;
    }
}

TEST(EepromReadBack, RunCarriesAcrossTransfersAndSplitPairs)
{
    EepromReadBack scan(0x5C);
    EXPECT_FALSE(scan.feed(pairs(100, 0x5C) + Bytes{0xAB}));  // a pair split at the end
    EXPECT_EQ(scan.run(), 100);
    EXPECT_FALSE(scan.feed(Bytes{0x5C}));
    EXPECT_EQ(scan.run(), 101);
    EXPECT_TRUE(scan.feed(pairs(26, 0x5C)));
    EXPECT_TRUE(scan.verified());
    EXPECT_TRUE(scan.feed(pairs(5, 0x00)));  // once verified it stays so

    EepromReadBack broken(0x5C);
    broken.feed(pairs(100, 0x5C));
    broken.feed(Bytes{0xAB, 0x11});
    EXPECT_EQ(broken.run(), 0);
}

TEST(EepromTimeline, StepsAtTicksFourEightTwelveAndFourteen)
{
    struct Case {
        std::uint64_t tick;
        EepromStep step;
        double seconds;
    };
    const Case cases[] = {
        {4, EepromStep::Write, 2.0},
        {8, EepromStep::PowerCycle, 4.0},
        {12, EepromStep::ReadBack, 6.0},
        {14, EepromStep::Verdict, 7.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eepromStepAt(c.tick), c.step) << c.tick;
        EXPECT_DOUBLE_EQ(c.tick * kEepromTickMs / 1000.0, c.seconds);
    }
    for (std::uint64_t t : {0u, 1u, 2u, 3u, 5u, 6u, 7u, 9u, 10u, 11u, 13u})
        EXPECT_EQ(eepromStepAt(t), EepromStep::None) << t;
    // A late tick still reaches the verdict.
    EXPECT_EQ(eepromStepAt(15), EepromStep::Verdict);
    EXPECT_EQ(eepromStepAt(1000), EepromStep::Verdict);
}

}  // namespace
