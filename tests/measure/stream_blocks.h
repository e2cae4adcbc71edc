#pragma once
// Builds box streams for the measure tests: 1024-byte blocks, each the
// pattern AA 55 55 AA, as many whole records as fit, then zero padding, as
// the box lays them out.
#include <cstdint>
#include <functional>
#include <vector>

namespace streamtest {

using Bytes = std::vector<std::uint8_t>;

inline const Bytes kSync{0xAA, 0x55, 0x55, 0xAA};

// BISS/SSI record of a 48-bit value: b4 b5 b2 b3 b0 b1 most significant first.
inline Bytes syncSerialRecord(std::uint64_t v)
{
    auto b = [v](int shift) { return static_cast<std::uint8_t>(v >> shift); };
    return {b(8), b(0), b(24), b(16), b(40), b(32)};
}

// SPI record: b0..b5 most significant first, b6..b8 zero, b9 the CRC byte.
inline Bytes spiRecord(std::uint64_t v, std::uint8_t crc)
{
    auto b = [v](int shift) { return static_cast<std::uint8_t>(v >> shift); };
    return {b(40), b(32), b(24), b(16), b(8), b(0), 0, 0, 0, crc};
}

// Appends `blocks` blocks; record k of the stream (counted over all blocks)
// comes from makeRecord(k).
inline void appendBlocks(Bytes& out, int blocks, int recordLength,
                         const std::function<Bytes(int)>& makeRecord, int firstRecord = 0)
{
    const int perBlock = (1024 - 4) / recordLength;
    int k = firstRecord;
    for (int b = 0; b < blocks; ++b) {
        const std::size_t start = out.size();
        out.insert(out.end(), kSync.begin(), kSync.end());
        for (int r = 0; r < perBlock; ++r, ++k) {
            const Bytes rec = makeRecord(k);
            out.insert(out.end(), rec.begin(), rec.end());
        }
        out.resize(start + 1024, 0);
    }
}

inline int recordsPerBlock(int recordLength)
{
    return (1024 - 4) / recordLength;
}

}  // namespace streamtest
