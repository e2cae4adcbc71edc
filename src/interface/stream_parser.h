#pragma once
// Records of the box's position stream. The stream comes in 1024-byte blocks,
// each opened by the sync pattern AA 55 55 AA and followed by fixed-length
// records back to back. These are pure functions of the bytes; the continuous
// reader owns the transfers, the CRC check and the displays.

#include "interface/mode_flags.h"

#include <cstdint>
#include <functional>
#include <optional>

enum class RecordFormat { None, SyncSerial6, Spi10, Rs485_10, Rs485Ab10, RxOnly4 };

// The record format of the chosen protocol, by the first flag that matches:
// sync-serial or incremental, SPI, RS485+AB, RS485, receive-only. None for
// the sin/cos and ADC protocols, whose data this stream does not carry.
RecordFormat recordFormatFor(const ModeFlags& modes);

// Bytes per record; 0 for RecordFormat::None.
int recordLength(RecordFormat format);

struct ParsedRecord {
    bool sync = false;            // the record is a sync pattern, no value
    std::int64_t value = 0;       // raw position value, up to 56 bits
    std::uint8_t spiCrcByte = 0;  // byte 9 of an SPI record (the box's CRC), else 0
};

// Parses the record at p, which must hold recordLength(format) bytes. The
// value is composed exactly in 64-bit integers, so 56-bit RS485 values keep
// their low bits. RecordFormat::None yields a non-sync record of value 0.
ParsedRecord parseRecord(const std::uint8_t* p, RecordFormat format);

// The first offset i at which AA 55 55 AA starts both at i and at i + 1024,
// with i + 1028 <= length; -1 when there is none.
int findSyncPair(const std::uint8_t* data, int length);

struct RecordWalk {
    bool synced = false;  // the transfer held a sync pair
    int recordsParsed = 0;  // value records, sync records not counted
    // The first record whose value differs from the one on screen; the walk
    // ends there.
    std::optional<std::int64_t> changedValue;
    // Value and SPI CRC byte of the last value record parsed (the changed
    // one when there is a change); empty when no value record was parsed.
    std::optional<std::int64_t> lastValue;
    std::uint8_t spiCrcByte = 0;
    bool stoppedByVisitor = false;
};

// Called for each value record that equals the shown value, in stream order,
// before the walk moves on; returning false ends the walk there. The reader
// uses it to check the CRC byte of records it does not redraw.
using UnchangedRecordVisitor = std::function<bool(const ParsedRecord&)>;

// Walks one transfer the way the continuous reader does: records start 4
// bytes after the first sync pair, sync records are skipped, and the walk ends
// at the first value that differs from shownValue or once fewer than 6 bytes
// are left. A record cut off by the end of the transfer is not parsed.
// shownValue is compared exactly (not through a double) so that changes in
// the low bits of 56-bit values are seen.
RecordWalk walkRecords(const std::uint8_t* data, int length, RecordFormat format,
                       std::int64_t shownValue, const UnchangedRecordVisitor& onUnchanged = {});
