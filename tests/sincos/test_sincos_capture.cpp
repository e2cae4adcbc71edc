#include "sincos/sincos_analysis.h"
#include "sincos/sincos_capture.h"

#include <numbers>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putMarker(Bytes& b, std::size_t at)
{
    b[at] = 0xAA;
    b[at + 1] = 0x55;
    b[at + 2] = 0x55;
    b[at + 3] = 0xAA;
}

Bytes recordBytes(const SinCosRecord& r)
{
    Bytes b(10, 0);
    for (int t = 0; t < kSinCosTrackCount; ++t)
        b[t] = r.codes[t];
    b[6] = static_cast<std::uint8_t>(r.position >> 8);
    b[7] = static_cast<std::uint8_t>(r.position);
    b[8] = 0x5C;  // not interpreted
    b[9] = static_cast<std::uint8_t>(r.position >> 16);
    return b;
}

// A transfer as the box lays it out: from `offset` on, blocks of the marker
// and 102 records; bytes before `offset` are zero. A transfer with fewer
// records than it could hold ends after the last one.
Bytes transfer(const std::vector<SinCosRecord>& records, std::size_t offset = 0)
{
    Bytes b(kSinCosTransferBytes, 0);
    std::size_t at = offset;
    std::size_t n = 0;
    std::size_t end = offset;
    while (at + 4 <= b.size() && n < records.size()) {
        putMarker(b, at);
        end = at + 4;
        for (int k = 0; k < 102 && n < records.size() && at + 4 + 10 * (k + 1) <= b.size(); ++k, ++n) {
            const Bytes r = recordBytes(records[n]);
            std::copy(r.begin(), r.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 4 + 10 * k));
            end = at + 4 + 10 * (k + 1);
        }
        at += kSinCosBlockBytes;
    }
    b.resize(end);
    return b;
}

int codeOf(double volts)
{
    return std::clamp(static_cast<int>(std::lround(volts * 256.0 / 5.0)), 0, 255);
}

// Records of a simulated encoder: each track a function of the angle, 400
// records per electrical period.
std::vector<SinCosRecord> encoder(std::function<double(SinCosTrack, double)> volts, int count = 2040,
                                  std::uint32_t position = 0)
{
    std::vector<SinCosRecord> out;
    for (int k = 0; k < count; ++k) {
        SinCosRecord r;
        const double theta = 2 * std::numbers::pi * k / 400.0;
        for (int t = 0; t < kSinCosTrackCount; ++t)
            r.codes[t] = static_cast<std::uint8_t>(codeOf(volts(static_cast<SinCosTrack>(t), theta)));
        r.position = position + static_cast<std::uint32_t>(k);
        out.push_back(r);
    }
    return out;
}

std::vector<SinCosRecord> flat(int code, int count, std::uint32_t position = 0)
{
    SinCosRecord r;
    r.codes.fill(static_cast<std::uint8_t>(code));
    r.position = position;
    return std::vector<SinCosRecord>(static_cast<std::size_t>(count), r);
}

// COS+ 2.3 V ± 1.0 V, SIN+ 2.7 V ± 0.6 V; the minus tracks mirror them
// about 2.5 V; Z+ a 1 V pulse on 0.5 V, Z− flat.
double typical(SinCosTrack t, double a)
{
    switch (t) {
    case CosPlus: return 2.3 + 1.0 * std::cos(a);
    case SinPlus: return 2.7 + 0.6 * std::sin(a);
    case CosMinus: return 2.7 - 1.0 * std::cos(a);
    case SinMinus: return 2.3 - 0.6 * std::sin(a);
    case ZPlus: return std::fmod(a, 2 * std::numbers::pi) < 0.3 ? 1.5 : 0.5;
    case ZMinus: return 2.0;
    }
    return 0.0;
}

SinCosSnapshot stored(const Bytes& bytes)
{
    SinCosCapture capture;
    capture.storeTransfer(bytes);
    return capture.snapshot();
}

