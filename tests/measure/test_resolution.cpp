#include "measure/resolution_scan.h"
#include "stream_blocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace streamtest;

ModeFlags only(bool ModeFlags::*flag)
{
    ModeFlags m;
    m.syncSerialMode = false;
    m.*flag = true;
    return m;
}

TEST(ResolutionTransfer, SizeFromCycleCount)
{
    struct Case {
        int cycles;
        std::optional<int> bytes;
    };
    const Case cases[] = {
        {-1, std::nullopt},     {0, std::nullopt},      {9999, std::nullopt},
        {10000, 10240},         {49999, 10240},         {50000, 51200},
        {99999, 51200},         {100000, 102400},       {199999, 102400},
        {200000, 204800},       {300000, 307200},       {450000, 409600},
        {500000, 512000},       {600000, 614400},       {799999, 716800},
        {800000, 819200},       {1000000, 819200},      {2147483647, 819200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolutionTransferBytes(c.cycles), c.bytes) << c.cycles;
}

TEST(ResolutionRecord, FormatAndValuePerProtocol)
{
    struct Case {
        const char* name;
        ResolutionFormat format;
        Bytes bytes;
        int frameBits;
        std::int64_t value;
    };
    const std::vector<Case> cases = {
        {"BISS", ResolutionFormat::SyncSerial6, {1, 2, 3, 4, 5, 6}, 34, 0x050603040102},
        {"TTL uses b3 b0 b1 only", ResolutionFormat::Incremental6, {1, 2, 0xEE, 4, 5, 6}, 34, 0x040102},
        {"SPI frame bits 20", ResolutionFormat::Spi10, {0xAB, 0xCD, 0xE0, 0, 0, 0, 0, 0, 0, 0x3F}, 20,
         0xABCDE},
        {"SPI frame bits 48", ResolutionFormat::Spi10, {0xAB, 0xCD, 0xE0, 0, 0, 1, 0, 0, 0, 0}, 48,
         0xABCDE0000001},
        {"SPI frame bits past 48", ResolutionFormat::Spi10, {0xAB, 0xCD, 0xE0, 0, 0, 1, 0, 0, 0, 0}, 60, 0},
        {"RS485 b3 b0 b1 b8", ResolutionFormat::Rs485_10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 34, 0x04010209},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolutionRecordValue(c.bytes.data(), c.format, c.frameBits), c.value) << c.name;
}

// A transfer of `blocks` blocks of BISS records, record k from value(k).
Bytes bissTransfer(int blocks, const std::function<std::uint64_t(int)>& value, int lead = 0)
{
    Bytes t(lead, 0x00);
    appendBlocks(t, blocks, 6, [&](int k) { return syncSerialRecord(value(k)); });
    return t;
}

TEST(ResolutionScan, SpanOfThePositionsWalked)
{
    // 100, 5000, 65535 and 3 among steady readings: (65535 - 3) >> 2 = 16383.
    const Bytes t = bissTransfer(10, [](int k) {
        switch (k) {
        case 7: return 5000u;
        case 400: return 65535u;
        case 1200: return 3u;
        default: return 100u;
        }
    });
    const ResolutionScan scan = scanResolution(t, ModeFlags{}, 34);
    EXPECT_TRUE(scan.synced);
    EXPECT_EQ(scan.minimum, 3);
    EXPECT_EQ(scan.maximum, 65535);
    EXPECT_EQ(resolutionResult(scan, 2), 16383);
}

TEST(ResolutionScan, StepsOverEachBlockHeaderAndTakesTheNextRecord)
{
    const int perBlock = recordsPerBlock(6);
    // The first record of each later block carries the block number; every
    // other record 100. Reading a header as a record would give a value near
    // 0x55AA.. and blow the maximum.
    const Bytes t = bissTransfer(4, [perBlock](int k) { return k % perBlock == 0 ? 100u + k / perBlock : 100u; });
    const ResolutionScan scan = scanResolution(t, ModeFlags{}, 34);
    EXPECT_EQ(scan.minimum, 100);
    // Records start below length - 512: the fourth block is partly walked,
    // so its first record (103) is taken.
    EXPECT_EQ(scan.maximum, 103);
    EXPECT_EQ(scan.records, 3 * perBlock + (1024 - 512 - 4 + 5) / 6);
}

TEST(ResolutionScan, AWalkCutShortByLostBlocksOrASlipSaysItIsIncomplete)
{
    const int perBlock = recordsPerBlock(6);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool complete;
        int records;  // -1: not checked
    };
    const Case cases[] = {
        {"a whole transfer", [](Bytes&) {}, true, -1},
        // The third block lost its pattern: the walk ends after two blocks.
        {"a block without its pattern", [](Bytes& t) { t[2 * 1024] = 0x00; }, false, 2 * perBlock},
        // The first blocks lost their pattern: the walk starts only at the
        // third, and the records before it were never looked at.
        {"the first blocks without their pattern", [](Bytes& t) { t[0] = 0x00, t[1024] = 0x00; }, false, -1},
        // A slip puts a pattern inside a record: that record is no position.
        {"a record holding the pattern",
         [](Bytes& t) {
             const std::size_t at = 4 + 6 * 10 + 1;
             t[at] = 0xAA, t[at + 1] = 0x55, t[at + 2] = 0x55, t[at + 3] = 0xAA;
         },
         false, -1},
    };
    for (const Case& c : cases) {
        Bytes t = bissTransfer(8, [](int) { return 100u; });
        c.damage(t);
        const ResolutionScan scan = scanResolution(t, ModeFlags{}, 34);
        EXPECT_EQ(scan.complete, c.complete) << c.what;
        if (c.records >= 0) {
            EXPECT_EQ(scan.records, c.records) << c.what;
        }
        // The pattern's bytes never become a position.
        EXPECT_EQ(scan.maximum, 100) << c.what;
    }
}

