#pragma once
// Record walk over the box's 1024-byte stream blocks. Each block opens with
// AA 55 55 AA and carries whole records after it; a record never runs into
// the next block's pattern. Shared by the accuracy sampler and the
// resolution scan so both step over block headers the same way the
// continuous reader does.
#include <cstdint>
#include <functional>
#include <span>

inline constexpr int kStreamBlockBytes = 1024;

// True when AA 55 55 AA starts at offset and lies wholly inside data.
bool streamSyncAt(std::span<const std::uint8_t> data, int offset);

// Visits the record starts of the block whose pattern begins at syncOffset:
// the first record 4 bytes after it, then every recordLength bytes. A record
// that would cross into the next block is not read; the walk steps over that
// block's pattern and goes on after it, or ends when the pattern is missing.
// The walk visits a start p only while p < startLimit and the record lies
// wholly inside data; visit returns false to end the walk there. Returns
// false when the walk ended early at a block without its pattern (blocks
// were lost or the stream slipped), true otherwise.
bool walkBlockRecords(std::span<const std::uint8_t> data, int syncOffset, int recordLength,
                      int startLimit, const std::function<bool(int offset)>& visit);

// True when the record of `length` bytes at p holds AA 55 55 AA: a record
// that does is no record the box framed, but a slip over a block's pattern.
bool recordHoldsSync(std::span<const std::uint8_t> data, int p, int length);
