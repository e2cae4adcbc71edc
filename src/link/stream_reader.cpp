#include "link/stream_reader.h"

#include "link/box_link.h"

StreamReader::StreamReader(BoxLink& link, StreamReaderOptions options)
    : link_(link), options_(options), buffer_(static_cast<std::size_t>(options.firstLength))
{
}

StreamReader::~StreamReader() = default;

ReadOutcome StreamReader::next(const std::function<bool()>& running)
{
    BoundedRead wait;
    wait.length = options_.firstLength;
    wait.limitMs = options_.waitMs;
    wait.keepWaiting = running;
    // A session that stop-all cancelled (or that could not open) is opened
    // afresh: the reader goes on as long as its operation runs.
    if (!session_ || !session_->isOpen())
        session_ = link_.inPump.open({options_.firstLength, 0, options_.waitMs});
    const ReadOutcome r = session_->next(buffer_.data(), wait);
    if (r.status == ReadStatus::Cancelled)
        session_.reset();
    got_ = r.ok() ? r.bytes : 0;
    return r;
}

RecordWalk StreamReader::walk(RecordFormat format, std::int64_t shownValue,
                              const UnchangedRecordVisitor& onUnchanged) const
{
    return walkRecords(buffer_.data(), got_, format, shownValue, onUnchanged);
}
