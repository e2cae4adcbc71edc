#include "measure/decimal_report.h"

#include "interface/frame_decoder.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kCol(28, ' ');

ModeFlags modesFor(ReportGroup g)
{
    ModeFlags m;
    m.syncSerialMode = false;
    switch (g) {
    case ReportGroup::Rs485: m.rs485Mode = true; break;
    case ReportGroup::Rs485Ab: m.rs485AbMode = true; break;
    case ReportGroup::Spi: m.spiMode = true; break;
    case ReportGroup::SyncSerial: m.syncSerialMode = true; m.bissSelected = true; break;
    case ReportGroup::SinCos: m.sinCosMode = true; break;
    case ReportGroup::None: m.adcMode = true; break;
    }
    return m;
}

DecimalReportSettings settingsFor(ReportGroup g, std::vector<int> widths,
                                  std::vector<std::string> labels = {"St", "Error", "Warning"})
{
    DecimalReportSettings s;
    s.modes = modesFor(g);
    s.fieldCount = static_cast<unsigned>(widths.size());
    s.fieldWidth.fill(0);
    for (std::size_t k = 0; k < widths.size() && k < 10; ++k)
        s.fieldWidth[k] = widths[k];
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);
    for (std::size_t k = 0; k < labels.size(); ++k)
        s.fieldLabel[k] = labels[k];
    return s;
}

std::vector<std::string> lines(const std::string& report)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i; (i = report.find("\r\n", start)) != std::string::npos; start = i + 2)
        out.push_back(report.substr(start, i - start));
    if (start < report.size())
        out.push_back(report.substr(start));
    return out;
}

// A 48-bit value laid out as the box sends BISS/SSI/TTL/HTL records:
// r[4] r[5] r[2] r[3] r[0] r[1], most significant first.
void appendSyncRecord(Bytes& b, std::uint64_t v)
{
    const std::uint8_t be[6] = {std::uint8_t(v >> 40), std::uint8_t(v >> 32), std::uint8_t(v >> 24),
                                std::uint8_t(v >> 16), std::uint8_t(v >> 8),  std::uint8_t(v)};
    const std::uint8_t r[6] = {be[4], be[5], be[2], be[3], be[0], be[1]};
    b.insert(b.end(), r, r + 6);
}

Bytes pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 37 + i / 7);
    return b;
}

}  // namespace

TEST(DecimalReport, LineCountsOf40960ByteCapture)
{
    const Bytes capture = pattern(40960);
    for (ReportGroup g : {ReportGroup::Rs485, ReportGroup::Rs485Ab, ReportGroup::Spi, ReportGroup::SinCos}) {
        const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(g, {15, 17, 2})));
        EXPECT_EQ(l.size(), 2u + 4095u) << static_cast<int>(g);
        EXPECT_EQ(l.back().substr(0, 5), "04095");
    }
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::SyncSerial, {15, 17, 2})));
    EXPECT_EQ(l.size(), 2u + 6825u);
    EXPECT_EQ(l.back().substr(0, 5), "06825");
    EXPECT_EQ(reportLineCount(ReportGroup::SyncSerial, 40960), 6825u);
}

TEST(DecimalReport, Rs485RecordAndHeader)
{
    Bytes capture{0x01, 0x02, 0x00, 0x03, 0x04, 0x05, 0x00, 0x06, 0x07, 0x09};
    capture.resize(20, 0xEE);
    const std::string report = decimalReport(capture, settingsFor(ReportGroup::Rs485, {15, 17, 2}));
    EXPECT_EQ(report, "Protocols: RS485\r\n"
                      "Times/0.125ms             Multiturn             Single turn             Warning\r\n"
                      "00001" + kCol + "394245" + kCol + "196866" + kCol + "7\r\n");
}

TEST(DecimalReport, Rs485AbHasAnEmptyMultiturnColumn)
{
    Bytes capture{0x01, 0x02, 0x00, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    capture.resize(20, 0);
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::Rs485Ab, {})));
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Protocols: RS485+AB");
    EXPECT_EQ(l[1], "Times/0.125ms             Multiturn             Single turn                Warning"
                    "                       PPR*4");
    // single 3·65536+258, warning 8, counter 9·65536+6·256+7
    EXPECT_EQ(l[2], "00001" + kCol + kCol + "196866" + kCol + "8" + kCol + "591367");
}

