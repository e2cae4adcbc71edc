#pragma once
// The one reader of the box's position stream, shared by "Read data" and the
// tests that read positions: bounded transfers under SendLock, each followed
// by the sync search and the block-by-block record walk of the stream parser.
// Parameterised by transfer length and wait; the caller consumes records.
#include "interface/stream_parser.h"
#include "link/bounded_read.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

struct BoxLink;

struct StreamReaderOptions {
    int firstLength = 2048;
    // Bench milliseconds a transfer may take before the stream counts as stopped.
    double waitMs = 80;
    // Later transfers ask for what the last one returned (an empty transfer
    // keeps the length, so the reader never shrinks to nothing).
    bool followLength = true;
};

class StreamReader {
public:
    StreamReader(BoxLink& link, StreamReaderOptions options);

    // One transfer, holding SendLock while it is pending. `running` is the
    // reading operation's own flag: the transfer is cancelled when it drops.
    ReadOutcome next(const std::function<bool()>& running);
    std::span<const std::uint8_t> data() const { return {buffer_.data(), static_cast<std::size_t>(got_)}; }

    // Walks the records of the last transfer (see walkRecords).
    RecordWalk walk(RecordFormat format, std::int64_t shownValue,
                    const UnchangedRecordVisitor& onUnchanged = {}) const;

private:
    BoxLink& link_;
    StreamReaderOptions options_;
    int length_;
    int got_ = 0;
    std::vector<std::uint8_t> buffer_;
};
