#include "measure/accuracy_sampler.h"
#include "measure/accuracy_tracker.h"
#include "measure/block_walk.h"
#include "stream_blocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace streamtest;

// ---- sample tracking -------------------------------------------------------

// A tracker whose last warm-up sample was `first`, now counting samples.
AccuracyTracker warmTracker(double first, int maxErrors = kAccuracyMaxErrors)
{
    AccuracyTracker t(maxErrors);
    t.start();
    for (int i = 0; i < kAccuracyWarmUpSteps; ++i)
        t.stepDone();
    EXPECT_FALSE(t.addSample(first).counted);
    t.stepDone();
    return t;
}

TEST(AccuracyTracker, ChangesBetweenSamples)
{
    struct Case {
        const char* name;
        std::vector<double> angles;  // the first only sets the previous angle
        double travel;
        std::vector<double> errors;
    };
    const std::vector<Case> cases = {
        {"1 rpm steps", {10.0, 11.8, 13.6}, 3.6, {}},
        {"jump of 30", {100.0, 130.0}, 30.0, {100.0}},
        {"wrap at 360", {359.0, 0.8}, 358.2, {}},
        // The sample at or below 0.1 degrees was skipped: a 3.6 degree step
        // across the wrap, no jump (the sum of changes still counts 356.4).
        {"wrap past a skipped sample", {358.3, 2.1}, 356.2, {}},
        {"a 3 degree step across the wrap", {359.0, 2.0}, 357.0, {}},
        {"a jump of 5 across the wrap", {358.0, 3.0}, 355.0, {358.0}},
        {"a backward jump across the wrap", {10.0, 355.0}, 345.0, {10.0}},
        {"half a turn is a jump", {10.0, 190.0}, 180.0, {10.0}},
        {"exactly 5 is a jump", {10.0, 15.0}, 5.0, {10.0}},
        {"exactly 358 is not", {359.0, 1.0}, 358.0, {}},
        {"just under 5", {10.0, 14.999}, 4.999, {}},
        {"backwards jump", {200.0, 150.0}, 50.0, {200.0}},
        {"standing still", {42.0, 42.0, 42.0}, 0.0, {}},
        {"three jumps in order", {10.0, 20.0, 21.0, 40.0, 41.0, 100.0}, 90.0, {10.0, 21.0, 41.0}},
    };
    for (const Case& c : cases) {
        AccuracyTracker t = warmTracker(c.angles.front());
        for (std::size_t i = 1; i < c.angles.size(); ++i)
            t.addSample(c.angles[i]);
        EXPECT_NEAR(t.travel(), c.travel, 1e-9) << c.name;
        ASSERT_EQ(t.errorAngles().size(), c.errors.size()) << c.name;
        for (std::size_t i = 0; i < c.errors.size(); ++i)
            EXPECT_DOUBLE_EQ(t.errorAngles()[i], c.errors[i]) << c.name;
        EXPECT_DOUBLE_EQ(t.previousAngle(), c.angles.back()) << c.name;
    }
}

TEST(AccuracyTracker, WarmUpStepsOnlySetThePreviousAngle)
{
    AccuracyTracker t;
    t.start();
    // Samples while up to 10 steps are done: a jump is neither counted nor an error.
    for (int step = 0; step <= kAccuracyWarmUpSteps; ++step) {
        const auto effect = t.addSample(step % 2 ? 100.0 : 200.0);
        EXPECT_FALSE(effect.counted) << step;
        if (step < kAccuracyWarmUpSteps)
            t.stepDone();
    }
    EXPECT_EQ(t.stepsDone(), kAccuracyWarmUpSteps);
    EXPECT_EQ(t.travel(), 0.0);
    EXPECT_EQ(t.errorCount(), 0);
    // The first counted sample is compared with the last warm-up angle.
    t.stepDone();
    const auto effect = t.addSample(201.0);
    EXPECT_TRUE(effect.counted);
    EXPECT_DOUBLE_EQ(effect.change, 1.0);
    EXPECT_FALSE(effect.error);
}

