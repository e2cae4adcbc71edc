#include "measure/block_walk.h"

bool streamSyncAt(std::span<const std::uint8_t> data, int offset)
{
    if (offset < 0 || static_cast<std::size_t>(offset) + 4 > data.size())
        return false;
    return data[offset] == 0xAA && data[offset + 1] == 0x55 && data[offset + 2] == 0x55
           && data[offset + 3] == 0xAA;
}

bool recordHoldsSync(std::span<const std::uint8_t> data, int p, int length)
{
    for (int i = p; i + 4 <= p + length; ++i)
        if (streamSyncAt(data, i))
            return true;
    return false;
}

bool walkBlockRecords(std::span<const std::uint8_t> data, int syncOffset, int recordLength,
                      int startLimit, const std::function<bool(int offset)>& visit)
{
    if (recordLength <= 0 || syncOffset < 0)
        return true;
    const long long length = static_cast<long long>(data.size());
    const auto fits = [&](long long p) { return p < startLimit && p + recordLength <= length; };

    long long blockEnd = static_cast<long long>(syncOffset) + kStreamBlockBytes;
    for (long long p = static_cast<long long>(syncOffset) + 4; fits(p); p += recordLength) {
        if (p + recordLength > blockEnd) {
            if (!streamSyncAt(data, static_cast<int>(blockEnd)))
                return !fits(blockEnd + 4);
            p = blockEnd + 4;
            blockEnd += kStreamBlockBytes;
            if (!fits(p))
                return true;
        }
        if (!visit(static_cast<int>(p)))
            return true;
    }
    return true;
}
