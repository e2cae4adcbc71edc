#include "interface/stream_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kStreamSync{0xAA, 0x55, 0x55, 0xAA};

ModeFlags onlyFlag(bool ModeFlags::*flag)
{
    ModeFlags m;
    m.syncSerialMode = false;
    m.*flag = true;
    return m;
}

TEST(RecordFormat, ChosenByFirstMatchingFlag)
{
    EXPECT_EQ(recordFormatFor(ModeFlags{}), RecordFormat::SyncSerial6);  // BISS at start-up
    EXPECT_EQ(recordFormatFor(onlyFlag(&ModeFlags::incrementalMode)), RecordFormat::SyncSerial6);
    EXPECT_EQ(recordFormatFor(onlyFlag(&ModeFlags::spiMode)), RecordFormat::Spi10);
    EXPECT_EQ(recordFormatFor(onlyFlag(&ModeFlags::rs485Mode)), RecordFormat::Rs485_10);
    EXPECT_EQ(recordFormatFor(onlyFlag(&ModeFlags::rs485AbMode)), RecordFormat::Rs485Ab10);
    EXPECT_EQ(recordFormatFor(onlyFlag(&ModeFlags::rxOnlyMode)), RecordFormat::RxOnly4);
    for (auto flag : {&ModeFlags::sinCosMode, &ModeFlags::adcMode})
        EXPECT_EQ(recordFormatFor(onlyFlag(flag)), RecordFormat::None);

    ModeFlags both = onlyFlag(&ModeFlags::spiMode);
    both.incrementalMode = true;
    EXPECT_EQ(recordFormatFor(both), RecordFormat::SyncSerial6);
    both = onlyFlag(&ModeFlags::rs485Mode);
    both.rs485AbMode = true;
    EXPECT_EQ(recordFormatFor(both), RecordFormat::Rs485Ab10);
    both.spiMode = true;
    EXPECT_EQ(recordFormatFor(both), RecordFormat::Spi10);

    EXPECT_EQ(recordLength(RecordFormat::SyncSerial6), 6);
    EXPECT_EQ(recordLength(RecordFormat::Spi10), 10);
    EXPECT_EQ(recordLength(RecordFormat::Rs485_10), 10);
    EXPECT_EQ(recordLength(RecordFormat::Rs485Ab10), 10);
    EXPECT_EQ(recordLength(RecordFormat::RxOnly4), 4);
    EXPECT_EQ(recordLength(RecordFormat::None), 0);
}

struct RecordCase {
    std::string name;
    RecordFormat format;
    Bytes bytes;
    bool sync;
    std::int64_t value;
    std::uint8_t crc;
};

class ParseRecord : public ::testing::TestWithParam<RecordCase> {};

TEST_P(ParseRecord, ComposesValue)
{
    const RecordCase& c = GetParam();
    ASSERT_EQ(static_cast<int>(c.bytes.size()), recordLength(c.format));
    const ParsedRecord r = parseRecord(c.bytes.data(), c.format);
    EXPECT_EQ(r.sync, c.sync);
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(r.spiCrcByte, c.crc);
}

const Bytes k10{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

INSTANTIATE_TEST_SUITE_P(
    Formats, ParseRecord,
    ::testing::Values(
        RecordCase{"Biss", RecordFormat::SyncSerial6, {1, 2, 3, 4, 5, 6}, false, 0x050603040102LL, 0},
        RecordCase{"Spi", RecordFormat::Spi10, k10, false, 0x010203040506LL, 0x0A},
        RecordCase{"Rs485", RecordFormat::Rs485_10, k10, false, 0x05060304010209LL, 0},
        RecordCase{"Rs485Ab", RecordFormat::Rs485Ab10, k10, false, 0x0A070804010209LL, 0},
        RecordCase{"RxOnly", RecordFormat::RxOnly4, {1, 2, 3, 4}, false, 0x03040102, 0},
        // 56-bit values above 2^53 keep every low bit.
        RecordCase{"Rs485Top56Bits", RecordFormat::Rs485_10,
                   {0x01, 0x23, 0x45, 0x67, 0xFF, 0xAB, 0, 0, 0x01, 0}, false,
                   0xFFAB4567012301LL, 0},
        RecordCase{"Rs485AbTop56Bits", RecordFormat::Rs485Ab10,
                   {0xFE, 0xDC, 0, 0xBA, 0, 0, 0x98, 0x76, 0x03, 0xFF}, false,
                   0xFF9876BAFEDC03LL, 0},
        RecordCase{"SpiTopByte", RecordFormat::Spi10, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3F},
                   false, 0xFFFFFFFFFFFFLL, 0x3F},
        // Sync records: the pattern must sit in the format's own test bytes, in order.
        RecordCase{"BissSync", RecordFormat::SyncSerial6, {0, 0, 0x55, 0xAA, 0xAA, 0x55}, true, 0, 0},
        RecordCase{"BissStreamOrderIsNotSync", RecordFormat::SyncSerial6,
                   {0xAA, 0x55, 0x55, 0xAA, 0, 0}, false, 0x55AAAA55LL, 0},
        RecordCase{"SpiSync", RecordFormat::Spi10, {0xAA, 0x55, 0x55, 0xAA, 1, 2, 3, 4, 5, 6}, true, 0, 0},
        RecordCase{"Rs485Sync", RecordFormat::Rs485_10, {1, 2, 3, 4, 5, 6, 0x55, 0xAA, 0xAA, 0x55},
                   true, 0, 0},
        RecordCase{"Rs485AbSync", RecordFormat::Rs485Ab10,
                   {1, 2, 3, 4, 5, 6, 0x55, 0xAA, 0xAA, 0x55}, true, 0, 0},
        RecordCase{"Rs485ReversedIsNotSync", RecordFormat::Rs485_10,
                   {0, 0, 0, 0, 0, 0, 0xAA, 0x55, 0x55, 0xAA}, false, 0x55, 0},
        RecordCase{"RxOnlySync", RecordFormat::RxOnly4, {0x55, 0xAA, 0xAA, 0x55}, true, 0, 0},
        RecordCase{"NoneParsesNothing", RecordFormat::None, {}, false, 0, 0}),
    [](const auto& info) { return info.param.name; });

