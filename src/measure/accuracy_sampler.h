#pragma once
// The accuracy test's sampler: picks at most one angle sample from each
// 2048-byte transfer of position records. Pure: the sampler worker owns the
// transfer and writes lastRawFrame, the field displays and the gauge from
// what this returns.
#include "interface/frame_decoder.h"
#include "interface/stream_parser.h"

#include <cstdint>
#include <optional>
#include <span>

inline constexpr int kAccuracyTransferBytes = 2048;
// The sync search starts here, well into the transfer, so the records read
// come from the newest block.
inline constexpr int kAccuracySyncSearchStart = 1000;
// Angles at or below this are not samples: an encoder standing at zero, or a
// record the box has not filled, reads 0.
inline constexpr double kAccuracyMinAngle = 0.1;

// Record format of the sampler, by the first matching flag: sync serial, SPI,
// RS485, RS485+AB, receive-only. Incremental encoders do not take this test;
// the other protocols carry no position records here (None).
RecordFormat accuracyRecordFormat(const ModeFlags& modes);

// The first AA 55 55 AA at or after byte 1000 that lies wholly inside the
// transfer; -1 when there is none.
int findAccuracySync(std::span<const std::uint8_t> transfer);

enum class AccuracyPickKind {
    NoSync,       // no pattern from byte 1000 on: the transfer is dropped
    NoSample,     // synced, but no record qualified as a sample
    Sample,       // `value`/`angle` is the transfer's sample
    CrcMismatch,  // SPI_CRC: a record's CRC byte differs from its CRC field
};

struct AccuracyPick {
    AccuracyPickKind kind = AccuracyPickKind::NoSync;
    // The last record decoded: the sample, the record with the CRC mismatch,
    // or the record at which the walk ended. The worker shows it as
    // lastRawFrame and through the decoder's displays.
    std::optional<std::int64_t> lastValue;
    std::optional<DecodedFrame> lastDecoded;
    // The sample's position value and its gauge angle (kind Sample only).
    std::int64_t value = 0;
    double angle = 0.0;
};

// Walks the records after the sync pattern block by block (stepping over the
// next block's pattern as the continuous reader does, never reading past the
// transfer) while a record start is below length - 5. Each record is decoded
// with `layout`; with spiCrcMode its CRC byte is checked against the decoded
// CRC field. The first record whose angle is at most 0.1 degrees ends the
// walk without a sample; records equal to previousValue (the worker's last
// sample, 0 at its start) are passed over; the first other record is the
// sample. A layout without a gauge field (0) yields no samples: its angle
// never moves, so the operation must ask for a gauge field before the test.
AccuracyPick pickAccuracySample(std::span<const std::uint8_t> transfer, const FrameLayout& layout,
                                std::int64_t previousValue,
                                const std::array<std::int64_t, kMaxFields>& previousFields = {});