TEST(AccuracyTracker, StepsProgressAndEnd)
{
    AccuracyTracker t;
    t.start();
    int lastSteps = 0;
    for (int step = 1; step <= kAccuracySteps + 1; ++step)
        if (t.stepDone() && lastSteps == 0)
            lastSteps = step;
    EXPECT_EQ(lastSteps, kAccuracySteps);
    EXPECT_EQ(t.stepsDone(), kAccuracySteps);  // a late tick does not count past the end
    for (auto [steps, progress] : std::vector<std::pair<int, int>>{{11, 0}, {12, 1}, {679, 59}, {680, 60}})
        EXPECT_EQ(accuracyProgress(steps), progress) << steps;
}

TEST(AccuracyTracker, ErrorListIsBounded)
{
    AccuracyTracker t = warmTracker(0.5, 3);
    for (int i = 0; i < 5; ++i)
        t.addSample(i % 2 ? 0.5 : 50.5);
    EXPECT_EQ(t.errorCount(), 3);
    EXPECT_EQ(t.droppedErrors(), 2);
    EXPECT_EQ(t.errorAngles(), (std::vector<double>{0.5, 50.5, 0.5}));
    // A jump lost to the full list still fails the test.
    AccuracyTracker full = warmTracker(1.0, 0);
    EXPECT_TRUE(full.addSample(10.0).listFull);
    for (int i = 1; i <= 200; ++i)
        full.addSample(10.0 + 2.0 * i);
    EXPECT_EQ(full.errorCount(), 0);
    EXPECT_EQ(full.verdict(), AccuracyVerdict::Errors);
}

TEST(AccuracyTracker, Verdict)
{
    struct Case {
        double travel;
        std::int64_t errors;
        AccuracyVerdict verdict;
    };
    const Case cases[] = {
        {359.999, 0, AccuracyVerdict::NotTurning},
        {360.0, 0, AccuracyVerdict::Pass},
        {360.0, 1, AccuracyVerdict::Errors},
    };
    for (const Case& c : cases)
        EXPECT_EQ(accuracyVerdict(c.travel, c.errors), c.verdict) << c.travel << " " << c.errors;
}

// ---- error browser ---------------------------------------------------------

TEST(AccuracyErrorBrowser, ThreeErrorsBrowseDownToTheFirstAndStay)
{
    AccuracyErrorBrowser b;
    b.load({12.5, 100.0, 359.0});
    EXPECT_EQ(b.index(), 3);
    EXPECT_EQ(b.shown(), 359.0);

    std::vector<std::pair<int, double>> seen;
    for (int i = 0; i < 4; ++i) {
        const auto angle = b.stepTowardsFirst(b.index());
        ASSERT_TRUE(angle);
        seen.emplace_back(b.index(), *angle);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, double>>{{2, 100.0}, {1, 12.5}, {1, 12.5}, {1, 12.5}}));

    EXPECT_EQ(b.stepTowardsLast(b.index()), 100.0);
    EXPECT_EQ(b.stepTowardsLast(b.index()), 359.0);
    EXPECT_EQ(b.stepTowardsLast(b.index()), 359.0);  // stays at the last
    EXPECT_EQ(b.index(), 3);
}

TEST(AccuracyErrorBrowser, TypedIndexIsClampedBeforeTheStep)
{
    struct Case {
        int typed;
        bool towardsFirst;
        int index;
    };
    const Case cases[] = {
        {99, true, 2},    // clamped to 3, then one towards the first
        {99, false, 3},
        {0, true, 1},     // clamped to 1
        {0, false, 2},
        {-7, false, 2},
        {2, true, 1},
        {2, false, 3},
    };
    for (const Case& c : cases) {
        AccuracyErrorBrowser b;
        b.load({1.0, 2.0, 3.0});
        const auto angle = c.towardsFirst ? b.stepTowardsFirst(c.typed) : b.stepTowardsLast(c.typed);
        EXPECT_EQ(b.index(), c.index) << c.typed;
        ASSERT_TRUE(angle);
        EXPECT_EQ(*angle, static_cast<double>(c.index));
    }
}

