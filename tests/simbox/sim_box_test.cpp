// The simulated box through the real link classes: commands, streams of
// every protocol group, resets, the FIFO and injected faults.
#include "sim_link.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

// --- Record formats, written out as the workbench's parser reads them ----

std::uint64_t bitsAt(std::uint8_t b, int shift) { return std::uint64_t{b} << shift; }

std::uint64_t sixByteValue(const std::uint8_t* b)
{
    return bitsAt(b[4], 40) + bitsAt(b[5], 32) + bitsAt(b[2], 24) + bitsAt(b[3], 16) + bitsAt(b[0], 8) + b[1];
}
std::uint64_t spiValue(const std::uint8_t* b)
{
    return bitsAt(b[0], 40) + bitsAt(b[1], 32) + bitsAt(b[2], 24) + bitsAt(b[3], 16) + bitsAt(b[4], 8) + b[5];
}
std::uint64_t rs485Value(const std::uint8_t* b)
{
    return bitsAt(b[4], 48) + bitsAt(b[5], 40) + bitsAt(b[2], 32) + bitsAt(b[3], 24) + bitsAt(b[0], 16) + bitsAt(b[1], 8) + b[8];
}
std::uint64_t rs485AbValue(const std::uint8_t* b)
{
    return bitsAt(b[9], 48) + bitsAt(b[6], 40) + bitsAt(b[7], 32) + bitsAt(b[3], 24) + bitsAt(b[0], 16) + bitsAt(b[1], 8) + b[8];
}
std::uint64_t rxOnlyValue(const std::uint8_t* b)
{
    return bitsAt(b[2], 24) + bitsAt(b[3], 16) + bitsAt(b[0], 8) + b[1];
}
std::uint64_t sinCosCount(const std::uint8_t* b)
{
    return 65536 * std::uint64_t{b[9]} + 256 * std::uint64_t{b[6]} + b[7];
}

std::int64_t mask(int w) { return (std::int64_t{1} << w) - 1; }

// Field layouts of the workbench's decoder, for the cases used here.
enum class Layout { Ordinary, Spi, Rs485, Incremental, Count };

std::vector<std::int64_t> splitFields(Layout layout, std::uint64_t value, const std::vector<int>& w)
{
    const auto v = static_cast<std::int64_t>(value);
    std::vector<std::int64_t> f;
    switch (layout) {
    case Layout::Ordinary: {
        int below = 0;
        for (int x : w)
            below += x;
        for (int x : w) {
            below -= x;
            f.push_back((v >> below) & mask(x));
        }
        break;
    }
    case Layout::Spi: {
        int used = 0;
        for (int x : w) {
            used += x;
            f.push_back((v >> (48 - used)) & mask(x));
        }
        break;
    }
    case Layout::Rs485:
        f = {(v >> 32) & mask(w[0]), (v >> 8) & mask(w[1]), v & mask(w[2])};
        break;
    case Layout::Incremental: {
        std::int64_t t = v >> 24;
        if (t > mask(w[1]) + 2)
            t = std::llabs(t - (std::int64_t{1} << 24));
        f = {t & mask(w[0]), v & mask(w[1])};
        break;
    }
    case Layout::Count: f = {v}; break;
    }
    return f;
}

struct StreamCase {
    const char* name;
    int protocolCode;
    int singleTurnBits, turnBits, statusBits;
    std::uint32_t status;
    std::int64_t counts;
    int recordLength;
    std::uint64_t (*decode)(const std::uint8_t*);
    Layout layout;
    std::vector<int> widths;
};

std::ostream& operator<<(std::ostream& os, const StreamCase& c) { return os << c.name; }

class StreamOfEveryProtocol : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamOfEveryProtocol, BlocksBeginWithSyncAndRecordsDecodeToTheEncoderPosition)
{
    const StreamCase& c = GetParam();
    SimLink link;
    ASSERT_TRUE(link.findBox());
    EncoderModel& enc = link.box->encoder();
    enc.setResolution(c.singleTurnBits, c.turnBits, c.statusBits);
    enc.setStatus(c.status);
    enc.setPositionCounts(c.counts);

    PacketParams params;
    params.protocolCode = c.protocolCode;
    params.frameBits = enc.frameBits();
    params.crcInvertBits = 0;
    params.crcConfig = 0;
    link.configure(params);
    ASSERT_EQ(6u, link.read(2048).bytes.size());  // the query answer
    ASSERT_TRUE(link.send({Flag::ReadActive}));

