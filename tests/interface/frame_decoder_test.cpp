#include "interface/frame_decoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

ModeFlags flagsFor(const std::string& protocol)
{
    ModeFlags m;
    m.syncSerialMode = protocol == "BISS" || protocol == "SSI";
    m.rs485Mode = protocol == "RS485";
    m.rs485AbMode = protocol == "RS485+AB";
    m.spiMode = protocol == "SPI" || protocol == "SPI_CRC";
    m.spiCrcMode = protocol == "SPI_CRC";
    m.incrementalMode = protocol == "TTL" || protocol == "HTL";
    m.htlMode = protocol == "HTL";
    return m;
}

struct DecodeCase {
    std::string name;
    std::string protocol;
    int turnMode;
    std::vector<int> widths;  // one per field; fieldCount = widths.size() unless countOverride
    std::int64_t v;
    std::vector<std::int64_t> expected;  // fields 1..n
    std::optional<int> spiCrc = std::nullopt;
    int gaugeField = 0;
    std::optional<double> angle = std::nullopt;
    std::optional<int> countOverride = std::nullopt;
    std::array<std::int64_t, kMaxFields> previous{};
};

FrameLayout layoutOf(const DecodeCase& c)
{
    std::array<int, kMaxFields> widths{};
    for (std::size_t k = 0; k < c.widths.size(); ++k)
        widths[k] = c.widths[k];
    const int n = c.countOverride.value_or(static_cast<int>(c.widths.size()));
    return makeFrameLayout(n, widths, flagsFor(c.protocol), c.turnMode, c.gaugeField);
}

