#include "measure/resolution_scan.h"

#include "interface/frame_decoder.h"
#include "interface/stream_parser.h"
#include "measure/block_walk.h"

#include <algorithm>

std::optional<int> resolutionTransferBytes(int cycleCount)
{
    if (cycleCount < kResolutionMinCycleCount)
        return std::nullopt;
    if (cycleCount < 50000)
        return 10 * 1024;
    if (cycleCount < 100000)
        return 50 * 1024;
    const int hundreds = std::min(cycleCount / 100000, 8);
    return hundreds * 100 * 1024;
}

ResolutionFormat resolutionFormatFor(const ModeFlags& modes)
{
    if (modes.syncSerialMode)
        return ResolutionFormat::SyncSerial6;
    if (modes.incrementalMode)
        return ResolutionFormat::Incremental6;
    if (modes.spiMode)
        return ResolutionFormat::Spi10;
    if (modes.rs485AbMode || modes.rs485Mode)
        return ResolutionFormat::Rs485_10;
    return ResolutionFormat::None;
}

int resolutionRecordLength(ResolutionFormat format)
{
    switch (format) {
    case ResolutionFormat::SyncSerial6:
    case ResolutionFormat::Incremental6:
        return 6;
    case ResolutionFormat::Spi10:
    case ResolutionFormat::Rs485_10:
        return 10;
    case ResolutionFormat::None:
        break;
    }
    return 0;
}

namespace {

constexpr std::uint64_t at(std::uint8_t b, int shift)
{
    return static_cast<std::uint64_t>(b) << shift;
}

}  // namespace

std::int64_t resolutionRecordValue(const std::uint8_t* b, ResolutionFormat format, int frameBits)
{
    std::uint64_t v = 0;
    switch (format) {
    case ResolutionFormat::SyncSerial6:
        v = at(b[4], 40) | at(b[5], 32) | at(b[2], 24) | at(b[3], 16) | at(b[0], 8) | b[1];
        break;
    case ResolutionFormat::Incremental6:
        // The position counter only; the turn counter bytes are left out.
        v = at(b[3], 16) | at(b[0], 8) | b[1];
        break;
    case ResolutionFormat::Spi10:
        v = at(b[0], 40) | at(b[1], 32) | at(b[2], 24) | at(b[3], 16) | at(b[4], 8) | b[5];
        // The frame sits at the top of the 48-bit word.
        return frameShift(static_cast<std::int64_t>(v), 48 - static_cast<std::int64_t>(frameBits));
    case ResolutionFormat::Rs485_10:
        // Single-turn position and status byte; the turn count is left out.
        v = at(b[3], 24) | at(b[0], 16) | at(b[1], 8) | b[8];
        break;
    case ResolutionFormat::None:
        break;
    }
    return static_cast<std::int64_t>(v);
}

int resolutionProgress(std::int64_t offset, std::int64_t length)
{
    const std::int64_t span = length - kResolutionTailBytes;
    if (span <= 0)
        return 0;
    const std::int64_t p = kResolutionProgressRange * offset / span;
    return static_cast<int>(std::clamp<std::int64_t>(p, 0, kResolutionProgressRange));
}

ResolutionScan scanResolution(std::span<const std::uint8_t> transfer, const ModeFlags& modes,
                              int frameBits, const ResolutionProgress& onProgress)
{
    ResolutionScan scan;
    const int length = static_cast<int>(std::min<std::size_t>(transfer.size(), 0x7FFFFFFF));
    const int sync = findSyncPair(transfer.data(), length);
    if (sync < 0)
        return scan;
    scan.synced = true;

    const ResolutionFormat format = resolutionFormatFor(modes);
    if (format == ResolutionFormat::None)
        return scan;

    int shownProgress = -1;
    const int recordLength = resolutionRecordLength(format);
    scan.complete = walkBlockRecords(transfer, sync, recordLength, length - kResolutionTailBytes,
                     [&](int p) {
                         // A slipped stream: the pattern is no position.
                         if (recordHoldsSync(transfer, p, recordLength)) {
                             scan.complete = false;
                             return true;
                         }
                         const std::int64_t value =
                             resolutionRecordValue(transfer.data() + p, format, frameBits);
                         if (!scan.firstValue)
                             scan.firstValue = value;
                         scan.lastValue = value;
                         const int progress = resolutionProgress(p, length);
                         if (onProgress && progress != shownProgress)
                             onProgress(progress);
                         shownProgress = progress;
                         if (scan.records == 0) {
                             scan.minimum = value;
                             scan.maximum = value;
                         } else {
                             scan.maximum = std::max(scan.maximum, value);
                             scan.minimum = std::min(scan.minimum, value);
                         }
                         ++scan.records;
                         return true;
                     }) && scan.complete;
    // The transfer starts with the stream's first block: a walk that found
    // its first pattern pair later skipped whole blocks of records.
    if (sync >= kStreamBlockBytes)
        scan.complete = false;
    return scan;
}

std::int32_t resolutionResult(std::int64_t minimum, std::int64_t maximum, int truncateBits)
{
    // Values are at most 48 bits wide, so the difference cannot overflow.
    const std::int64_t span = frameShift(maximum - minimum, truncateBits);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(span));
}

std::int32_t resolutionResult(const ResolutionScan& scan, int truncateBits)
{
    return resolutionResult(scan.minimum, scan.maximum, truncateBits);
}

QString resolutionResultText(std::int32_t result)
{
    return QString::number(result);
}