double parse(const std::string& s)
{
    return std::stod(s);
}

}  // namespace

TEST(SinCosRecord, CodesAndPosition)
{
    struct Case {
        std::array<std::uint8_t, 10> bytes;
        std::array<std::uint8_t, 6> codes;
        std::uint32_t position;
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5, 6, 0x06, 0x07, 0xEE, 0x01}, {1, 2, 3, 4, 5, 6}, 67079},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, 0},
        {{255, 128, 64, 32, 16, 8, 0xFF, 0xFF, 0x00, 0xFF}, {255, 128, 64, 32, 16, 8}, 0xFFFFFF},
        {{9, 9, 9, 9, 9, 9, 0x12, 0x34, 0xFF, 0x56}, {9, 9, 9, 9, 9, 9}, 0x561234},
    };
    for (const Case& c : cases) {
        const SinCosRecord r = decodeSinCosRecord(std::span<const std::uint8_t, 10>(c.bytes));
        EXPECT_EQ(r.codes, c.codes);
        EXPECT_EQ(r.position, c.position);
    }
    EXPECT_EQ(sinCosCountText(67079), "67079");
    EXPECT_DOUBLE_EQ(sinCosVolts(128), 2.5);
    EXPECT_DOUBLE_EQ(sinCosVolts(1), 0.01953125);
}

TEST(SinCosSync, NeedsTwoMarkersOneBlockApartInsideTheTransfer)
{
    struct Case {
        const char* what;
        std::size_t size;
        std::vector<std::size_t> markers;
        std::optional<std::size_t> sync;
    };
    const Case cases[] = {
        {"both markers", 4096, {10, 1034}, 10},
        {"first pair wins", 4096, {3, 1027, 2051}, 3},
        {"no second marker", 4096, {10}, std::nullopt},
        {"second marker off by one", 4096, {10, 1035}, std::nullopt},
        {"second marker ends the buffer", 1038, {10, 1034}, 10},
        {"second marker cut by the end", 1037, {10}, std::nullopt},
        {"empty", 0, {}, std::nullopt},
        {"shorter than a block", 100, {0}, std::nullopt},
    };
    for (const Case& c : cases) {
        Bytes b(c.size, 0);
        for (std::size_t m : c.markers)
            putMarker(b, m);
        if (c.size == 1037) {
            // Three bytes of the second marker fit; the probe must not look past them.
            b[1034] = 0xAA;
            b[1035] = 0x55;
            b[1036] = 0x55;
        }
        EXPECT_EQ(findSinCosSync(b), c.sync) << c.what;
    }
}

TEST(SinCosParse, WalksBlocksStepsOverMarkersAndDropsACutRecord)
{
    const std::vector<SinCosRecord> records = encoder(typical, 2040);
    const std::vector<SinCosRecord> all = parseSinCosTransfer(transfer(records));
    ASSERT_EQ(all.size(), 2040u);  // 20 blocks of 102 records
    for (std::size_t n = 0; n < all.size(); ++n) {
        EXPECT_EQ(all[n].codes, records[n].codes) << n;
        EXPECT_EQ(all[n].position, records[n].position) << n;
    }

    // Synchronised at 10: records start at 14; the last block is cut short
    // by the end of the transfer after 101 records.
    const Bytes shiftedBytes = transfer(records, 10);
    ASSERT_EQ(shiftedBytes.size(), kSinCosTransferBytes);
    const std::vector<SinCosRecord> shifted = parseSinCosTransfer(shiftedBytes);
    ASSERT_EQ(shifted.size(), 19u * 102u + 101u);
    for (std::size_t n = 0; n < shifted.size(); ++n)
        EXPECT_EQ(shifted[n].position, records[n].position) << n;

    // A record cut off by the end of the transfer is not taken: a block of
    // 102 zero records, the next marker, two records and nine bytes.
    Bytes cut(1024 + 4 + 10 + 10 + 9, 0);
    putMarker(cut, 0);
    putMarker(cut, 1024);
    std::fill(cut.begin() + 1028, cut.end(), std::uint8_t{100});
    const std::vector<SinCosRecord> taken = parseSinCosTransfer(cut);
    ASSERT_EQ(taken.size(), 104u);
    EXPECT_EQ(taken[101].codes[SinPlus], 0);
    EXPECT_EQ(taken[103].codes[SinPlus], 100);

    // Without synchronisation nothing is parsed.
    Bytes noSync(kSinCosTransferBytes, 0x11);
    EXPECT_TRUE(parseSinCosTransfer(noSync).empty());
}