TEST(AccuracyErrorBrowser, NothingToBrowse)
{
    AccuracyErrorBrowser b;
    b.load({});  // a passed test
    EXPECT_FALSE(b.stepTowardsLast(5));
    EXPECT_FALSE(b.stepTowardsFirst(1));
    EXPECT_EQ(b.index(), 0);
    b.load({4.0});
    b.clear();  // the next test starts
    EXPECT_FALSE(b.stepTowardsLast(1));
}

// ---- sampler ---------------------------------------------------------------

// BISS, one 16-bit field shown on the gauge: angle = value x 360 / 65535.
FrameLayout bissLayout()
{
    return makeFrameLayout(1, {16}, ModeFlags{}, 0, 1);
}

double angleOf(std::int64_t v)
{
    return static_cast<double>(v) * 360.0 / 65535.0;
}

// A 2048-byte transfer whose sync search from byte 1000 finds the block at
// `start` (1000..2023). Bytes before it are earlier blocks of `fill` records,
// cut at the front; value(k) numbers the records from that block on.
Bytes transferWithBlockAt(int start, const std::function<std::uint64_t(int)>& value,
                          std::uint64_t fill = 1)
{
    Bytes filler;
    appendBlocks(filler, 2, 6, [&](int) { return syncSerialRecord(fill); });
    Bytes out(filler.end() - start, filler.end());
    appendBlocks(out, 2, 6, [&](int k) { return syncSerialRecord(value(k)); });
    out.resize(kAccuracyTransferBytes);
    return out;
}

TEST(AccuracySampler, FirstChangedRecordAboveATenthOfADegree)
{
    struct Case {
        const char* name;
        std::function<std::uint64_t(int)> value;
        std::int64_t previous;
        AccuracyPickKind kind;
        std::int64_t sample;
    };
    const std::vector<Case> cases = {
        {"first record", [](int k) { return 1000u + k; }, 0, AccuracyPickKind::Sample, 1000},
        {"passes over the previous sample",
         [](int k) { return k < 5 ? 2000u : 2100u; }, 2000, AccuracyPickKind::Sample, 2100},
        {"zero angle drops the transfer",
         [](int k) { return k == 0 ? 0u : 3000u; }, 0, AccuracyPickKind::NoSample, 0},
        {"0.1 degree is not a sample",
         [](int) { return 18u; }, 0, AccuracyPickKind::NoSample, 0},  // 18 x 360 / 65535 < 0.1
        {"just above 0.1 degree", [](int) { return 19u; }, 0, AccuracyPickKind::Sample, 19},
        {"standing encoder", [](int) { return 4000u; }, 4000, AccuracyPickKind::NoSample, 0},
    };
    for (const Case& c : cases) {
        // Blocks start at 24 and 1048: the search from byte 1000 finds the second.
        const Bytes t = transferWithBlockAt(1048, c.value);
        const AccuracyPick pick = pickAccuracySample(t, bissLayout(), c.previous);
        EXPECT_EQ(pick.kind, c.kind) << c.name;
        if (c.kind == AccuracyPickKind::Sample) {
            EXPECT_EQ(pick.value, c.sample) << c.name;
            EXPECT_DOUBLE_EQ(pick.angle, angleOf(c.sample)) << c.name;
            EXPECT_EQ(pick.lastValue, c.sample) << c.name;
        }
    }
}

TEST(AccuracySampler, SearchStartsAtByteOneThousand)
{
    // Blocks at 0 and 1024: the search skips the first.
    const Bytes t = transferWithBlockAt(1024, [](int) { return 600u; }, 500);
    EXPECT_EQ(findAccuracySync(t), 1024);
    EXPECT_EQ(pickAccuracySample(t, bissLayout(), 0).value, 600);

    // A pattern only before byte 1000: no sample.
    Bytes early;
    appendBlocks(early, 1, 6, [](int) { return syncSerialRecord(700); });
    early.resize(kAccuracyTransferBytes, 0x11);
    EXPECT_EQ(findAccuracySync(early), -1);
    EXPECT_EQ(pickAccuracySample(early, bissLayout(), 0).kind, AccuracyPickKind::NoSync);
}