TEST(DecimalReport, BissFieldsAndLabelHeads)
{
    const std::uint64_t v = 0xABCDE1234567ull;
    Bytes capture;
    appendSyncRecord(capture, v);
    appendSyncRecord(capture, 0);
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::SyncSerial, {15, 17, 2})));
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Protocols:BISS");
    EXPECT_EQ(l[1], "Times/0.125ms" + std::string(14, ' ') + "St" + kCol + "Error" + kCol + "Warning" + kCol + kCol +
                        kCol + kCol + kCol + kCol + kCol);
    const auto f1 = (v >> 19) & 0x7FFF, f2 = (v >> 2) & 0x1FFFF, f3 = v & 3;
    EXPECT_EQ(l[2], "00001" + kCol + std::to_string(f1) + kCol + std::to_string(f2) + kCol + std::to_string(f3));
}

TEST(DecimalReport, FirstHeaderLineOfTheSixByteGroup)
{
    Bytes capture(12, 0);
    auto first = [&](ModeFlags m) {
        DecimalReportSettings s = settingsFor(ReportGroup::SyncSerial, {8});
        s.modes = m;
        return lines(decimalReport(capture, s))[0];
    };
    ModeFlags m;  // BISS flags, no protocol chosen since start-up
    EXPECT_EQ(first(m), "Times/0.125ms" + std::string(14, ' ') + "St" + kCol + "Error" + kCol + "Warning" +
                            std::string(7 * 28, ' '));
    m.ssiSelected = true;
    EXPECT_EQ(first(m), "Protocols:SSI");
    m.bissSelected = true;
    EXPECT_EQ(first(m), "Protocols:BISS");
    m.syncSerialMode = false;
    m.incrementalMode = true;
    EXPECT_EQ(first(m), "Protocols: TTL");
    m.htlMode = true;
    EXPECT_EQ(first(m), "Protocols: HTL");
}

TEST(DecimalReport, IncrementalTwoFieldsFoldANegativeCount)
{
    // Count 0xFFFFFF (one step below zero) above position 0x000123.
    Bytes capture;
    appendSyncRecord(capture, 0xFFFFFF000123ull);
    appendSyncRecord(capture, 0x000005ABCDEFull);
    appendSyncRecord(capture, 0);
    DecimalReportSettings s = settingsFor(ReportGroup::SyncSerial, {16, 12});
    s.modes.syncSerialMode = false;
    s.modes.incrementalMode = true;
    const std::vector<std::string> l = lines(decimalReport(capture, s));
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "Protocols: TTL");
    // t = 0xFFFFFF > 4095 + 2, so t = |0xFFFFFF − 2^24| = 1; position masked to 12 bits.
    EXPECT_EQ(l[2], "00001" + kCol + "1" + kCol + std::to_string(0x123));
    EXPECT_EQ(l[3], "00002" + kCol + "5" + kCol + std::to_string(0xDEF));
    // BISS with the same widths uses the plain split.
    s.modes = modesFor(ReportGroup::SyncSerial);
    const std::vector<std::string> b = lines(decimalReport(capture, s));
    EXPECT_EQ(b[2], "00001" + kCol + std::to_string((0xFFFFFF000123ull >> 12) & 0xFFFF) + kCol + "291");
}

TEST(DecimalReport, SpiFieldsFromTheTopAndCrcFromTheNextRecord)
{
    const std::uint64_t v = 0x9876543210FEull;
    Bytes capture{0x11};
    for (int i = 5; i >= 0; --i)
        capture.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    capture.resize(10, 0);
    Bytes next(10, 0);
    next[0] = 0x5C;  // the CRC reported with the first line
    capture.insert(capture.end(), next.begin(), next.end());
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::Spi, {12, 14})));
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Protocols: SPI");
    EXPECT_EQ(l[1].substr(0, 29 + 14 + 2), "Times/0.125ms             CRC" + std::string(14, ' ') + "St");
    EXPECT_EQ(l[2], "00001" + kCol + "92" + kCol + std::to_string(v >> 36) + kCol +
                        std::to_string((v >> 22) & 0x3FFF));
    // A single field is shifted down but not masked.
    const std::vector<std::string> one = lines(decimalReport(capture, settingsFor(ReportGroup::Spi, {20})));
    EXPECT_EQ(one[2], "00001" + kCol + "92" + kCol + std::to_string(v >> 28));
}