TEST(SinCosParse, DropsTheBlockBeforeLostPacketsAndKeepsRecordsThatLookLikeMarkers)
{
    std::vector<SinCosRecord> records = encoder(typical, 2040);
    // A record whose first four codes read AA 55 55 AA is still a record.
    records[5].codes = {0xAA, 0x55, 0x55, 0xAA, 1, 2};
    const std::vector<SinCosRecord> all = parseSinCosTransfer(transfer(records));
    ASSERT_EQ(all.size(), 2040u);
    EXPECT_EQ(all[5].codes, records[5].codes);
    EXPECT_EQ(all[6].position, records[6].position);

    // The box lost one 512-byte packet, the second half of block 2: blocks 0
    // and 1 stand, block 2 lost its tail and is dropped, and the walk takes
    // up again at block 3. No record is made of misaligned bytes.
    Bytes lost = transfer(records);
    lost.erase(lost.begin() + 2048 + 512, lost.begin() + 3072);
    const std::vector<SinCosRecord> kept = parseSinCosTransfer(lost);
    ASSERT_EQ(kept.size(), 19u * 102u);
    for (std::size_t n = 0; n < kept.size(); ++n) {
        const std::size_t original = n < 204 ? n : n + 102;
        EXPECT_EQ(kept[n].codes, records[original].codes) << n;
        EXPECT_EQ(kept[n].position, records[original].position) << n;
    }
}