    const ReadResult r = link.read(2048);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(2048u, r.bytes.size());
    const auto sync = findSyncPair(r.bytes);
    ASSERT_TRUE(sync);
    EXPECT_EQ(0u, *sync % 512);  // blocks start on packet boundaries

    const std::uint8_t* block = r.bytes.data() + *sync;
    const std::uint64_t value = c.decode(block + 4);
    const auto now = benchClock().nowMicros();
    const SimBoxState st = link.box->state();
    ASSERT_EQ(recordGroupOf(c.protocolCode), st.streamGroup);
    EXPECT_EQ(enc.recordValueAt(st.streamGroup, st.config, now).value, value);
    EXPECT_EQ(enc.expectedFieldsAt(st.streamGroup, now), splitFields(c.layout, value, c.widths));

    // The encoder stands still: every record of the block is the same, and
    // the rest of the block, too short for a record, is zero.
    const int records = (kStreamBlockSize - 4) / c.recordLength;
    for (int k = 1; k < records; ++k)
        ASSERT_EQ(value, c.decode(block + 4 + k * c.recordLength)) << "record " << k;
    for (int i = 4 + records * c.recordLength; i < kStreamBlockSize; ++i)
        EXPECT_EQ(0, block[i]);

    if (c.layout == Layout::Spi) {
        const int bits = enc.frameBits();
        EXPECT_EQ(block[4 + 9], (value >> (42 - bits)) & 0x3F);  // b9 = the CRC field
    }
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, StreamOfEveryProtocol,
    ::testing::Values(
        StreamCase{"BISS", 0, 17, 15, 2, 1, 1234ll * 131072 + 98765, 6, sixByteValue, Layout::Ordinary, {15, 17, 2}},
        StreamCase{"SSI", 1, 13, 12, 0, 0, 777ll * 8192 + 4321, 6, sixByteValue, Layout::Ordinary, {12, 13}},
        StreamCase{"SPI", 5, 14, 12, 0, 0, 0x5A5ll * 16384 + 0x1234, 10, spiValue, Layout::Spi, {12, 14}},
        StreamCase{"RS485", 2, 17, 16, 8, 0xC3, 0x1234ll * 131072 + 0x1ABCD, 10, rs485Value, Layout::Rs485, {16, 17, 8}},
        StreamCase{"Corvane_485", 10, 17, 16, 8, 0x05, 42ll * 131072 + 7, 10, rs485Value, Layout::Rs485, {16, 17, 8}},
        StreamCase{"RS485_AB", 4, 17, 0, 8, 0x81, 0x1ABCD, 10, rs485AbValue, Layout::Ordinary, {17, 8}},
        StreamCase{"TTL_backwards", 3, 12, 0, 0, 0, -3ll * 4096 + 100, 6, sixByteValue, Layout::Incremental, {16, 12}},
        StreamCase{"HTL", 8, 12, 0, 0, 0, 9ll * 4096 + 4000, 6, sixByteValue, Layout::Incremental, {16, 12}},
        StreamCase{"rx_485_only", 7, 20, 0, 4, 9, 0xABCDE, 4, rxOnlyValue, Layout::Ordinary, {20, 4}},
        StreamCase{"sin_cosine", 6, 12, 0, 0, 0, 100, 10, sinCosCount, Layout::Count, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimBox, SinCosSampleTransferOf20480Bytes)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    EncoderModel& enc = link.box->encoder();
    enc.setResolution(12, 0, 0);
    enc.setPositionCounts(64);
    SinCosShape shape;
    shape.periodsPerTurn = 16;
    shape.sinAmplitude = 1.5;
    enc.setSinCos(shape);
    PacketParams p;
    p.protocolCode = 6;
    link.configure(p);
    link.read(2048);

    const auto t0 = benchClock().nowMicros();
    ASSERT_TRUE(link.send({Flag::SincosActive}));
    const ReadResult r = link.read(20480);
    const double ms = static_cast<double>(benchClock().nowMicros() - t0) / 1000.0;
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(20480u, r.bytes.size());
    // 20 blocks of 102 samples, one every 16 us: 32.64 ms, inside the
    // reader's 50 ms wait, whatever the machine's load.
    EXPECT_NEAR(ms, 20 * 102 * 0.016, 0.02);

    const SinCosSample s = enc.sinCosAt(t0);
    for (int b = 0; b < 20; ++b) {
        const std::uint8_t* block = r.bytes.data() + b * kStreamBlockSize;
        ASSERT_TRUE(std::equal(kBlockSync.begin(), kBlockSync.end(), block)) << "block " << b;
        for (int k = 0; k < 102; ++k) {
            const std::uint8_t* rec = block + 4 + 10 * k;
            ASSERT_TRUE(std::equal(s.codes.begin(), s.codes.end(), rec)) << b << "/" << k;
            ASSERT_EQ(s.count, sinCosCount(rec))
                << b << "/" << k << " bytes 6..9: " << int(rec[6]) << " " << int(rec[7]) << " "
                << int(rec[8]) << " " << int(rec[9]);
        }
    }
    EXPECT_EQ(179 + 25, s.codes[0]);  // 2.5 V + 1.5 V peak = 4.0 V
}

TEST(SimBox, APendingTransferTakesEveryPacketOfABurst)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    PacketParams p;
    p.protocolCode = 6;
    link.configure(p);
    link.read(2048);
    // So fast that the firmware thread produces many packets per wake-up.
    // The read is pending before the stream starts, so nothing may be lost.
    std::vector<std::uint8_t> buf(81920);
    OverlappedRecord ov;
    auto ctx = link.in->beginTransfer(buf.data(), 81920, ov);
    ASSERT_TRUE(link.send({Flag::SincosActive}));
    ASSERT_TRUE(link.in->waitForTransfer(ov, 1e6));
    int len = 0;
    ASSERT_TRUE(link.in->finishTransfer(buf.data(), len, ov, ctx));
    ASSERT_EQ(81920, len);
    for (std::size_t b = 0; b < buf.size(); b += kStreamBlockSize)
        ASSERT_TRUE(std::equal(kBlockSync.begin(), kBlockSync.end(), buf.begin() + static_cast<long>(b)))
            << "block at " << b;
}