// A 2048-byte transfer with the stream sync at `at` and at + 1024.
Bytes transfer(int at, int length = 2048)
{
    Bytes t(length, 0);
    std::copy(kStreamSync.begin(), kStreamSync.end(), t.begin() + at);
    if (at + 1024 + 4 <= length)
        std::copy(kStreamSync.begin(), kStreamSync.end(), t.begin() + at + 1024);
    return t;
}

void put(Bytes& t, int offset, const Bytes& record)
{
    std::copy(record.begin(), record.end(), t.begin() + offset);
}

TEST(SyncPair, NeedsTwoPatterns1024BytesApart)
{
    Bytes t = transfer(10);
    EXPECT_EQ(findSyncPair(t.data(), 2048), 10);

    Bytes single(2048, 0);
    put(single, 10, kStreamSync);
    EXPECT_EQ(findSyncPair(single.data(), 2048), -1);
    // A second pattern at the wrong distance does not pair with it.
    put(single, 1035, kStreamSync);
    EXPECT_EQ(findSyncPair(single.data(), 2048), -1);

    // The earliest pair wins, even with a lone pattern before it.
    Bytes early = transfer(100);
    put(early, 3, kStreamSync);
    put(early, 50, kStreamSync);
    put(early, 1074, kStreamSync);
    EXPECT_EQ(findSyncPair(early.data(), 2048), 50);

    // The second pattern must lie wholly inside the transfer.
    Bytes edge = transfer(0, 1028);
    EXPECT_EQ(findSyncPair(edge.data(), 1028), 0);
    EXPECT_EQ(findSyncPair(edge.data(), 1027), -1);
    EXPECT_EQ(findSyncPair(edge.data(), 0), -1);
}

TEST(RecordWalk, RecordsStartFourBytesAfterTheSyncPair)
{
    Bytes t = transfer(10);
    put(t, 14, {1, 2, 3, 4, 5, 6});
    const RecordWalk w = walkRecords(t.data(), 2048, RecordFormat::SyncSerial6, 0);
    EXPECT_TRUE(w.synced);
    ASSERT_TRUE(w.changedValue);
    EXPECT_EQ(*w.changedValue, 0x050603040102LL);
    EXPECT_EQ(w.recordsParsed, 1);

    // Same record but only one sync pattern: nothing is parsed.
    Bytes lone = t;
    std::fill(lone.begin() + 1034, lone.begin() + 1038, 0);
    const RecordWalk none = walkRecords(lone.data(), 2048, RecordFormat::SyncSerial6, 0);
    EXPECT_FALSE(none.synced);
    EXPECT_FALSE(none.changedValue);
    EXPECT_FALSE(none.lastValue);
    EXPECT_EQ(none.recordsParsed, 0);
}

// Two blocks, each a sync pattern and 102 SPI records filling its 1020 bytes.
Bytes stationarySpi(const Bytes& record)
{
    Bytes t = transfer(0);
    for (int block = 0; block < 2048; block += 1024)
        for (int p = block + 4; p + 10 <= block + 1024; p += 10)
            put(t, p, record);
    return t;
}

TEST(RecordWalk, StationaryValueReportsNoChange)
{
    const Bytes rec{0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0x21};
    Bytes t = stationarySpi(rec);
    int unchanged = 0;
    const RecordWalk w = walkRecords(t.data(), 2048, RecordFormat::Spi10, 0x12345678,
                                     [&](const ParsedRecord& r) {
                                         EXPECT_EQ(r.spiCrcByte, 0x21);
                                         ++unchanged;
                                         return true;
                                     });
    EXPECT_TRUE(w.synced);
    EXPECT_FALSE(w.changedValue);
    EXPECT_FALSE(w.stoppedByVisitor);
    ASSERT_TRUE(w.lastValue);
    EXPECT_EQ(*w.lastValue, 0x12345678);
    EXPECT_EQ(w.spiCrcByte, 0x21);
    // 102 records in each block; the second block's pattern is stepped over,
    // not read as (part of) a record.
    EXPECT_EQ(w.recordsParsed, 204);
    EXPECT_EQ(unchanged, w.recordsParsed);
}