TEST(SinCosStatistics, ExtremesCountsAndSwings)
{
    struct Case {
        const char* what;
        std::vector<int> codes;  // SIN+ codes; other tracks copy them
        int max, min, newMax, newMin;
    };
    const Case cases[] = {
        {"one record sets the extremes, no count", {100}, 100, 100, 0, 0},
        {"flat counts both on every later record", {50, 50, 50, 50}, 50, 50, 3, 3},
        {"rising", {10, 20, 30}, 30, 10, 2, 0},
        {"falling", {30, 20, 10}, 30, 10, 0, 2},
        {"reaching again counts", {10, 40, 20, 40, 10}, 40, 10, 2, 1},
        {"none", {}, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<SinCosRecord> records;
        for (int code : c.codes) {
            SinCosRecord r;
            r.codes.fill(static_cast<std::uint8_t>(code));
            records.push_back(r);
        }
        const SinCosStatistics s = SinCosStatistics::of(records);
        for (int t = 0; t < kSinCosTrackCount; ++t) {
            EXPECT_EQ(s.maxCode[t], c.max) << c.what;
            EXPECT_EQ(s.minCode[t], c.min) << c.what;
            EXPECT_EQ(s.newMaxCount[t], c.newMax) << c.what;
            EXPECT_EQ(s.newMinCount[t], c.newMin) << c.what;
            EXPECT_DOUBLE_EQ(s.peakToPeak[t], 5.0 * (c.max - c.min) / 256) << c.what;
            EXPECT_DOUBLE_EQ(s.dcOffset[t], 5.0 * (c.max + c.min) / 512) << c.what;
        }
    }
}

TEST(SinCosCapture, KeepsOlderSamplesBeyondAShortTransferButNotAsFresh)
{
    SinCosCapture capture;
    EXPECT_FALSE(capture.snapshot().ready);

    capture.storeTransfer(transfer(flat(200, 2040, 7)));
    SinCosSnapshot s = capture.snapshot();
    EXPECT_TRUE(s.ready);
    EXPECT_TRUE(s.shownSamplesFresh());
    EXPECT_EQ(s.recordCount, 2040);
    EXPECT_EQ(s.position, 7u);
    EXPECT_EQ(s.sequence, 1u);

    // 1000 records of a new level: indices 1000.. keep the old level.
    capture.storeTransfer(transfer(flat(40, 1000, 9)));
    s = capture.snapshot();
    EXPECT_EQ(s.recordCount, 1000);
    EXPECT_FALSE(s.shownSamplesFresh());
    EXPECT_DOUBLE_EQ(s.tracks[SinPlus][999], sinCosVolts(40));
    EXPECT_DOUBLE_EQ(s.tracks[SinPlus][1000], sinCosVolts(200));
    EXPECT_EQ(s.stats.maxCode[SinPlus], 40);
    EXPECT_EQ(s.position, 9u);

    // A transfer without markers: statistics zero, samples and position kept.
    capture.storeTransfer(Bytes(kSinCosTransferBytes, 0x33));
    s = capture.snapshot();
    EXPECT_TRUE(s.ready);
    EXPECT_EQ(s.recordCount, 0);
    EXPECT_EQ(s.stats.maxCode[CosPlus], 0);
    EXPECT_DOUBLE_EQ(s.stats.peakToPeak[CosPlus], 0.0);
    EXPECT_DOUBLE_EQ(s.tracks[SinPlus][0], sinCosVolts(40));
    EXPECT_EQ(s.position, 9u);
    EXPECT_EQ(s.sequence, 3u);

    capture.clear();
    EXPECT_FALSE(capture.snapshot().ready);
    EXPECT_DOUBLE_EQ(capture.snapshot().tracks[SinPlus][0], 0.0);
}

TEST(SinCosCapture, SnapshotNeverMixesTwoTransfers)
{
    // Two alternating transfers, each flat at its own code and position; a
    // snapshot taken while the reader publishes must be all of one of them.
    const Bytes low = transfer(flat(10, 2040, 1));
    const Bytes high = transfer(flat(240, 2040, 2));
    SinCosCapture capture;
    capture.storeTransfer(low);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            capture.storeTransfer(i % 2 ? low : high);
    });
    int torn = 0;
    for (int i = 0; i < 300; ++i) {
        const SinCosSnapshot s = capture.snapshot();
        const int code = s.stats.maxCode[SinPlus];
        const double volts = sinCosVolts(code);
        const std::uint32_t position = code == 10 ? 1 : 2;
        bool same = s.position == position && s.stats.minCode[ZMinus] == code;
        for (int t = 0; t < kSinCosTrackCount && same; ++t)
            same = s.tracks[t][0] == volts && s.tracks[t][kSinCosShownSamples - 1] == volts;
        torn += same ? 0 : 1;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}

TEST(SinCosSwing, ThresholdsOfPeakToPeakAndExtremeHits)
{
    struct Case {
        const char* what;
        int swingCodes;  // max − min of COS+
        int hits;        // new-max and new-min counts of COS+
        bool swings;
    };
    const Case cases[] = {
        {"0.234 V", 12, 50, false},
        {"0.254 V", 13, 50, true},
        {"nine hits", 100, 9, false},
        {"ten hits", 100, 10, true},
    };
    for (const Case& c : cases) {
        SinCosStatistics s;
        s.peakToPeak[CosPlus] = 5.0 * c.swingCodes / 256;
        s.newMaxCount[CosPlus] = c.hits;
        s.newMinCount[CosPlus] = c.hits;
        EXPECT_EQ(sinCosTracksSwing(s), c.swings) << c.what;
        // Z swings do not count for the fit.
        SinCosStatistics z;
        z.peakToPeak[ZPlus] = s.peakToPeak[CosPlus];
        z.newMaxCount[ZPlus] = z.newMinCount[ZPlus] = c.hits;
        EXPECT_FALSE(sinCosTracksSwing(z)) << c.what;
    }
    SinCosStatistics one;
    one.peakToPeak[SinMinus] = 1.0;
    one.newMaxCount[SinMinus] = 10;
    one.newMinCount[SinMinus] = 9;
    EXPECT_FALSE(sinCosTracksSwing(one));  // both extremes need ten hits
    one.newMinCount[SinMinus] = 10;
    EXPECT_TRUE(sinCosTracksSwing(one));
}

