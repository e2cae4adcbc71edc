// The encoder model and the record byte layouts, without the box.
#include "common/clock.h"
#include "simbox/encoder_model.h"
#include "simbox/record_encoding.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using Frame = std::array<std::uint8_t, 10>;

BoxInterfaceConfig configFor(int protocolCode, int frameBits, bool crcInverted = false)
{
    BoxInterfaceConfig c;
    c.protocolCode = protocolCode;
    c.frameBits = frameBits;
    c.crcInverted = crcInverted;
    return c;
}

// Remainder of data * x^6 divided by x^6 + x + 1, by long division over GF(2).
std::uint8_t crc6Reference(std::uint64_t data, int bits)
{
    unsigned __int128 r = static_cast<unsigned __int128>(data) << 6;
    const unsigned __int128 poly = 0x43;
    for (int bit = bits + 5; bit >= 6; --bit)
        if ((r >> bit) & 1)
            r ^= poly << (bit - 6);
    return static_cast<std::uint8_t>(r & 0x3F);
}

TEST(RecordEncoding, BytesLandWhereTheRecordFormatsReadThem)
{
    Frame b{};
    encodeSixByteRecord(0x050603040102, b.data());
    EXPECT_EQ((std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}),
              (std::array<std::uint8_t, 6>{b[0], b[1], b[2], b[3], b[4], b[5]}));

    encodeSpiRecord(0x010203040506, 0x0A, b.data());
    EXPECT_EQ((Frame{1, 2, 3, 4, 5, 6, 0, 0, 0, 0x0A}), b);

    // RS485 and RS485+AB: only the bytes of the value are fixed; the others
    // must not form a sync record (b8 b9 b6 b7 = AA 55 55 AA).
    encodeRs485Record(0x05060304010209, b.data());
    EXPECT_EQ((Frame{1, 2, 3, 4, 5, 6, 0, 0, 9, 0}), b);
    encodeRs485AbRecord(0x0A070804010209, b.data());
    EXPECT_EQ((Frame{1, 2, 0, 4, 0, 0, 7, 8, 9, 0x0A}), b);

    encodeRxOnlyRecord(0x03040102, b.data());
    EXPECT_EQ(1, b[0]);
    EXPECT_EQ(2, b[1]);
    EXPECT_EQ(3, b[2]);
    EXPECT_EQ(4, b[3]);

    encodeSinCosRecord({10, 20, 30, 40, 50, 60}, 0x010607, b.data());
    EXPECT_EQ((Frame{10, 20, 30, 40, 50, 60, 0x06, 0x07, 0, 0x01}), b);
}

TEST(RecordEncoding, GroupsAndLengthsOfEveryProtocolCode)
{
    const RecordGroup expected[13] = {
        RecordGroup::SyncSerial, RecordGroup::SyncSerial, RecordGroup::Rs485,  RecordGroup::Incremental,
        RecordGroup::Rs485Ab,    RecordGroup::Spi,        RecordGroup::SinCos, RecordGroup::RxOnly,
        RecordGroup::Incremental, RecordGroup::SinCos,    RecordGroup::Rs485,  RecordGroup::RxOnly,
        RecordGroup::SinCos};
    for (int code = 0; code < 13; ++code)
        EXPECT_EQ(expected[code], recordGroupOf(code)) << code;
    EXPECT_EQ(RecordGroup::None, recordGroupOf(13));
    EXPECT_EQ(6, recordLengthOf(RecordGroup::SyncSerial));
    EXPECT_EQ(10, recordLengthOf(RecordGroup::Spi));
    EXPECT_EQ(4, recordLengthOf(RecordGroup::RxOnly));
}

TEST(RecordEncoding, Crc6MatchesPolynomialDivision)
{
    EXPECT_EQ(0, crc6(0, 20));
    for (std::uint64_t data : {0x1ull, 0x2Aull, 0x3A5C96E1Bull, 0xFFFFFFFFFull, 0x123456789ABull})
        for (int bits : {6, 17, 34, 42})
            EXPECT_EQ(crc6Reference(data & ((1ull << bits) - 1), bits), crc6(data, bits))
                << std::hex << data << " " << std::dec << bits;
}

TEST(EncoderModel, FieldsAndSerialFrameAsReadWithTheConfiguredClocks)
{
    EncoderModel m;
    m.setResolution(12, 4, 2);
    m.setStatus(2);
    m.setPositionCounts(3 * 4096 + 1000);
    const auto t = benchClock().nowMicros();
    EXPECT_EQ(3, m.fieldsAt(t).turns);
    EXPECT_EQ(1000u, m.fieldsAt(t).position);
    const std::uint64_t frame = (3ull << 14) | (1000ull << 2) | 2;
    EXPECT_EQ(frame, m.frameAt(t));
    EXPECT_EQ(18, m.frameBits());

    EXPECT_EQ(frame, m.recordValueAt(RecordGroup::SyncSerial, configFor(0, 18), t).value);
    EXPECT_EQ(frame << 2, m.recordValueAt(RecordGroup::SyncSerial, configFor(1, 20), t).value);
    EXPECT_EQ(frame >> 2, m.recordValueAt(RecordGroup::SyncSerial, configFor(1, 16), t).value);
    EXPECT_EQ(frame, m.recordValueAt(RecordGroup::RxOnly, configFor(7, 18), t).value);
    EXPECT_EQ((std::vector<std::int64_t>{3, 1000, 2}), m.expectedFieldsAt(RecordGroup::SyncSerial, t));

    // The turn count wraps at its width.
    m.setPositionCounts(17 * 4096 + 5);
    EXPECT_EQ((std::vector<std::int64_t>{1, 5, 2}), m.expectedFieldsAt(RecordGroup::SyncSerial, t));
}

