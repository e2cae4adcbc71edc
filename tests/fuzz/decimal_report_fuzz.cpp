// The decimal report against a plain reference written from the record
// table with printf, and the streaming writer against the whole conversion
// for pieces of any size.
#include "fuzz_input.h"
#include "measure/decimal_report.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::int64_t plainShift(std::int64_t v, std::int64_t count)
{
    if (count < 0 || count > 63)
        return v < 0 ? -1 : 0;
    return v >> count;
}

std::string format(const char* fmt, std::int64_t v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string col(std::int64_t v)
{
    return format("                            %" PRId64, v);
}

std::string textMode(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string reference(const std::vector<std::uint8_t>& cap, const DecimalReportSettings& s)
{
    const ModeFlags& m = s.modes;
    std::string heads = std::string(14, ' ') + s.fieldLabel[0];
    for (int k = 1; k < 10; ++k)
        heads += std::string(28, ' ') + s.fieldLabel[k];
    heads += "\n";
    std::string out;
    std::size_t len = 0;
    int group = 0;
    if (m.rs485Mode) {
        group = 1, len = 10;
        out = "Protocols: RS485\nTimes/0.125ms             Multiturn             Single turn             Warning\n";
    } else if (m.rs485AbMode) {
        group = 2, len = 10;
        out = "Protocols: RS485+AB\nTimes/0.125ms             Multiturn             Single turn                Warning"
              "                       PPR*4\n";
    } else if (m.spiMode || m.spiCrcMode) {
        group = 3, len = 10;
        out = "Protocols: SPI\nTimes/0.125ms             CRC" + heads;
    } else if (m.syncSerialMode || m.incrementalMode) {
        group = 4, len = 6;
        out = m.htlMode ? "Protocols: HTL\n"
              : m.incrementalMode ? "Protocols: TTL\n"
              : m.bissSelected ? "Protocols:BISS\n"
              : m.ssiSelected ? "Protocols:SSI\n"
                              : "";
        out += "Times/0.125ms" + heads;
    } else if (m.sinCosMode) {
        group = 5, len = 10;
        out = "Protocols: SIN_COS\nTimes/0.125ms                SIN_P                SIN_N                COS_P"
              "                COS_N                Z_P                Z_N\n";
    } else {
        return "";
    }
    out = textMode(out);
    const std::size_t records = cap.size() / len;
    const unsigned n = s.fieldCount;
    const auto mk = [&](unsigned k) { return static_cast<std::int64_t>(static_cast<std::int32_t>(s.fieldMask[k - 1])); };
    for (std::size_t i = 0; i + 1 < records; ++i) {
        const std::uint8_t* r = cap.data() + i * len;
        out += format("%05" PRId64, static_cast<std::int64_t>(i + 1));
        std::int64_t v = 0;
        switch (group) {
        case 1:
            out += col(r[7] * 65536 + r[4] * 256 + r[5]) + col(r[3] * 65536 + r[0] * 256 + r[1]) + col(r[8]) + "\r\n";
            continue;
        case 2:
            out += std::string(28, ' ') + col(r[3] * 65536 + r[0] * 256 + r[1]) + col(r[8])
                   + col(r[9] * 65536 + r[6] * 256 + r[7]) + "\r\n";
            continue;
        case 5:
            for (int k = 0; k < 6; ++k)
                out += col(r[k]);
            out += "\r\n";
            continue;
        case 3:
            out += col(r[10]);
            for (int k = 1; k <= 6; ++k)
                v = v << 8 | r[k];
            if (n < 1 || n > 10)
                continue;
            for (unsigned k = 1; k <= n; ++k) {
                std::int64_t sum = 0;
                for (unsigned j = 1; j <= k; ++j)
                    sum += s.fieldWidth[j - 1];
                out += col(n == 1 ? plainShift(v, 48 - sum) : plainShift(v, 48 - sum) & mk(k));
            }
            out += "\r\n";
            continue;
        case 4:
            for (int k : {4, 5, 2, 3, 0, 1})
                v = v << 8 | r[k];
            if (n < 1 || n > 10)
                continue;
            if (m.incrementalMode && n == 2) {
                std::int64_t t = v >> 24;
                if (t > static_cast<std::int32_t>(s.fieldMask[1] + 2u)) {
                    t -= std::int64_t{1} << 24;
                    t = t < 0 ? -t : t;
                }
                out += col(t & mk(1)) + col(v & (s.fieldMask[1] & 0xFFFFFF)) + "\r\n";
                continue;
            }
            for (unsigned k = 1; k <= n; ++k) {
                std::int64_t below = 0;
                for (unsigned j = k + 1; j <= n; ++j)
                    below += s.fieldWidth[j - 1];
                out += col(plainShift(v, below) & mk(k));
            }
            out += "\r\n";
            continue;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    DecimalReportSettings s;
    const std::uint16_t f = static_cast<std::uint16_t>(in.u8() << 8 | in.u8());
    ModeFlags& m = s.modes;
    m.syncSerialMode = f & 1;
    m.rs485Mode = f & 2;
    m.rs485AbMode = f & 4;
    m.spiMode = f & 8;
    m.spiCrcMode = f & 16;
    m.incrementalMode = f & 32;
    m.sinCosMode = f & 64;
    m.htlMode = f & 128;
    m.bissSelected = f & 256;
    m.ssiSelected = f & 512;
    s.fieldCount = in.u8() % 12;
    const bool wide = in.bit();
    for (int k = 0; k < 10; ++k) {
        s.fieldWidth[k] = wide ? static_cast<int>(in.u32()) : in.u8() % 70;
        s.fieldMask[k] = in.bit() ? in.u32() : fieldMaskForWidth(s.fieldWidth[k]);
    }
    for (auto& label : s.fieldLabel) {
        const auto t = in.bytes(in.u8() % 8);
        label.assign(t.begin(), t.end());
    }
    const std::size_t piece = 1 + in.u8() * 7;
    const auto body = in.rest();
    const std::vector<std::uint8_t> capture(body.begin(), body.end());

    const std::string whole = decimalReport(capture, s);
    FUZZ_CHECK(whole == reference(capture, s));

    std::string streamed;
    DecimalReportWriter w(s, [&](const char* d, std::size_t n) { streamed.append(d, n); });
    for (std::size_t at = 0; at < capture.size(); at += piece)
        w.write(std::span(capture).subspan(at, std::min(piece, capture.size() - at)));
    w.finish();
    FUZZ_CHECK(streamed == whole);
    return 0;
}
