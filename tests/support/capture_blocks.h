#pragma once
// The capture file a box's log implies: each transfer that delivered bytes is
// one 40960-byte block, zero after what it delivered. Empty transfers (ended
// before the box sent anything) leave no block.
#include "measure/capture_stream.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// The blocks of the first `count` transfers (all of them by default).
inline QByteArray captureFileOf(const std::vector<std::vector<std::uint8_t>>& transfers,
                                std::size_t count = std::numeric_limits<std::size_t>::max())
{
    QByteArray out;
    for (std::size_t i = 0; i < count && i < transfers.size(); ++i) {
        if (transfers[i].empty())
            continue;
        QByteArray block(kCaptureBlockBytes, '\0');
        std::copy(transfers[i].begin(), transfers[i].end(), block.begin());
        out += block;
    }
    return out;
}