// --- Commands ------------------------------------------------------------

TEST(SimBox, TakesTheConfigurationAndAnswersTheQuery)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    PacketParams p;  // BISS, 4.8 MHz, single turn, inverted, Binary, 34 bits
    link.configure(p);

    const ReadResult answer = link.read(2048, 100);
    ASSERT_TRUE(answer.ok);
    EXPECT_EQ((std::vector<std::uint8_t>{0x9A, 0x9A, 0x12, 0x00, 0xA1, 0x61}), answer.bytes);

    const SimBoxState s = link.box->state();
    EXPECT_TRUE(s.configured);
    EXPECT_EQ(18, s.config.clockTurnByte);
    EXPECT_EQ(0, s.config.protocolCode);
    EXPECT_EQ(0xA1, s.config.crcConfig);
    EXPECT_EQ(34, s.config.frameBits);
    EXPECT_TRUE(s.config.crcInverted);
    EXPECT_FALSE(s.config.gray);

    const auto log = link.box->receivedPackets();
    ASSERT_EQ(4u, log.size());
    EXPECT_TRUE(log[0].isFill(0x4D));
    EXPECT_TRUE(log[1].isFill(0x4A));
    EXPECT_TRUE(log[2].startsWith({0x3A, 0x3A, 0x12, 0x00, 0xA1, 0x61}));
    EXPECT_TRUE(log[3].isFill(0x9A));

    // SSI, 2.4 MHz, multiturn, not inverted, Gray, 25 bits: 3A 3A 23 01 00 98.
    PacketParams ssi;
    ssi.clockCode = 34;
    ssi.turnMode = 1;
    ssi.protocolCode = 1;
    ssi.crcConfig = 0;
    ssi.crcInvertBits = 0;
    ssi.codeMode = 128;
    ssi.frameBits = 25;
    ASSERT_TRUE(link.send({Flag::ConfigCmd}, ssi));
    const SimBoxState g = link.box->state();
    EXPECT_TRUE(g.config.gray);
    EXPECT_TRUE(g.config.multiturn());
    EXPECT_EQ(25, g.config.frameBits);
    EXPECT_EQ(RecordGroup::SyncSerial, g.config.group());
}

TEST(SimBox, ReadOf2048BytesTakesTwoBlocksOfRecords)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.configure({});
    link.read(2048);
    const auto t0 = benchClock().nowMicros();
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    const ReadResult r = link.read(2048);
    const double ms = static_cast<double>(benchClock().nowMicros() - t0) / 1000.0;
    ASSERT_TRUE(r.ok);
    // 2 x 170 BISS records, one every 0.125 ms: the last one is taken at 42.4 ms.
    EXPECT_GE(ms, 42.0);
    EXPECT_LT(ms, 400.0);
    EXPECT_GE(link.box->state().blocksStarted, 2u);
}