TEST(DecimalReport, RunOnLinesWithoutFields)
{
    const Bytes six = pattern(6 * 4);
    DecimalReportSettings s = settingsFor(ReportGroup::SyncSerial, {});
    EXPECT_EQ(lines(decimalReport(six, s)).back(), "000010000200003");
    s.fieldCount = 11;
    EXPECT_EQ(lines(decimalReport(six, s)).back(), "000010000200003");

    Bytes ten(30, 0);
    ten[10] = 7;
    ten[20] = 8;
    DecimalReportSettings spi = settingsFor(ReportGroup::Spi, {});
    EXPECT_EQ(lines(decimalReport(ten, spi)).back(), "00001" + kCol + "7" + "00002" + kCol + "8");
}

TEST(DecimalReport, SinCosRawBytes)
{
    Bytes capture{10, 20, 30, 40, 50, 255, 1, 2, 3, 4};
    capture.resize(20, 0);
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::SinCos, {})));
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[1], "Times/0.125ms                SIN_P                SIN_N                COS_P"
                    "                COS_N                Z_P                Z_N");
    EXPECT_EQ(l[2], "00001" + kCol + "10" + kCol + "20" + kCol + "30" + kCol + "40" + kCol + "50" + kCol + "255");
}

TEST(DecimalReport, RecordNumbersGrowPastFiveDigits)
{
    Bytes capture;
    for (std::uint64_t i = 0; i <= 100000; ++i)
        appendSyncRecord(capture, i);
    const std::vector<std::string> l = lines(decimalReport(capture, settingsFor(ReportGroup::SyncSerial, {48})));
    ASSERT_EQ(l.size(), 2u + 100000u);
    EXPECT_EQ(l[2 + 99998], "99999" + kCol + "99998");
    EXPECT_EQ(l.back(), "100000" + kCol + "99999");
}

TEST(DecimalReport, ShortCapturesAndGroupsWithoutSection)
{
    // Fewer than two records: the header only.
    EXPECT_EQ(decimalReport(Bytes(19, 1), settingsFor(ReportGroup::Rs485, {})),
              "Protocols: RS485\r\nTimes/0.125ms             Multiturn             Single turn             Warning\r\n");
    EXPECT_EQ(lines(decimalReport(Bytes(11, 1), settingsFor(ReportGroup::SyncSerial, {8}))).size(), 2u);
    EXPECT_EQ(lines(decimalReport(Bytes(), settingsFor(ReportGroup::SinCos, {}))).size(), 2u);
    // rx_485_only, Tarsk_RS485_422, ADC_121, ADC_7946: an empty report.
    EXPECT_EQ(decimalReport(pattern(400), settingsFor(ReportGroup::None, {15})), "");
    DecimalReportSettings rx = settingsFor(ReportGroup::None, {15});
    rx.modes.adcMode = false;
    rx.modes.rxOnlyMode = true;
    EXPECT_EQ(decimalReport(pattern(400), rx), "");
}

TEST(DecimalReport, WideMasksAndOversizedShifts)
{
    EXPECT_EQ(fieldMaskForWidth(0), 0u);
    EXPECT_EQ(fieldMaskForWidth(-3), 0u);
    EXPECT_EQ(fieldMaskForWidth(12), 0xFFFu);
    EXPECT_EQ(fieldMaskForWidth(32), 0xFFFFFFFFu);
    EXPECT_EQ(fieldMaskForWidth(40), 0xFFFFFFFFu);
    // A 40-bit field: its mask reads as −1 and keeps all 64 bits, so the
    // field shows the whole value.
    Bytes capture;
    appendSyncRecord(capture, 0x123456789ABCull);
    appendSyncRecord(capture, 0);
    EXPECT_EQ(lines(decimalReport(capture, settingsFor(ReportGroup::SyncSerial, {8, 40})))[2],
              "00001" + kCol + "18" + kCol + std::to_string(0x123456789ABCull));
    // SPI widths summing beyond 48 shift everything out.
    Bytes spi(20, 0xFF);
    EXPECT_EQ(lines(decimalReport(spi, settingsFor(ReportGroup::Spi, {40, 20})))[2],
              "00001" + kCol + "255" + kCol + std::to_string(0xFFFFFFFFFFull) + kCol + "0");
}