TEST(SinCosResult, EachFieldShowsItsOwnTrack)
{
    // Unquantised tracks: the texts are exact.
    struct Case {
        const char* what;
        std::function<double(double)> c, s;
        const char *cosOffset, *cosPp, *sinOffset, *sinPp, *phase;
    };
    const Case cases[] = {
        {"offsets and amplitudes of their own tracks", [](double a) { return 2.3 + std::cos(a); },
         [](double a) { return 2.7 + 0.6 * std::sin(a); }, "2.300", "2.000", "2.700", "1.200", "61.928"},
        {"tilted ellipse: extents are the tracks' peak-to-peaks", [](double a) { return 2.0 + std::cos(a); },
         [](double a) { return 3.0 + std::sin(a - 2 * std::numbers::pi / 12.0); }, "2.000", "2.000", "3.000", "2.000", "60.000"},
        {"circle", [](double a) { return 2.5 + std::cos(a); }, [](double a) { return 2.5 + std::sin(a); }, "2.500",
         "2.000", "2.500", "2.000", "90.000"},
        {"sine wider than cosine", [](double a) { return 1.0 + 0.25 * std::cos(a); },
         [](double a) { return 4.0 + 0.75 * std::sin(a); }, "1.000", "0.500", "4.000", "1.500", "36.870"},
    };
    for (const Case& c : cases) {
        std::vector<double> cs, ss;
        for (int k = 0; k < 1600; ++k) {
            cs.push_back(c.c(2 * std::numbers::pi * k / 400.0));
            ss.push_back(c.s(2 * std::numbers::pi * k / 400.0));
        }
        const SinCosPairTexts t = sinCosPairTexts(sinCosPairResult(SinCosEllipseFit::fit(cs, ss)));
        EXPECT_EQ(t.cosOffset, c.cosOffset) << c.what;
        EXPECT_EQ(t.cosPeakToPeak, c.cosPp) << c.what;
        EXPECT_EQ(t.sinOffset, c.sinOffset) << c.what;
        EXPECT_EQ(t.sinPeakToPeak, c.sinPp) << c.what;
        EXPECT_EQ(t.phase, c.phase) << c.what;
    }
    EXPECT_EQ(sinCosValueText(std::nan("")), "xxx");
    EXPECT_EQ(sinCosValueText(INFINITY), "xxx");
    EXPECT_EQ(sinCosValueText(-0.0004), "-0.000");
}