std::vector<DecodeCase> decodeCases()
{
    std::vector<DecodeCase> cases = {
        // Ordinary layouts.
        {"BissThreeFields", "BISS", 0, {15, 17, 2}, 0x3A5C96E1B, {0x74B9, 0x5B86, 3}},
        {"BissTwoFields", "BISS", 0, {20, 12}, 0x123456789ABC, {0x56789, 0xABC}},
        {"SsiOneFieldMasked", "SSI", 0, {12}, 0x123456789ABC, {0xABC}},
        {"WidthZeroAlwaysDecodesZero", "BISS", 0, {12, 0, 4}, 0xFFFF, {0xFFF, 0, 0xF}},
        {"Width32MaskKeepsAll64Bits", "BISS", 0, {40}, 0x12345678ABCDLL, {0x12345678ABCDLL}},

        // SPI: fields counted down from bit 47; CRC field follows them.
        {"SpiOneFieldUnmasked", "SPI", 0, {12}, 0x12ABCDEF123456LL, {0x12ABC}, 0x37},
        {"SpiTwoFields", "SPI", 0, {12, 14}, 0x12ABCDEF123456LL, {0xABC, 0x37BC}, 0x12},
        {"SpiThreeFieldsFirstUnmasked", "SPI_CRC", 0, {12, 14, 6}, 0x12ABCDEF123456LL,
         {0x12ABC, 0x37BC, 0x12}, 0x0D},
        {"SpiFiveFieldsAllMasked", "SPI", 0, {4, 4, 4, 4, 4}, 0x7FABCDEF123456LL,
         {0xA, 0xB, 0xC, 0xD, 0xE}, 0x3C},

        // RS485: field before the single-turn value from bit 32, single turn from bit 8.
        {"Rs485ThreeFields", "RS485", 0, {16, 17, 8}, 0x05060304010209LL, {0x0603, 0x0102, 0x09}},
        {"Rs485AbThreeFields", "RS485+AB", 0, {16, 17, 8}, 0x05060304010209LL,
         {0x0603, 0x0102, 0x09}},
        {"Rs485FourFields", "RS485", 0, {8, 16, 17, 8}, 0xFFAB4567012301LL,
         {0xFF, 0xAB45, 0x10123, 0x01}},
        {"Rs485FiveFieldsMultiturn", "RS485", 1, {16, 17, 4, 2, 2}, 0x05060304A10259LL,
         {0x0603, 0xA102, 0x5, 0x2, 0x1}},
        {"Rs485FiveFieldsSingleTurnOrdinary", "RS485", 0, {16, 17, 4, 2, 2}, 0x05060304A10259LL,
         {0x0182, 0xA102, 0x5, 0x2, 0x1}},
        {"Rs485AbFiveFieldsSingleTurn", "RS485+AB", 0, {16, 17, 4, 2, 2}, 0x05060304A10259LL,
         {0x0603, 0xA102, 0x5, 0x2, 0x1}},
        {"Rs485AbSixFields", "RS485+AB", 0, {16, 17, 2, 2, 2, 2}, 0x0A0708A4010299LL,
         {0x0708, 0x0102, 2, 1, 2, 1}},

        // TTL/HTL: 24-bit turn counter over a 24-bit position counter.
        {"TtlWrappedNegativeTurns", "TTL", 0, {16, 12}, 0xFFFFFF000400LL, {1, 0x400}},
        {"TtlTurnsAtLimitNotWrapped", "HTL", 0, {16, 12}, 0x001001000400LL, {0x1001, 0x400}},
        {"TtlTurnsJustAboveLimitWrapped", "TTL", 0, {24, 12}, 0x001002000400LL,
         {0xFFEFFE, 0x400}},
        // W2 = 32: mask + 2 wraps to 1 in 32 bits, and the position keeps 24 bits.
        {"TtlWideMaskLimitWrapsIn32Bits", "TTL", 0, {32, 32}, 0x000003ABCDEFLL,
         {0xFFFFFD, 0xABCDEF}},

        // Shift counts outside 0..63 shift everything out.
        {"ShiftBy64PositiveGivesZero", "BISS", 0, {8, 64}, 0x7FFFFFFFFFFFFFFFLL,
         {0, 0x7FFFFFFFFFFFFFFFLL}},
        {"ShiftBy64NegativeGivesMinusOne", "BISS", 0, {8, 64}, -2, {0xFF, -2}},
        {"NegativeShiftPositiveGivesZero", "SPI", 0, {50}, 0x7FFFFFFFFFFFFFFFLL, {0}, 0},
        {"NegativeShiftNegativeGivesMinusOne", "SPI", 0, {50}, -12345, {-1}, 0x3F},

        // Gauge angle: divisor is the mask, not 2^width.
        {"GaugeDividesByMask", "BISS", 0, {12}, 1024, {1024}, std::nullopt, 1, 1024.0 * 360 / 4095},
        {"GaugeOnDecodeOfZero", "BISS", 0, {15, 17, 2}, 0, {0, 0, 0}, std::nullopt, 2, 0.0},
        {"GaugeNoneLeavesAngle", "BISS", 0, {12}, 1024, {1024}, std::nullopt, 0, std::nullopt},
        {"GaugeAboveTenLeavesAngle", "BISS", 0, {12}, 1024, {1024}, std::nullopt, 11, std::nullopt},
        {"GaugeMaskZeroRestsAtZero", "BISS", 0, {12, 0}, 0xABC123, {0x123, 0}, std::nullopt, 2, 0.0},
        {"GaugeFullWidthUsesWhole32BitRange", "BISS", 0, {32}, 0x80000000LL, {0x80000000LL},
         std::nullopt, 1, 2147483648.0 * 360 / 4294967295.0},
        {"GaugeFullWidthNegativeFieldUsesLow32Bits", "BISS", 0, {64}, -1, {-1}, std::nullopt, 1,
         360.0},
    };

    // A count outside 1..10 decodes nothing and keeps the earlier fields.
    DecodeCase none{"CountZeroDecodesNothing", "BISS", 0, {15, 17, 2}, 0x3A5C96E1B, {}};
    none.countOverride = 0;
    none.previous = {7, 8, 9};
    cases.push_back(none);
    DecodeCase eleven{"CountElevenDecodesNothing", "BISS", 0, {15, 17, 2}, 0x3A5C96E1B, {}};
    eleven.countOverride = 11;
    cases.push_back(eleven);
    DecodeCase spiNone{"SpiCountZeroNoCrcField", "SPI", 0, {12}, 0x123456, {}};
    spiNone.countOverride = 0;
    cases.push_back(spiNone);

    // The gauge may point above the field count: it shows the value left
    // there by an earlier decode.
    DecodeCase stale{"GaugeAboveCountUsesEarlierValue", "BISS", 0, {12, 0, 8}, 0x5, {0x5}};
    stale.countOverride = 1;
    stale.previous = {0, 0, 64};
    stale.gaugeField = 3;
    stale.angle = 64.0 * 360 / 255;
    cases.push_back(stale);

    // Every gauge field of a ten-field frame, one nibble each.
    for (int g = 1; g <= 10; ++g) {
        DecodeCase c{"GaugeField" + std::to_string(g), "BISS", 0,
                     {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 0x123456789ALL,
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
        c.gaugeField = g;
        c.angle = g * 360.0 / 15;
        cases.push_back(c);
    }
    return cases;
}

class DecodeFields : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeFields, MatchesLayoutTable)
{
    const DecodeCase& c = GetParam();
    const DecodedFrame d = decodeFields(c.v, layoutOf(c), c.previous);

    const int n = static_cast<int>(c.expected.size());
    EXPECT_EQ(d.fieldsDecoded, n);
    for (int k = 0; k < kMaxFields; ++k) {
        const std::int64_t want = k < n ? c.expected[k] : c.previous[k];
        EXPECT_EQ(d.fieldValue[k], want) << "field " << k + 1;
    }
    EXPECT_EQ(d.spiCrcField, c.spiCrc);
    ASSERT_EQ(d.gaugeAngle.has_value(), c.angle.has_value());
    if (c.angle) {
        EXPECT_TRUE(std::isfinite(*d.gaugeAngle));
        EXPECT_DOUBLE_EQ(*d.gaugeAngle, *c.angle);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DecodeFields, ::testing::ValuesIn(decodeCases()),
                         [](const auto& info) { return info.param.name; });

TEST(FieldMask, TwoToTheWidthMinusOneInLow32Bits)
{
    EXPECT_EQ(fieldMaskOf(0), 0u);
    EXPECT_EQ(fieldMaskOf(1), 1u);
    EXPECT_EQ(fieldMaskOf(12), 0xFFFu);
    EXPECT_EQ(fieldMaskOf(31), 0x7FFFFFFFu);
    for (int w : {32, 33, 53, 63, 64, 100, INT_MAX})
        EXPECT_EQ(fieldMaskOf(w), 0xFFFFFFFFu) << w;
    for (int w : {-1, -31, -2000, INT_MIN})
        EXPECT_EQ(fieldMaskOf(w), 0u) << w;
    // Applied sign-extended: the full mask removes nothing.
    EXPECT_EQ(widenMask(0xFFFFFFFFu), -1);
    EXPECT_EQ(widenMask(0x7FFFFFFFu), 0x7FFFFFFF);
}

TEST(FrameShift, CountsOutside0To63ShiftEverythingOut)
{
    const std::int64_t pos = 0x7123456789ABCDEFLL;
    EXPECT_EQ(frameShift(pos, 0), pos);
    EXPECT_EQ(frameShift(pos, 63), 0);
    EXPECT_EQ(frameShift(pos, 60), 7);
    EXPECT_EQ(frameShift(-8, 1), -4);  // arithmetic
    EXPECT_EQ(frameShift(INT64_MIN, 63), -1);
    for (std::int64_t count : {64, 65, 255, 256, 300, -1, -64, -200}) {
        EXPECT_EQ(frameShift(pos, count), 0) << count;
        EXPECT_EQ(frameShift(-5, count), -1) << count;
    }
}

TEST(DecoderText, FieldShowsLow32BitsSigned)
{
    EXPECT_EQ(fieldValueText(0x74B9), "29881");
    EXPECT_EQ(fieldValueText(0xFFFFFFFFLL), "-1");
    EXPECT_EQ(fieldValueText(0x80000000LL), "-2147483648");
    EXPECT_EQ(fieldValueText(0x500000005LL), "5");
    EXPECT_EQ(fieldValueText(-1), "-1");
}

TEST(DecoderText, AngleThreeDecimals)
{
    EXPECT_EQ(angleText(1024.0 * 360 / 4095), "90.022");
    EXPECT_EQ(angleText(0.0), "0.000");
    EXPECT_EQ(angleText(359.9996), "360.000");
}

TEST(DecoderText, RawFrameInEachBase)
{
    EXPECT_EQ(rawFrameText(0x050603040102LL, DisplayBase::Hex), "50603040102");
    EXPECT_EQ(rawFrameText(0xABCDEF, DisplayBase::Hex), "ABCDEF");
    EXPECT_EQ(rawFrameText(-1, DisplayBase::Hex), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(rawFrameText(0, DisplayBase::Hex), "0");

    EXPECT_EQ(rawFrameText(0x050603040102LL, DisplayBase::Decimal), "5523378536706");
    EXPECT_EQ(rawFrameText(-42, DisplayBase::Decimal), "-42");

    EXPECT_EQ(rawFrameText(0, DisplayBase::Binary), "0");
    EXPECT_EQ(rawFrameText(0b100101, DisplayBase::Binary), "100101");
    EXPECT_EQ(rawFrameText(-1, DisplayBase::Binary), QString(64, '1'));
    EXPECT_EQ(rawFrameText(INT64_MIN, DisplayBase::Binary), "1" + QString(63, '0'));
}

}  // namespace