TEST(DecimalReport, LabelLineBreaksAreWrittenAsCrLf)
{
    DecimalReportSettings s = settingsFor(ReportGroup::SyncSerial, {8}, {"a\nb"});
    const std::string r = decimalReport(Bytes(12, 0), s);
    EXPECT_NE(r.find("a\r\nb"), std::string::npos);
}

// One golden report per group, from a fixed capture of seven records.
namespace {

QString goldenPath(const char* name)
{
    const char* env = std::getenv("QUILLMARK_TEST_DATA");
    const QString data = env ? QString::fromLocal8Bit(env) : QStringLiteral(QUILLMARK_TEST_DATA_DIR);
    return data + "/report/" + name;
}

void checkGolden(const char* name, const DecimalReportSettings& s, std::size_t captureBytes)
{
    const std::string report = decimalReport(pattern(captureBytes), s);
    QFile f(goldenPath(name));
    if (std::getenv("QUILLMARK_WRITE_GOLDEN")) {
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(report.data(), static_cast<qint64>(report.size()));
        return;
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    const QByteArray golden = f.readAll();
    EXPECT_EQ(report, golden.toStdString()) << name;
}

}  // namespace

TEST(DecimalReportGolden, EveryGroup)
{
    checkGolden("rs485.txt", settingsFor(ReportGroup::Rs485, {}), 75);
    checkGolden("rs485_ab.txt", settingsFor(ReportGroup::Rs485Ab, {}), 75);
    checkGolden("spi.txt", settingsFor(ReportGroup::Spi, {12, 14, 6}, {"Pos", "Turns", "Flags"}), 75);
    checkGolden("biss.txt", settingsFor(ReportGroup::SyncSerial, {15, 17, 2}), 45);
    DecimalReportSettings htl = settingsFor(ReportGroup::SyncSerial, {24, 24}, {"Count", "Position"});
    htl.modes.syncSerialMode = false;
    htl.modes.incrementalMode = true;
    htl.modes.htlMode = true;
    checkGolden("htl.txt", htl, 45);
    checkGolden("sin_cos.txt", settingsFor(ReportGroup::SinCos, {}), 75);
}

// The report and the window's decoder split the same record the same way: one
// shift rule (counts outside 0..63 shift everything out, never wrapped modulo
// 256; widths summed in 64 bits) and one turn-counter limit.
namespace {

struct AgreeCase {
    const char* what;
    ReportGroup group;
    bool incremental;
    std::vector<int> widths;
    std::uint64_t value;  // 48-bit position value of the record
    std::vector<std::int64_t> expected;
};

// The first data line's field columns as numbers.
std::vector<std::int64_t> reportedFields(const std::string& report, bool spi)
{
    const std::vector<std::string> l = lines(report);
    std::vector<std::int64_t> fields;
    if (l.size() < 3)
        return fields;
    std::size_t pos = 5;  // after the record number
    bool first = true;
    while (pos < l[2].size()) {
        pos += kCol.size();
        const std::size_t end = l[2].find(' ', pos);
        const std::string num = l[2].substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!(spi && first))
            fields.push_back(std::stoll(num));
        first = false;
        pos = end == std::string::npos ? l[2].size() : end;
    }
    return fields;
}

}  // namespace