TEST(SimBox, StopPowerOffAndStreamingWhileUnpowered)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.configure({});
    link.read(2048);
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    ASSERT_TRUE(link.read(2048).ok);

    // With ReadActive still up the stop flag wins: 512 x 6A.
    ASSERT_TRUE(link.send({Flag::ReadActive, Flag::StopCmd}));
    EXPECT_FALSE(link.box->state().streaming);
    link.read(2048, 100);  // whatever was still in the FIFO
    EXPECT_FALSE(link.read(2048, 150).signalled);

    ASSERT_TRUE(link.send({Flag::ReadActive}));
    EXPECT_TRUE(link.box->state().streaming);
    ASSERT_TRUE(link.send({Flag::PowerOffCmd}));
    EXPECT_FALSE(link.box->state().streaming);
    EXPECT_FALSE(link.box->state().powered);
    // While power is held off every packet reads 2C; a bare 7A is ignored too.
    ASSERT_TRUE(link.send(buildCommandPacket(FlagSnapshot{Flag::ReadActive}, {})));
    EXPECT_FALSE(link.box->state().streaming);
    ASSERT_TRUE(link.send({Flag::PowerOnCmd}));
    EXPECT_TRUE(link.box->state().powered);
}

TEST(SimBox, ResetHeadersClearAngleAndTurnCount)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    EncoderModel& enc = link.box->encoder();
    enc.setResolution(17, 16, 8);
    enc.setPositionCounts(25ll * 131072 + 5000);
    PacketParams p;
    p.protocolCode = 2;
    link.configure(p);
    link.read(2048);

    auto streamedFields = [&] {
        EXPECT_TRUE(link.send({Flag::ReadActive}));
        const ReadResult r = link.read(2048);
        EXPECT_TRUE(link.send({Flag::StopCmd}));
        link.read(2048, 50);
        const auto sync = findSyncPair(r.bytes);
        if (!sync)
            return std::vector<std::int64_t>{};
        return splitFields(Layout::Rs485, rs485Value(r.bytes.data() + *sync + 4), {16, 17, 8});
    };
    EXPECT_EQ((std::vector<std::int64_t>{25, 5000, 0}), streamedFields());

    ASSERT_TRUE(link.send({Flag::ResetAngleCmd}));  // B1 B1 A1 A1 A1 A1
    EXPECT_EQ((std::vector<std::int64_t>{25, 0, 0}), streamedFields());
    enc.jumpBy(321);
    ASSERT_TRUE(link.send({Flag::ResetTurnsCmd, Flag::ConfigBeginCmd}));  // B2 header over 4D
    EXPECT_EQ((std::vector<std::int64_t>{0, 321, 0}), streamedFields());
}

TEST(SimBox, FullFifoLosesDataAndKeepsWhatItHolds)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.configure({});
    link.read(2048);
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    benchSleep(150);  // nobody reads: about 7 blocks are taken

    const SimBoxState s = link.box->state();
    EXPECT_EQ(4u, s.fifoPackets);
    EXPECT_GT(s.lostBytes, 2048u);
    // The four buffered packets come at once, and still hold whole blocks.
    const ReadResult r = link.read(2048, 5);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(2048u, r.bytes.size());
    EXPECT_TRUE(findSyncPair(r.bytes));
}

// --- Faults --------------------------------------------------------------

TEST(SimBoxFaults, NoAnswerAndLateAnswer)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.box->setNoAnswer(true);
    link.configure({});
    EXPECT_EQ(4u, link.box->receivedCount());  // the packets were taken
    EXPECT_FALSE(link.read(2048, 100).signalled);
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    EXPECT_FALSE(link.read(2048, 100).signalled);

    link.box->setNoAnswer(false);
    ASSERT_TRUE(link.send({Flag::StopCmd}));
    link.box->setAnswerDelayMs(250);
    const auto t0 = benchClock().nowMicros();
    ASSERT_TRUE(link.send({Flag::ConfigQueryCmd}));
    EXPECT_FALSE(link.read(2048, 50).signalled);  // the configuration's 50 ms wait misses it
    const ReadResult late = link.read(2048);
    ASSERT_TRUE(late.ok);
    EXPECT_EQ(0x9A, late.bytes.at(0));
    EXPECT_GE(benchClock().nowMicros() - t0, 250'000);
}

