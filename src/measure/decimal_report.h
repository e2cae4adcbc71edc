#pragma once
// The decimal capture report: turns the raw box records of a capture file
// into a text report, one line per record, values in fixed-width decimal
// columns, lines ending in CR LF. A pure conversion of bytes and settings.
#include "interface/mode_flags.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

// Which record layout a capture holds, from the mode flags.
enum class ReportGroup {
    None,        // rx_485_only, Tarsk_RS485_422, ADC_121, ADC_7946: empty report
    Rs485,       // 10-byte records
    Rs485Ab,     // 10-byte records
    Spi,         // 10-byte records, CRC in the following record
    SyncSerial,  // BISS, SSI, TTL, HTL: 6-byte records
    SinCos,      // 10-byte records of raw track bytes
};

struct DecimalReportSettings {
    ModeFlags modes;
    unsigned fieldCount = 3;
    std::array<int, 10> fieldWidth{15, 17, 2, 0, 0, 0, 0, 0, 0, 0};
    // 32-bit masks as last computed from the widths; sign-extended when
    // applied, so 0xFFFFFFFF keeps every bit.
    std::array<std::uint32_t, 10> fieldMask{};
    std::array<std::string, 10> fieldLabel;  // UTF-8 bytes, written as they are
};

// 2^width − 1 kept to its low 32 bits: 0 for a width of 0 or less,
// 0xFFFFFFFF for 32 or more.
std::uint32_t fieldMaskForWidth(int width);

ReportGroup reportGroup(const ModeFlags& modes);
std::size_t reportRecordLength(ReportGroup group);  // 0 for None
// Lines a capture of `bytes` bytes gives: every whole record but the last.
std::size_t reportLineCount(ReportGroup group, std::size_t bytes);

// Receives the report in large pieces, in order.
using ReportSink = std::function<void(const char* data, std::size_t size)>;

void writeDecimalReport(std::span<const std::uint8_t> capture, const DecimalReportSettings& settings,
                        const ReportSink& sink);

// The whole report in memory.
std::string decimalReport(std::span<const std::uint8_t> capture, const DecimalReportSettings& settings);

// The same report for a capture handed over in pieces of any size, in bounded
// memory: between pieces only the records not yet reported (fewer than two)
// are kept, so a capture of several gigabytes converts without being loaded.
// The output equals writeDecimalReport on the whole capture.
class DecimalReportWriter {
public:
    // Hands the header lines to the sink.
    DecimalReportWriter(const DecimalReportSettings& settings, ReportSink sink);
    ~DecimalReportWriter();
    DecimalReportWriter(const DecimalReportWriter&) = delete;
    DecimalReportWriter& operator=(const DecimalReportWriter&) = delete;

    void write(std::span<const std::uint8_t> bytes);
    // Hands the lines still buffered to the sink; call once at the end.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