TEST(DecimalReport, LinesEqualTheWindowsDecoder)
{
    constexpr int kMax = std::numeric_limits<int>::max();
    const AgreeCase cases[] = {
        // A field shifted by 256 bits: the report used to wrap the count to 0.
        {"BISS 8,64,64,64,64", ReportGroup::SyncSerial, false, {8, 64, 64, 64, 64}, 0xFF, {0, 0, 0, 0, 255}},
        // 48 − 304 = −256 wrapped to 0 gave the whole value.
        {"SPI 64,64,64,64,48", ReportGroup::Spi, false, {64, 64, 64, 64, 48}, 7, {0, 0, 0, 0, 0}},
        // Width 31: the limit 0x7FFFFFFF + 2 is negative in 32 bits, so every
        // counter folds.
        {"TTL 16,31", ReportGroup::SyncSerial, true, {16, 31}, 0x000500000123ull, {0xFB00 & 0xFFFF, 0x123}},
        {"TTL 16,12 negative count", ReportGroup::SyncSerial, true, {16, 12}, 0xFFFFFF000400ull, {1, 0x400}},
        // Widths the user typed that overflow a 32-bit sum: 64-bit sums shift
        // everything out instead of wrapping round to a small count.
        {"BISS int overflow", ReportGroup::SyncSerial, false, {8, kMax, kMax, 2}, 0xABCDEF, {0, 0, 0x2AF37B, 3}},
        {"SPI int overflow", ReportGroup::Spi, false, {kMax, kMax, 50}, 0x123456789ABCull, {0, 0, 0}},
        {"BISS ordinary", ReportGroup::SyncSerial, false, {15, 17, 2}, 0x3A5C96E1Bull, {0x74B9, 0x5B86, 3}},
    };
    for (const AgreeCase& c : cases) {
        DecimalReportSettings s = settingsFor(c.group, c.widths);
        if (c.incremental) {
            s.modes = ModeFlags{};
            s.modes.syncSerialMode = false;
            s.modes.incrementalMode = true;
        }
        Bytes capture;
        if (c.group == ReportGroup::Spi) {
            for (int r = 0; r < 2; ++r) {
                capture.push_back(0);
                for (int b = 5; b >= 0; --b)
                    capture.push_back(static_cast<std::uint8_t>(c.value >> (8 * b)));
                capture.insert(capture.end(), 3, 0);
            }
        } else {
            appendSyncRecord(capture, c.value);
            appendSyncRecord(capture, c.value);
        }
        const std::vector<std::int64_t> reported = reportedFields(decimalReport(capture, s), c.group == ReportGroup::Spi);

        std::array<int, kMaxFields> widths{};
        for (std::size_t k = 0; k < c.widths.size(); ++k)
            widths[k] = c.widths[k];
        const DecodedFrame d = decodeFields(static_cast<std::int64_t>(c.value),
                                            makeFrameLayout(static_cast<int>(c.widths.size()), widths, s.modes));
        std::vector<std::int64_t> decoded(d.fieldValue.begin(), d.fieldValue.begin() + d.fieldsDecoded);
        EXPECT_EQ(reported, c.expected) << c.what;
        EXPECT_EQ(decoded, c.expected) << c.what;
    }
}

// The streaming writer gives the same bytes as the whole-capture conversion,
// however the capture is cut into pieces.
TEST(DecimalReport, StreamingEqualsWholeCaptureForAnyPieces)
{
    const Bytes capture = pattern(40960 + 37);
    DecimalReportSettings htl = settingsFor(ReportGroup::SyncSerial, {24, 24});
    htl.modes.syncSerialMode = false;
    htl.modes.incrementalMode = true;
    const DecimalReportSettings settings[] = {
        settingsFor(ReportGroup::Rs485, {}),
        settingsFor(ReportGroup::Rs485Ab, {}),
        settingsFor(ReportGroup::Spi, {12, 14, 6}),
        settingsFor(ReportGroup::SyncSerial, {15, 17, 2}),
        settingsFor(ReportGroup::SyncSerial, {}),  // no fields: lines run on
        htl,
        settingsFor(ReportGroup::SinCos, {}),
        settingsFor(ReportGroup::None, {}),
    };
    for (const DecimalReportSettings& s : settings) {
        const std::string whole = decimalReport(capture, s);
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{10}, std::size_t{4096},
                                  std::size_t{3 * 1024 * 1024}}) {
            std::string streamed;
            DecimalReportWriter w(s, [&](const char* d, std::size_t n) { streamed.append(d, n); });
            for (std::size_t at = 0; at < capture.size(); at += piece)
                w.write(std::span(capture).subspan(at, std::min(piece, capture.size() - at)));
            w.finish();
            EXPECT_EQ(streamed, whole) << "pieces of " << piece;
        }
    }
}
