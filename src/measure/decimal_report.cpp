#include "measure/decimal_report.h"

#include "interface/frame_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

inline std::int64_t signExtend(std::uint32_t mask)
{
    return static_cast<std::int32_t>(mask);
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr char kBlanks[32] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr int kColumnBlanks = 28;

inline unsigned digitCount(std::uint64_t v)
{
    unsigned d = 1;
    for (;;) {
        if (v < 10)
            return d;
        if (v < 100)
            return d + 1;
        if (v < 1000)
            return d + 2;
        if (v < 10000)
            return d + 3;
        v /= 10000;
        d += 4;
    }
}

// Writes v in decimal at p, returns the end.
inline char* writeUnsigned(char* p, std::uint64_t v)
{
    const unsigned n = digitCount(v);
    char* end = p + n;
    char* q = end;
    while (v >= 100) {
        const unsigned i = static_cast<unsigned>(v % 100) * 2;
        v /= 100;
        *--q = kDigitPairs[i + 1];
        *--q = kDigitPairs[i];
    }
    if (v >= 10) {
        *--q = kDigitPairs[v * 2 + 1];
        *--q = kDigitPairs[v * 2];
    } else {
        *--q = static_cast<char>('0' + v);
    }
    return end;
}

inline char* writeSigned(char* p, std::int64_t v)
{
    if (v < 0) {
        *p++ = '-';
        return writeUnsigned(p, 0 - static_cast<std::uint64_t>(v));
    }
    return writeUnsigned(p, static_cast<std::uint64_t>(v));
}

// 28 blanks and the value; the blanks are stored as one 32-byte block and the
// digits overwrite its tail.
inline char* writeColumn(char* p, std::int64_t v)
{
    std::memcpy(p, kBlanks, sizeof kBlanks);
    return writeSigned(p + kColumnBlanks, v);
}

// Five digits with leading zeros, more from 100000 on.
inline char* writeRecordNumber(char* p, std::uint64_t n)
{
    if (n >= 100000)
        return writeUnsigned(p, n);
    const unsigned v = static_cast<unsigned>(n);
    p[0] = static_cast<char>('0' + v / 10000);
    const unsigned hi = (v / 100) % 100 * 2;
    const unsigned lo = v % 100 * 2;
    p[1] = kDigitPairs[hi];
    p[2] = kDigitPairs[hi + 1];
    p[3] = kDigitPairs[lo];
    p[4] = kDigitPairs[lo + 1];
    return p + 5;
}

inline char* writeLineEnd(char* p)
{
    p[0] = '\r';
    p[1] = '\n';
    return p + 2;
}

// Collects lines in a large buffer and hands it to the sink when full.
class ChunkWriter {
public:
    explicit ChunkWriter(const ReportSink& sink)
        : m_sink(sink), m_buf(new char[kChunk + kSlack])
    {
    }
    ~ChunkWriter() { flush(); }

    // Room for one more line of any group.
    char* lineStart()
    {
        if (m_pos > kChunk)
            flush();
        return m_buf.get() + m_pos;
    }
    void lineEnd(char* end) { m_pos = static_cast<std::size_t>(end - m_buf.get()); }

    void append(const std::string& text)
    {
        flush();
        if (!text.empty())
            m_sink(text.data(), text.size());
    }

    void flush()
    {
        if (m_pos) {
            m_sink(m_buf.get(), m_pos);
            m_pos = 0;
        }
    }

private:
    static constexpr std::size_t kChunk = 64 * 1024;
    // A line is at most 20 digits of record number, eleven columns of 28
    // blanks, a sign and 19 digits (plus the block overrun), and CR LF.
    static constexpr std::size_t kSlack = 1024;
    const ReportSink& m_sink;
    std::unique_ptr<char[]> m_buf;
    std::size_t m_pos = 0;
};

// Header texts are written in text mode: every line break becomes CR LF,
// including any inside a label.
std::string crlf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (char ch : text) {
        if (ch == '\n')
            out += '\r';
        out += ch;
    }
    return out;
}

std::string labelHeads(const DecimalReportSettings& s)
{
    std::string h(14, ' ');
    h += s.fieldLabel[0];
    for (int k = 1; k < 10; ++k) {
        h.append(kColumnBlanks, ' ');
        h += s.fieldLabel[k];
    }
    h += '\n';
    return h;
}

