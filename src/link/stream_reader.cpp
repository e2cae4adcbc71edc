#include "link/stream_reader.h"

#include "link/box_link.h"

#include <algorithm>

StreamReader::StreamReader(BoxLink& link, StreamReaderOptions options)
    : link_(link), options_(options), length_(options.firstLength), buffer_(static_cast<std::size_t>(options.firstLength))
{
}

ReadOutcome StreamReader::next(const std::function<bool()>& running)
{
    if (static_cast<int>(buffer_.size()) < length_)
        buffer_.resize(static_cast<std::size_t>(length_));
    BoundedRead request;
    request.length = length_;
    request.limitMs = options_.waitMs;
    request.keepWaiting = running;
    link_.sendLock.acquire();
    const ReadOutcome r = readBounded(link_, buffer_.data(), request);
    link_.sendLock.release();
    got_ = r.ok() ? r.bytes : 0;
    if (options_.followLength && got_ > 0)
        length_ = got_;
    return r;
}

RecordWalk StreamReader::walk(RecordFormat format, std::int64_t shownValue,
                              const UnchangedRecordVisitor& onUnchanged) const
{
    return walkRecords(buffer_.data(), got_, format, shownValue, onUnchanged);
}