TEST(ResolutionScan, NothingWalkedGivesZero)
{
    // One block only: no second pattern within the buffer.
    const Bytes one = bissTransfer(1, [](int k) { return 100u + k; });
    Bytes probe = one;
    probe.insert(probe.end(), {0xAA, 0x55, 0x55});  // second pattern cut off by the end
    for (const Bytes* t : std::vector<const Bytes*>{&one, &probe}) {
        const ResolutionScan scan = scanResolution(*t, ModeFlags{}, 34);
        EXPECT_FALSE(scan.synced);
        EXPECT_EQ(scan.records, 0);
        EXPECT_EQ(resolutionResult(scan, 2), 0);
    }
    // A protocol without records.
    const Bytes t = bissTransfer(3, [](int k) { return 100u + k; });
    const ResolutionScan none = scanResolution(t, only(&ModeFlags::rxOnlyMode), 34);
    EXPECT_EQ(none.records, 0);
    EXPECT_EQ(resolutionResult(none, 0), 0);
    EXPECT_FALSE(scanResolution({}, ModeFlags{}, 34).synced);
}

TEST(ResolutionScan, FullTurnOfASeventeenBitEncoder)
{
    // 17-bit position above two status bits; the shaft passes both ends of
    // the range within the transfer.
    constexpr std::uint64_t kStatus = 0b10;
    const Bytes t = bissTransfer(100, [](int k) {
        const std::uint64_t pos = (130000u + 9u * static_cast<unsigned>(k)) % 131072u;
        return (pos << 2) | kStatus;
    });
    Bytes withEnds = t;
    // Make sure both ends appear: a record at 0 and one at 131071.
    auto put = [&](int offset, std::uint64_t pos) {
        const Bytes r = syncSerialRecord((pos << 2) | kStatus);
        std::copy(r.begin(), r.end(), withEnds.begin() + offset);
    };
    put(4 + 6 * 10, 0);
    put(1024 + 4 + 6 * 20, 131071);
    EXPECT_EQ(resolutionResult(scanResolution(withEnds, ModeFlags{}, 34), 2), 131071);
}

TEST(ResolutionScan, ProgressIsPostedOnlyWhenItChanges)
{
    const Bytes t = bissTransfer(100, [](int k) { return 100u + k; });  // 102400 bytes
    std::vector<int> posted;
    scanResolution(t, ModeFlags{}, 34, [&](int p) { posted.push_back(p); });
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.front(), 0);
    EXPECT_EQ(posted.back(), 59);
    for (std::size_t i = 1; i < posted.size(); ++i)
        EXPECT_EQ(posted[i], posted[i - 1] + 1);

    EXPECT_EQ(resolutionProgress(0, 512), 0);  // no walk, no division by zero
}

TEST(ResolutionResult, SpanAfterTruncationShownAsItsLow32Bits)
{
    struct Case {
        std::int64_t minimum, maximum;
        int truncate;
        std::int32_t result;
        const char* text;
    };
    const Case cases[] = {
        {3, 65535, 2, 16383, "16383"},
        {0, 131071, 0, 131071, "131071"},
        {0, (std::int64_t{1} << 32) + 5, 0, 5, "5"},             // 2^32 and more: low 32 bits
        {0, std::int64_t{1} << 33, 1, 0, "0"},
        {0, 0xFFFFFFFF, 0, -1, "-1"},                            // shown signed
        {0, 0x80000000, 0, INT32_MIN, "-2147483648"},
        {0, 0xFFFFFFFFFFFF, 16, static_cast<std::int32_t>(0xFFFFFFFF), "-1"},
        {0, 0xFFFFFFFFFFFF, 64, 0, "0"},                         // everything shifted out
        {0, 0xFFFFFFFFFFFF, -1, 0, "0"},
    };
    for (const Case& c : cases) {
        const std::int32_t r = resolutionResult(c.minimum, c.maximum, c.truncate);
        EXPECT_EQ(r, c.result) << c.maximum << " >> " << c.truncate;
        EXPECT_EQ(resolutionResultText(r), c.text);
    }
}

}  // namespace