TEST(AccuracySampler, StepsOverTheNextBlocksPattern)
{
    // A block starting at byte 1000 ends at 2024; the next block's pattern
    // sits at 2024..2027 and its first records follow inside the transfer.
    const int perBlock = recordsPerBlock(6);
    const Bytes t = transferWithBlockAt(1000, [perBlock](int k) { return k < perBlock ? 900u : 950u; });
    ASSERT_EQ(findAccuracySync(t), 1000);
    ASSERT_TRUE(streamSyncAt(t, 2024));
    const AccuracyPick pick = pickAccuracySample(t, bissLayout(), 900);
    EXPECT_EQ(pick.kind, AccuracyPickKind::Sample);
    EXPECT_EQ(pick.value, 950);  // not the pattern read as a position
}

TEST(AccuracySampler, NeverReadsPastTheTransfer)
{
    // Exact-size heap copies, so a read past the end is a sanitizer error.
    Bytes t(1900, 0x22);
    t.insert(t.end(), kSync.begin(), kSync.end());  // pattern in the last 4 bytes
    EXPECT_EQ(pickAccuracySample(t, bissLayout(), 0).kind, AccuracyPickKind::NoSample);

    Bytes cut(2045, 0x22);
    cut[2042] = 0xAA, cut[2043] = 0x55, cut[2044] = 0x55;  // pattern cut off by the end
    EXPECT_EQ(pickAccuracySample(cut, bissLayout(), 0).kind, AccuracyPickKind::NoSync);

    for (int length : {0, 3, 1001, 1003}) {
        Bytes tiny(length, 0xAA);
        EXPECT_EQ(pickAccuracySample(tiny, bissLayout(), 0).kind, AccuracyPickKind::NoSync) << length;
    }

    // A block without its successor's pattern ends the walk at the block's end.
    Bytes lone(1000, 0x33);
    appendBlocks(lone, 1, 6, [](int) { return syncSerialRecord(800); });
    lone.resize(kAccuracyTransferBytes, 0x44);  // no pattern at 2024
    EXPECT_EQ(pickAccuracySample(lone, bissLayout(), 800).kind, AccuracyPickKind::NoSample);
}

TEST(AccuracySampler, SpiCrcMismatchEndsTheWalk)
{
    ModeFlags spiCrc;
    spiCrc.syncSerialMode = false;
    spiCrc.spiMode = true;
    spiCrc.spiCrcMode = true;
    // One 16-bit field at bits 47..32; the CRC field is the 6 bits from bit 26 (42 - 16).
    const FrameLayout layout = makeFrameLayout(1, {16}, spiCrc, 0, 1);
    const std::uint64_t v = (std::uint64_t{0x4000} << 32) | (std::uint64_t{0x2A} << 26);
    const std::uint8_t goodCrc = 0x2A;

    for (bool crcGood : {true, false}) {
        Bytes t(24, 0);
        appendBlocks(t, 2, 10, [&](int) { return spiRecord(v, crcGood ? goodCrc : 0x15); });
        t.resize(kAccuracyTransferBytes);
        const AccuracyPick pick = pickAccuracySample(t, layout, 0);
        EXPECT_EQ(pick.kind, crcGood ? AccuracyPickKind::Sample : AccuracyPickKind::CrcMismatch);
        EXPECT_EQ(pick.lastValue, static_cast<std::int64_t>(v));
        ASSERT_TRUE(pick.lastDecoded);
        EXPECT_EQ(pick.lastDecoded->spiCrcField, 0x2A);
    }
}

TEST(AccuracySampler, NoGaugeFieldOrNoRecordsGiveNoSample)
{
    const Bytes t = transferWithBlockAt(1048, [](int k) { return 1000u + k; });
    EXPECT_EQ(pickAccuracySample(t, makeFrameLayout(1, {16}, ModeFlags{}, 0, 0), 0).kind,
              AccuracyPickKind::NoSample);
    ModeFlags adc;
    adc.syncSerialMode = false;
    adc.adcMode = true;
    EXPECT_EQ(pickAccuracySample(t, makeFrameLayout(1, {16}, adc, 0, 1), 0).kind,
              AccuracyPickKind::NoSample);
}

}  // namespace