TEST(SimBoxFaults, CorruptAndSynclessBlocks)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.box->encoder().setPositionCounts(123456789);
    link.configure({});
    link.read(2048);

    link.box->corruptBlocks(1, 8);
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    const ReadResult r = link.read(2048);
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(findSyncPair(r.bytes));
    // Compare each block with a clean one: 8 inverted bytes in the first only.
    std::vector<std::uint8_t> clean(kStreamBlockSize, 0);
    std::copy(kBlockSync.begin(), kBlockSync.end(), clean.begin());
    std::array<std::uint8_t, 6> rec{};
    const SimBoxState s = link.box->state();
    encodeSixByteRecord(link.box->encoder().recordValueAt(s.streamGroup, s.config, benchClock().nowMicros()).value,
                        rec.data());
    for (int k = 0; k < 170; ++k)
        std::copy(rec.begin(), rec.end(), clean.begin() + 4 + 6 * k);
    for (int b = 0; b < 2; ++b) {
        int inverted = 0, other = 0;
        for (int i = 0; i < kStreamBlockSize; ++i) {
            const std::uint8_t got = r.bytes[static_cast<std::size_t>(b * kStreamBlockSize + i)];
            inverted += got != clean[static_cast<std::size_t>(i)] && got == (clean[static_cast<std::size_t>(i)] ^ 0xFF);
            other += got != clean[static_cast<std::size_t>(i)] && got != (clean[static_cast<std::size_t>(i)] ^ 0xFF);
        }
        EXPECT_EQ(b == 0 ? 8 : 0, inverted) << "block " << b;
        EXPECT_EQ(0, other) << "block " << b;
    }

    link.box->dropBlockSync(-1);
    link.read(2048);  // blocks started before the fault may still be buffered
    EXPECT_FALSE(findSyncPair(link.read(2048).bytes));
    link.box->dropBlockSync(0);
    link.read(2048);
    EXPECT_TRUE(findSyncPair(link.read(2048).bytes));
}

TEST(SimBoxFaults, SpiCrcErrorsAndPositionJumps)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    EncoderModel& enc = link.box->encoder();
    enc.setResolution(14, 12, 0);
    enc.setPositionCounts(1000);
    PacketParams p;
    p.protocolCode = 5;
    p.frameBits = 26;
    link.configure(p);
    link.read(2048);

    auto firstRecord = [&] {
        EXPECT_TRUE(link.send({Flag::ReadActive}));
        const ReadResult r = link.read(2048);
        EXPECT_TRUE(link.send({Flag::StopCmd}));
        link.read(2048, 50);
        const auto sync = findSyncPair(r.bytes);
        EXPECT_TRUE(sync);
        return std::vector<std::uint8_t>(r.bytes.begin() + static_cast<long>(sync.value_or(0)) + 4,
                                         r.bytes.begin() + static_cast<long>(sync.value_or(0)) + 14);
    };
    auto crcField = [](const std::vector<std::uint8_t>& rec) { return (spiValue(rec.data()) >> 16) & 0x3F; };

    auto rec = firstRecord();
    EXPECT_EQ(crcField(rec), rec[9]);
    link.box->injectCrcErrors(-1);
    rec = firstRecord();
    EXPECT_NE(crcField(rec), rec[9]);
    link.box->injectCrcErrors(0);

    enc.jumpBy(4000);
    rec = firstRecord();
    EXPECT_EQ(crcField(rec), rec[9]);
    EXPECT_EQ(5000, splitFields(Layout::Spi, spiValue(rec.data()), {12, 14})[1]);
}

TEST(SimBoxFaults, OutTransfersThatStallOrNeverComplete)
{
    SimLink link;
    ASSERT_TRUE(link.findBox());
    link.box->setOutFault(OutFault::Stall);
    EXPECT_FALSE(link.send({Flag::PowerOnCmd}));
    EXPECT_EQ(TransferStatus::Stall, link.out->lastStatus.load());
    EXPECT_EQ(1u, link.box->state().stalledPackets);

    link.box->setOutFault(OutFault::NeverComplete);
    CommandPacket packet = buildCommandPacket(FlagSnapshot{Flag::PowerOnCmd}, {});
    OverlappedRecord ov;
    auto ctx = link.out->beginTransfer(packet.data(), 512, ov);
    EXPECT_FALSE(link.out->waitForTransfer(ov, 10));  // the sender's wait
    int len = 0;
    EXPECT_FALSE(link.out->finishTransfer(packet.data(), len, ov, ctx));  // cancels it

    link.box->setOutFault(OutFault::None);
    EXPECT_TRUE(link.send({Flag::PowerOnCmd}));
    EXPECT_EQ(1u, link.box->receivedCount());  // only the packet that got through
}

}  // namespace
