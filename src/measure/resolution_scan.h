#pragma once
// The resolution test's arithmetic: the transfer size from the cycle count,
// the walk over one long transfer of position records keeping the smallest
// and largest value, and the span in lsb. Pure; the resolution worker owns
// the transfer, the progress bar and the result edit.
#include "interface/mode_flags.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// The largest transfer, and the size of the worker's buffer.
inline constexpr int kResolutionMaxBytes = 819200;
// Cycle counts below this have no transfer size.
inline constexpr int kResolutionMinCycleCount = 10000;
// The progress bar runs 0..60.
inline constexpr int kResolutionProgressRange = 60;
// The walk keeps this many bytes from the transfer's end.
inline constexpr int kResolutionTailBytes = 512;

// Bytes of the one transfer for a "Cycle count": 10240 from 10000, 51200 from
// 50000, then 102400 per started 100000 up to 819200 from 800000. Empty below
// 10000: the command refuses with a message.
std::optional<int> resolutionTransferBytes(int cycleCount);

enum class ResolutionFormat {
    None,         // no position records for this protocol
    SyncSerial6,  // BISS, SSI: b4 b5 b2 b3 b0 b1
    Incremental6, // TTL, HTL: b3 b0 b1, the position counter only
    Spi10,        // b0..b5 shifted right by 48 - frame bits
    Rs485_10,     // RS485, RS485+AB, Corvane_485: b3 b0 b1 b8
};

// By the first matching flag: sync serial, incremental, SPI, RS485 (either).
ResolutionFormat resolutionFormatFor(const ModeFlags& modes);
int resolutionRecordLength(ResolutionFormat format);  // 0 for None

// The position value of the record at p, which must hold the record's bytes.
// frameBits only matters for SPI; a shift outside 0..63 follows frameShift.
std::int64_t resolutionRecordValue(const std::uint8_t* p, ResolutionFormat format, int frameBits);

struct ResolutionScan {
    bool synced = false;     // the double pattern was found
    int records = 0;         // values taken
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::optional<std::int64_t> firstValue; // the walk's first position
    std::optional<std::int64_t> lastValue;  // the worker's lastRawFrame
    // Every record the transfer held up to the walk's limit was taken: no
    // block lost its pattern and no record held one.
    bool complete = true;
};

// Called with the 0..60 progress value each time it changes during the walk.
using ResolutionProgress = std::function<void(int progress)>;

// Walks the transfer from 4 bytes after the first double pattern (AA 55 55 AA
// at i and at i + 1024, both inside the transfer) block by block while the
// record start is below length - 512, stepping over each block's pattern.
// Without the double pattern or a record format nothing is walked and the
// extremes stay 0.
ResolutionScan scanResolution(std::span<const std::uint8_t> transfer, const ModeFlags& modes,
                              int frameBits, const ResolutionProgress& onProgress = {});

// 60 x offset / (length - 512), integer, clamped to 0..60.
int resolutionProgress(std::int64_t offset, std::int64_t length);

// (maximum - minimum) shifted right by the truncation (arithmetic; 64 or
// more shifts every bit out), as the result edit shows it: its low 32 bits
// as a signed number.
std::int32_t resolutionResult(std::int64_t minimum, std::int64_t maximum, int truncateBits);
std::int32_t resolutionResult(const ResolutionScan& scan, int truncateBits);
QString resolutionResultText(std::int32_t result);
