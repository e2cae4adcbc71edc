#pragma once
// Scanning one inbound transfer of the calibration exchange. Only the first
// item a transfer holds counts: an information tag and its value while an
// information record is being read, otherwise a reply frame AA, x, AA, code.
#include <cstdint>
#include <span>

struct CalScanItem {
    enum class Kind { Nothing, Tag, Reply };
    Kind kind = Kind::Nothing;
    std::uint8_t tag = 0;    // Kind::Tag: 1..32 or 1..52
    std::uint8_t value = 0;  // Kind::Tag: the byte after the tag
    std::uint8_t code = 0;   // Kind::Reply: the fourth byte of the frame
};

constexpr int kInfo1LastTag = 52;  // encoder 1
constexpr int kInfo2LastTag = 32;  // encoder 2

// waitInfo2 takes precedence over waitInfo1; with neither raised the
// transfer is searched for a reply frame. A tag in the last byte (no value)
// or a frame cut off before its code byte is not an item.
CalScanItem scanCalibrationTransfer(std::span<const std::uint8_t> bytes, bool waitInfo1, bool waitInfo2);