TEST(RecordWalk, FirstChangeEndsTheWalk)
{
    const Bytes same{0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0x21};
    Bytes t = stationarySpi(same);
    put(t, 1028, {0x00, 0x00, 0x12, 0x34, 0x56, 0x79, 0, 0, 0, 0x22});  // first of block 2
    put(t, 1038, {0x00, 0x00, 0x12, 0x34, 0x56, 0x7A, 0, 0, 0, 0x23});
    int unchanged = 0;
    const RecordWalk w = walkRecords(t.data(), 2048, RecordFormat::Spi10, 0x12345678,
                                     [&](const ParsedRecord&) { return ++unchanged, true; });
    ASSERT_TRUE(w.changedValue);
    EXPECT_EQ(*w.changedValue, 0x12345679);
    EXPECT_EQ(w.lastValue, w.changedValue);
    EXPECT_EQ(w.spiCrcByte, 0x22);
    EXPECT_EQ(w.recordsParsed, 102 + 1);
    EXPECT_EQ(unchanged, 102);  // the changed record goes to the caller, not the visitor

    // A visitor that refuses a record ends the walk there.
    int seen = 0;
    const RecordWalk stopped = walkRecords(t.data(), 2048, RecordFormat::Spi10, 0x12345678,
                                           [&](const ParsedRecord&) { return ++seen < 3; });
    EXPECT_TRUE(stopped.stoppedByVisitor);
    EXPECT_FALSE(stopped.changedValue);
    EXPECT_EQ(stopped.recordsParsed, 3);
}

TEST(RecordWalk, StopsWhenFewerThanSixBytesRemain)
{
    // Receive-only records are 4 bytes: the one at length - 5 still fits but
    // is not read. Every other record equals the shown value.
    const int length = 1037;
    const std::int64_t shown = 0x55AAAA55;  // AA 55 55 AA read as a record
    Bytes t(length, 0);
    for (int p = 0; p + 4 <= length; p += 4)
        put(t, p, kStreamSync);

    Bytes last = t;
    put(last, length - 5, {0x00, 0x09, 0x00, 0x00});
    const RecordWalk w = walkRecords(last.data(), length, RecordFormat::RxOnly4, shown);
    EXPECT_FALSE(w.changedValue);
    // Every 4-byte slot from offset 4 up to length - 5, less the second
    // block's pattern at 1024, which is stepped over.
    EXPECT_EQ(w.recordsParsed, (length - 5 - 4) / 4 - 1);

    Bytes inside = t;
    put(inside, length - 9, {0x00, 0x09, 0x00, 0x00});
    const RecordWalk seen = walkRecords(inside.data(), length, RecordFormat::RxOnly4, shown);
    ASSERT_TRUE(seen.changedValue);
    EXPECT_EQ(*seen.changedValue, 9);
}

TEST(RecordWalk, RecordCutOffAtTheEndIsNotRead)
{
    // SPI blocks from offset 4: block 2 starts at 1028 and its records at
    // 1032. With 2040 bytes the record at 2032 would need 2 bytes past the
    // transfer.
    const int length = 2040;
    Bytes t(length, 0);
    put(t, 4, kStreamSync);
    put(t, 1028, kStreamSync);
    for (int block : {4, 1028})
        for (int p = block + 4; p + 10 <= std::min(block + 1024, length); p += 10)
            put(t, p, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0});
    put(t, 2032, {0, 0, 0, 0, 0, 2});
    const RecordWalk w = walkRecords(t.data(), length, RecordFormat::Spi10, 1);
    EXPECT_TRUE(w.synced);
    EXPECT_FALSE(w.changedValue);
    EXPECT_EQ(w.recordsParsed, 102 + 100);
}

TEST(RecordWalk, BlockHeaderIsNeverReadAsARecord)
{
    // Stationary 6-byte records, 170 to a block: the walk steps over the
    // second block's pattern instead of reading it with two bytes of the
    // next record as a position, and a block without its pattern ends the
    // walk.
    const Bytes rec{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    Bytes t = transfer(0);
    for (int block = 0; block < 2048; block += 1024)
        for (int p = block + 4; p + 6 <= block + 1024; p += 6)
            put(t, p, rec);
    const RecordWalk w = walkRecords(t.data(), 2048, RecordFormat::SyncSerial6, 0x050603040102LL);
    EXPECT_FALSE(w.changedValue);
    EXPECT_EQ(w.recordsParsed, 170 + 170);
}

}  // namespace