std::string header(ReportGroup group, const DecimalReportSettings& s)
{
    const ModeFlags& m = s.modes;
    switch (group) {
    case ReportGroup::Rs485:
        return "Protocols: RS485\n"
               "Times/0.125ms             Multiturn             Single turn             Warning\n";
    case ReportGroup::Rs485Ab:
        return "Protocols: RS485+AB\n"
               "Times/0.125ms             Multiturn             Single turn                Warning"
               "                       PPR*4\n";
    case ReportGroup::Spi:
        return "Protocols: SPI\nTimes/0.125ms             CRC" + labelHeads(s);
    case ReportGroup::SyncSerial: {
        std::string first;
        if (m.htlMode)
            first = "Protocols: HTL\n";
        else if (m.incrementalMode)
            first = "Protocols: TTL\n";
        else if (m.bissSelected)
            first = "Protocols:BISS\n";
        else if (m.ssiSelected)
            first = "Protocols:SSI\n";
        return first + "Times/0.125ms" + labelHeads(s);
    }
    case ReportGroup::SinCos:
        return "Protocols: SIN_COS\n"
               "Times/0.125ms                SIN_P                SIN_N                COS_P"
               "                COS_N                Z_P                Z_N\n";
    case ReportGroup::None:
        break;
    }
    return {};
}

inline std::int64_t be24(std::uint8_t hi, std::uint8_t mid, std::uint8_t lo)
{
    return static_cast<std::int64_t>(hi) * 65536 + mid * 256 + lo;
}

void writeRs485(ChunkWriter& out, const std::uint8_t* data, std::size_t lines, std::uint64_t first, bool ab)
{
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = data + i * 10;
        char* p = writeRecordNumber(out.lineStart(), first + i);
        if (ab) {
            std::memcpy(p, kBlanks, kColumnBlanks);  // the empty "Multiturn" column
            p += kColumnBlanks;
            p = writeColumn(p, be24(r[3], r[0], r[1]));
            p = writeColumn(p, r[8]);
            p = writeColumn(p, be24(r[9], r[6], r[7]));
        } else {
            p = writeColumn(p, be24(r[7], r[4], r[5]));
            p = writeColumn(p, be24(r[3], r[0], r[1]));
            p = writeColumn(p, r[8]);
        }
        out.lineEnd(writeLineEnd(p));
    }
}

void writeSinCos(ChunkWriter& out, const std::uint8_t* data, std::size_t lines, std::uint64_t first)
{
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = data + i * 10;
        char* p = writeRecordNumber(out.lineStart(), first + i);
        for (int k = 0; k < 6; ++k)
            p = writeColumn(p, r[k]);
        out.lineEnd(writeLineEnd(p));
    }
}

void writeSpi(ChunkWriter& out, const std::uint8_t* data, std::size_t lines, std::uint64_t first,
              const DecimalReportSettings& s)
{
    const unsigned n = s.fieldCount;
    const bool fields = n >= 1 && n <= 10;
    // Shift counts as the window's decoder takes them: widths summed in 64
    // bits, a count outside 0..63 shifts everything out.
    std::int64_t shift[10] = {};
    std::int64_t mask[10] = {};
    std::int64_t sum = 0;
    for (unsigned k = 0; fields && k < n; ++k) {
        sum += s.fieldWidth[k];
        shift[k] = 48 - sum;
        // A single field is not masked.
        mask[k] = n == 1 ? -1 : signExtend(s.fieldMask[k]);
    }
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = data + i * 10;
        const std::uint8_t crc = r[10];  // first byte of the following record
        char* p = writeRecordNumber(out.lineStart(), first + i);
        p = writeColumn(p, crc);
        if (fields) {
            const std::int64_t v = static_cast<std::int64_t>(r[1]) << 40 | static_cast<std::int64_t>(r[2]) << 32
                                   | static_cast<std::int64_t>(r[3]) << 24 | static_cast<std::int64_t>(r[4]) << 16
                                   | static_cast<std::int64_t>(r[5]) << 8 | r[6];
            for (unsigned k = 0; k < n; ++k)
                p = writeColumn(p, frameShift(v, shift[k]) & mask[k]);
            p = writeLineEnd(p);
        }
        // Without fields the lines run on: no line break.
        out.lineEnd(p);
    }
}

void writeSyncSerial(ChunkWriter& out, const std::uint8_t* data, std::size_t lines, std::uint64_t first,
                     const DecimalReportSettings& s)
{
    const unsigned n = s.fieldCount;
    const bool fields = n >= 1 && n <= 10;
    std::int64_t shift[10] = {};
    std::int64_t mask[10] = {};
    std::int64_t below = 0;
    for (int k = fields ? static_cast<int>(n) - 1 : -1; k >= 0; --k) {
        shift[k] = below;
        mask[k] = signExtend(s.fieldMask[k]);
        below += s.fieldWidth[k];
    }
    // Incremental encoders with two fields: a 24-bit turn count above a
    // 24-bit position; a count just below zero is folded back to its size,
    // with the limit the window's decoder uses.
    const bool countAndPosition = s.modes.incrementalMode && n == 2;
    const std::int64_t m1 = signExtend(s.fieldMask[0]);
    const std::int64_t positionMask = static_cast<std::int64_t>(s.fieldMask[1] & 0xFFFFFFu);

    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = data + i * 6;
        char* p = writeRecordNumber(out.lineStart(), first + i);
        if (fields) {
            const std::int64_t v = static_cast<std::int64_t>(r[4]) << 40 | static_cast<std::int64_t>(r[5]) << 32
                                   | static_cast<std::int64_t>(r[2]) << 24 | static_cast<std::int64_t>(r[3]) << 16
                                   | static_cast<std::int64_t>(r[0]) << 8 | r[1];
            if (countAndPosition) {
                p = writeColumn(p, foldTurnCounter(v >> 24, s.fieldMask[1]) & m1);
                p = writeColumn(p, v & positionMask);
            } else {
                for (unsigned k = 0; k < n; ++k)
                    p = writeColumn(p, frameShift(v, shift[k]) & mask[k]);
            }
            p = writeLineEnd(p);
        }
        out.lineEnd(p);
    }
}

