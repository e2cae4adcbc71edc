#include "interface/stream_parser.h"

#include <array>

namespace {

constexpr std::array<std::uint8_t, 4> kSync{0xAA, 0x55, 0x55, 0xAA};
constexpr int kBlockLength = 1024;

bool isSync(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return a == kSync[0] && b == kSync[1] && c == kSync[2] && d == kSync[3];
}

bool syncAt(const std::uint8_t* p)
{
    return isSync(p[0], p[1], p[2], p[3]);
}

// Byte b placed at bit position shift of the unsigned value.
constexpr std::uint64_t at(std::uint8_t b, int shift)
{
    return static_cast<std::uint64_t>(b) << shift;
}

}  // namespace

RecordFormat recordFormatFor(const ModeFlags& modes)
{
    if (modes.syncSerialMode || modes.incrementalMode)
        return RecordFormat::SyncSerial6;
    if (modes.spiMode)
        return RecordFormat::Spi10;
    if (modes.rs485AbMode)
        return RecordFormat::Rs485Ab10;
    if (modes.rs485Mode)
        return RecordFormat::Rs485_10;
    if (modes.rxOnlyMode)
        return RecordFormat::RxOnly4;
    return RecordFormat::None;
}

int recordLength(RecordFormat format)
{
    switch (format) {
    case RecordFormat::SyncSerial6:
        return 6;
    case RecordFormat::Spi10:
    case RecordFormat::Rs485_10:
    case RecordFormat::Rs485Ab10:
        return 10;
    case RecordFormat::RxOnly4:
        return 4;
    case RecordFormat::None:
        break;
    }
    return 0;
}

ParsedRecord parseRecord(const std::uint8_t* b, RecordFormat format)
{
    ParsedRecord r;
    std::uint64_t value = 0;
    switch (format) {
    case RecordFormat::SyncSerial6:
        if (isSync(b[4], b[5], b[2], b[3])) {
            r.sync = true;
            return r;
        }
        value = at(b[4], 40) | at(b[5], 32) | at(b[2], 24) | at(b[3], 16) | at(b[0], 8) | b[1];
        break;
    case RecordFormat::Spi10:
        if (isSync(b[0], b[1], b[2], b[3])) {
            r.sync = true;
            return r;
        }
        value = at(b[0], 40) | at(b[1], 32) | at(b[2], 24) | at(b[3], 16) | at(b[4], 8) | b[5];
        r.spiCrcByte = b[9];
        break;
    case RecordFormat::Rs485_10:
        if (isSync(b[8], b[9], b[6], b[7])) {
            r.sync = true;
            return r;
        }
        // Turn count from bit 32, single-turn position from bit 8, status byte low.
        value = at(b[4], 48) | at(b[5], 40) | at(b[2], 32) | at(b[3], 24) | at(b[0], 16)
                | at(b[1], 8) | b[8];
        break;
    case RecordFormat::Rs485Ab10:
        if (isSync(b[8], b[9], b[6], b[7])) {
            r.sync = true;
            return r;
        }
        value = at(b[9], 48) | at(b[6], 40) | at(b[7], 32) | at(b[3], 24) | at(b[0], 16)
                | at(b[1], 8) | b[8];
        break;
    case RecordFormat::RxOnly4:
        if (isSync(b[2], b[3], b[0], b[1])) {
            r.sync = true;
            return r;
        }
        value = at(b[2], 24) | at(b[3], 16) | at(b[0], 8) | b[1];
        break;
    case RecordFormat::None:
        break;
    }
    // At most 56 bits, so the signed value is the same number.
    r.value = static_cast<std::int64_t>(value);
    return r;
}

int findSyncPair(const std::uint8_t* data, int length)
{
    for (int i = 0; i + kBlockLength + 4 <= length; ++i) {
        if (syncAt(data + i) && syncAt(data + i + kBlockLength))
            return i;
    }
    return -1;
}

RecordWalk walkRecords(const std::uint8_t* data, int length, RecordFormat format,
                       std::int64_t shownValue, const UnchangedRecordVisitor& onUnchanged)
{
    RecordWalk walk;
    const int sync = findSyncPair(data, length);
    if (sync < 0)
        return walk;
    walk.synced = true;

    const int step = recordLength(format);
    if (step == 0)
        return walk;

    // Records are taken block by block: a record never runs into the next
    // block's AA 55 55 AA header, which would otherwise be read as part of a
    // record and shown as a position the encoder never had. At a header the
    // walk steps over it; a block without its header ends the walk.
    int blockEnd = sync + kBlockLength;
    // The reader keeps going while more than 5 bytes are left.
    for (int p = sync + 4; p < length - 5 && p + step <= length; p += step) {
        if (p + step > blockEnd) {
            if (blockEnd + 4 > length || !syncAt(data + blockEnd))
                break;
            p = blockEnd + 4;
            blockEnd += kBlockLength;
            if (!(p < length - 5 && p + step <= length))
                break;
        }
        const ParsedRecord r = parseRecord(data + p, format);
        if (r.sync)
            continue;
        ++walk.recordsParsed;
        walk.lastValue = r.value;
        walk.spiCrcByte = r.spiCrcByte;
        if (r.value != shownValue) {
            walk.changedValue = r.value;
            break;
        }
        if (onUnchanged && !onUnchanged(r)) {
            walk.stoppedByVisitor = true;
            break;
        }
    }
    return walk;
}