TEST(SinCosAnalysis, FitsOnceWhenArmedOnFreshSwingingSamples)
{
    const SinCosSnapshot swinging = stored(transfer(encoder(typical, 2040, 67000)));
    SinCosAnalysis analysis;

    // Not armed: only the count and Z.
    SinCosRefresh r = analysis.refresh(swinging);
    EXPECT_FALSE(r.fitted());
    EXPECT_FALSE(r.minus.has_value());
    EXPECT_EQ(r.count, "69039");

    EXPECT_TRUE(analysis.toggleCollection());
    r = analysis.refresh(swinging);
    ASSERT_TRUE(r.fitted());
    ASSERT_TRUE(r.minus.has_value());
    EXPECT_FALSE(analysis.collectArmed());
    // Through the 8-bit ADC: within a count (0.02 V) and half a degree.
    struct Expect {
        const std::string& text;
        double value, tolerance;
    };
    const double phase = 2.0 * std::atan(0.6) * 180.0 / 3.1415926;
    const Expect expects[] = {
        {r.plus->cosOffset, 2.3, 0.02},    {r.plus->cosPeakToPeak, 2.0, 0.02},  {r.plus->sinOffset, 2.7, 0.02},
        {r.plus->sinPeakToPeak, 1.2, 0.02}, {r.plus->phase, phase, 0.5},        {r.minus->cosOffset, 2.7, 0.02},
        {r.minus->cosPeakToPeak, 2.0, 0.02}, {r.minus->sinOffset, 2.3, 0.02},  {r.minus->sinPeakToPeak, 1.2, 0.02},
        {r.minus->phase, phase, 0.5},
    };
    for (const Expect& e : expects)
        EXPECT_NEAR(parse(e.text), e.value, e.tolerance) << e.text;

    // Disarmed by the fit: the next refresh does not fit again.
    EXPECT_FALSE(analysis.refresh(swinging).fitted());
    // Disarmed by a second press.
    analysis.toggleCollection();
    EXPECT_FALSE(analysis.toggleCollection());
    EXPECT_FALSE(analysis.refresh(swinging).fitted());
}

TEST(SinCosAnalysis, StaysArmedWithoutSwingOrFreshSamples)
{
    SinCosCapture capture;
    SinCosAnalysis analysis;
    analysis.toggleCollection();

    // Nothing stored yet.
    SinCosRefresh r = analysis.refresh(capture.snapshot());
    EXPECT_FALSE(r.fitted());
    EXPECT_EQ(r.count, "0");

    // A flat signal never fits, although its extreme counts grow on every record.
    capture.storeTransfer(transfer(flat(128, 2040)));
    EXPECT_FALSE(analysis.refresh(capture.snapshot()).fitted());
    EXPECT_TRUE(analysis.collectArmed());

    // A swinging transfer too short to fill the 1600 fitted samples: older
    // samples would be mixed in, so no fit.
    capture.storeTransfer(transfer(encoder(typical, 1500)));
    EXPECT_FALSE(analysis.refresh(capture.snapshot()).fitted());
    EXPECT_TRUE(analysis.collectArmed());

    capture.storeTransfer(transfer(encoder(typical, 1600)));
    EXPECT_TRUE(analysis.refresh(capture.snapshot()).fitted());
}

TEST(SinCosAnalysis, ZShownOnlyWhileItSwings)
{
    SinCosAnalysis analysis;
    // Z+ swings 0.5 → 1.5 V; Z− flat.
    SinCosRefresh r = analysis.refresh(stored(transfer(encoder(typical))));
    ASSERT_TRUE(r.zPlus.has_value());
    EXPECT_FALSE(r.zMinus.has_value());
    EXPECT_EQ(r.zPlus->peakToPeak, sinCosValueText(5.0 * (codeOf(1.5) - codeOf(0.5)) / 256));
    EXPECT_EQ(r.zPlus->offset, sinCosValueText(5.0 * (codeOf(1.5) + codeOf(0.5)) / 512));
    EXPECT_EQ(r.zPlus->offset, "1.006");

    // A Z− swing of 12 counts (0.234 V) stays below the threshold; 13 is enough.
    for (int swing : {12, 13}) {
        std::vector<SinCosRecord> records = flat(100, 2040);
        for (std::size_t n = 0; n < records.size(); n += 2)
            records[n].codes[ZMinus] = static_cast<std::uint8_t>(100 + swing);
        r = analysis.refresh(stored(transfer(records)));
        EXPECT_EQ(r.zMinus.has_value(), swing == 13) << swing;
        EXPECT_FALSE(r.zPlus.has_value());
    }
}