void writeLines(ChunkWriter& out, ReportGroup group, const std::uint8_t* data, std::size_t lines,
                std::uint64_t first, const DecimalReportSettings& s)
{
    switch (group) {
    case ReportGroup::Rs485:
        writeRs485(out, data, lines, first, false);
        break;
    case ReportGroup::Rs485Ab:
        writeRs485(out, data, lines, first, true);
        break;
    case ReportGroup::Spi:
        writeSpi(out, data, lines, first, s);
        break;
    case ReportGroup::SyncSerial:
        writeSyncSerial(out, data, lines, first, s);
        break;
    case ReportGroup::SinCos:
        writeSinCos(out, data, lines, first);
        break;
    case ReportGroup::None:
        break;
    }
}

}  // namespace

std::uint32_t fieldMaskForWidth(int width)
{
    if (width <= 0)
        return 0;
    if (width >= 32)
        return 0xFFFFFFFFu;
    return (std::uint32_t{1} << width) - 1;
}

ReportGroup reportGroup(const ModeFlags& m)
{
    if (m.rs485Mode)
        return ReportGroup::Rs485;
    if (m.rs485AbMode)
        return ReportGroup::Rs485Ab;
    if (m.spiMode || m.spiCrcMode)
        return ReportGroup::Spi;
    if (m.syncSerialMode || m.incrementalMode)
        return ReportGroup::SyncSerial;
    if (m.sinCosMode)
        return ReportGroup::SinCos;
    return ReportGroup::None;
}

std::size_t reportRecordLength(ReportGroup group)
{
    switch (group) {
    case ReportGroup::None:
        return 0;
    case ReportGroup::SyncSerial:
        return 6;
    default:
        return 10;
    }
}

std::size_t reportLineCount(ReportGroup group, std::size_t bytes)
{
    const std::size_t len = reportRecordLength(group);
    if (len == 0)
        return 0;
    const std::size_t records = bytes / len;
    // The last whole record only serves the line before it (the SPI CRC).
    return records < 2 ? 0 : records - 1;
}


void writeDecimalReport(std::span<const std::uint8_t> capture, const DecimalReportSettings& settings,
                        const ReportSink& sink)
{
    const ReportGroup group = reportGroup(settings.modes);
    if (group == ReportGroup::None)
        return;
    ChunkWriter out(sink);
    out.append(crlf(header(group, settings)));
    writeLines(out, group, capture.data(), reportLineCount(group, capture.size()), 1, settings);
}

std::string decimalReport(std::span<const std::uint8_t> capture, const DecimalReportSettings& settings)
{
    std::string report;
    writeDecimalReport(capture, settings,
                       [&report](const char* data, std::size_t size) { report.append(data, size); });
    return report;
}

struct DecimalReportWriter::Impl {
    Impl(const DecimalReportSettings& s, ReportSink k)
        : settings(s), sink(std::move(k)), out(sink), group(reportGroup(s.modes)),
          recordLength(reportRecordLength(group))
    {
    }

    // Reports every record whose following record is complete and keeps the
    // rest (less than two records) at the front of the buffer.
    void reportWholeRecords()
    {
        const std::size_t records = pending.size() / recordLength;
        if (records < 2)
            return;
        const std::size_t lines = records - 1;
        writeLines(out, group, pending.data(), lines, nextLine, settings);
        nextLine += lines;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(lines * recordLength));
    }

    static constexpr std::size_t kPiece = 1024 * 1024;
    const DecimalReportSettings settings;
    const ReportSink sink;
    ChunkWriter out;
    const ReportGroup group;
    const std::size_t recordLength;
    std::vector<std::uint8_t> pending;
    std::uint64_t nextLine = 1;
};

DecimalReportWriter::DecimalReportWriter(const DecimalReportSettings& settings, ReportSink sink)
    : d(std::make_unique<Impl>(settings, std::move(sink)))
{
    if (d->group == ReportGroup::None)
        return;
    d->out.append(crlf(header(d->group, d->settings)));
}

DecimalReportWriter::~DecimalReportWriter() = default;

void DecimalReportWriter::write(std::span<const std::uint8_t> bytes)
{
    if (d->group == ReportGroup::None)
        return;
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), Impl::kPiece - d->pending.size());
        d->pending.insert(d->pending.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        d->reportWholeRecords();
    }
}

void DecimalReportWriter::finish()
{
    d->out.flush();
}