TEST(EncoderModel, SpiWordCountsFromBit47AndCarriesItsCrc)
{
    EncoderModel m;
    m.setResolution(14, 12, 0);
    m.setPositionCounts(0x5A5 * 16384 + 0x1234);
    const auto t = benchClock().nowMicros();
    const std::uint64_t data = (0x5A5ull << 14) | 0x1234;
    const RecordValue r = m.recordValueAt(RecordGroup::Spi, configFor(5, 26), t);
    EXPECT_EQ(0x5A5u, (r.value >> 36) & 0xFFF);          // field 1: bits 47..36
    EXPECT_EQ(0x1234u, (r.value >> 22) & 0x3FFF);        // field 2: bits 35..22
    EXPECT_EQ(crc6(data, 26), (r.value >> 16) & 0x3F);   // CRC field: bits 21..16
    EXPECT_EQ(crc6(data, 26), r.crc);
    EXPECT_EQ(0u, r.value & 0xFFFF);

    const RecordValue inv = m.recordValueAt(RecordGroup::Spi, configFor(5, 26, true), t);
    EXPECT_EQ(crc6(data, 26) ^ 0x3F, inv.crc);
    EXPECT_EQ(inv.crc, (inv.value >> 16) & 0x3F);
}

TEST(EncoderModel, Rs485IncrementalAndSinCosLayouts)
{
    EncoderModel m;
    m.setResolution(17, 16, 8);
    m.setStatus(0xC3);
    m.setPositionCounts(0x1234ll * 131072 + 0x1ABCD);
    auto t = benchClock().nowMicros();
    const std::uint64_t v = m.recordValueAt(RecordGroup::Rs485, configFor(2, 41), t).value;
    EXPECT_EQ(0x1234u, (v >> 32) & 0xFFFF);
    EXPECT_EQ(0x1ABCDu, (v >> 8) & 0x1FFFF);
    EXPECT_EQ(0xC3u, v & 0xFF);
    EXPECT_EQ(v, m.recordValueAt(RecordGroup::Rs485Ab, configFor(4, 41), t).value);

    // Incremental: three turns backwards wrap the 24-bit turn counter; the
    // workbench shows their magnitude.
    m.setResolution(12, 0, 0);
    m.setPositionCounts(-3 * 4096 + 100);
    t = benchClock().nowMicros();
    const std::uint64_t inc = m.recordValueAt(RecordGroup::Incremental, configFor(3, 12), t).value;
    EXPECT_EQ(0xFFFFFDu, inc >> 24);
    EXPECT_EQ(100u, inc & 0xFFFFFF);
    EXPECT_EQ((std::vector<std::int64_t>{3, 100}), m.expectedFieldsAt(RecordGroup::Incremental, t));

    // Sin/cos at a quarter signal period: SIN+ at its peak, COS+ at its offset.
    SinCosShape shape;
    shape.periodsPerTurn = 16;
    m.setSinCos(shape);
    m.setPositionCounts(64);  // 64/4096 turn x 16 periods = a quarter period
    const SinCosSample s = m.sinCosAt(benchClock().nowMicros());
    EXPECT_NEAR(3.5, s.volts[0], 1e-9);
    EXPECT_NEAR(1.5, s.volts[1], 1e-9);
    EXPECT_NEAR(2.5, s.volts[2], 1e-9);
    EXPECT_EQ(179, s.codes[0]);  // 3.5 V * 256 / 5 = 179.2
    EXPECT_EQ(76, s.codes[1]);
    EXPECT_EQ(1u, s.count);      // one quadrature step per quarter period
    EXPECT_EQ(25, s.codes[4]);   // just past the index window: Z+ low (0.5 V), Z- high
    EXPECT_EQ(230, s.codes[5]);
}

TEST(EncoderModel, TurnsAtItsSpeedAndObeysResetsAndJumps)
{
    EncoderModel m;
    m.setResolution(12, 8, 0);
    m.setSpeedRpm(60.0);  // one turn per second
    const auto t0 = benchClock().nowMicros() + 10'000;
    const EncoderFields a = m.fieldsAt(t0);
    const EncoderFields b = m.fieldsAt(t0 + 1'000'000);
    EXPECT_EQ(a.turns + 1, b.turns);
    EXPECT_EQ(a.position, b.position);
    const EncoderFields half = m.fieldsAt(t0 + 500'000);
    EXPECT_EQ((a.position + 2048) % 4096, half.position);

    m.setSpeedRpm(0);
    m.setPositionCounts(5 * 4096 + 777);
    m.jumpBy(1000);
    EXPECT_EQ(1777u, m.fields().position);
    m.resetAngle();
    EXPECT_EQ(0u, m.fields().position);
    EXPECT_EQ(5, m.fields().turns);
    m.jumpBy(300);
    m.resetTurns();
    EXPECT_EQ(0, m.fields().turns);
    EXPECT_EQ(300u, m.fields().position);
}

}  // namespace
