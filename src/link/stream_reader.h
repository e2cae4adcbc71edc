#pragma once
// The one reader of the box's position stream, shared by "Read data" and the
// tests that read positions: a session of the IN pump, each completed
// transfer followed by the sync search and the block-by-block record walk of
// the stream parser. Parameterised by transfer length and wait; the caller
// consumes records.
#include "interface/stream_parser.h"
#include "link/bounded_read.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

struct BoxLink;
class InSession;

struct StreamReaderOptions {
    int firstLength = 2048;
    // Bench milliseconds a transfer may take before the stream counts as stopped.
    double waitMs = 80;
};

class StreamReader {
public:
    StreamReader(BoxLink& link, StreamReaderOptions options);
    ~StreamReader();

    // The next transfer. `running` is the reading operation's own flag: the
    // wait ends when it drops. The session (and its queued transfers) ends
    // with the reader.
    ReadOutcome next(const std::function<bool()>& running);
    std::span<const std::uint8_t> data() const { return {buffer_.data(), static_cast<std::size_t>(got_)}; }

    // Walks the records of the last transfer (see walkRecords).
    RecordWalk walk(RecordFormat format, std::int64_t shownValue,
                    const UnchangedRecordVisitor& onUnchanged = {}) const;

private:
    BoxLink& link_;
    StreamReaderOptions options_;
    std::unique_ptr<InSession> session_;
    int got_ = 0;
    std::vector<std::uint8_t> buffer_;
};
