#include "link/bounded_read.h"

#include "common/clock.h"
#include "common/logging.h"
#include "link/box_link.h"

#include <algorithm>

const char* readStatusName(ReadStatus s)
{
    switch (s) {
    case ReadStatus::Ok: return "ok";
    case ReadStatus::Failed: return "failed";
    case ReadStatus::TimedOut: return "timed out";
    case ReadStatus::Stopped: return "stopped";
    case ReadStatus::Cancelled: return "cancelled";
    case ReadStatus::NoEndpoint: return "no endpoint";
    }
    return "?";
}

ReadOutcome readBounded(BoxLink& link, std::uint8_t* buf, const BoundedRead& r)
{
    const std::int64_t start = benchClock().nowMicros();
    auto elapsedMs = [&] { return static_cast<double>(benchClock().nowMicros() - start) / 1000.0; };
    const auto session = link.inPump.open({r.length, 1, r.limitMs});
    if (!session->isOpen())
        return session->next(buf, r);
    BoundedRead rest = r;
    rest.limitMs = r.limitMs - elapsedMs();
    ReadOutcome o = session->next(buf, rest);
    if (o.status == ReadStatus::Ok || o.status == ReadStatus::Failed || o.status == ReadStatus::Cancelled) {
        o.waitedMs = elapsedMs();
        return o;
    }
    // Not completed within the wait: cancelled here, so it cannot swallow the
    // data of a later operation.
    const ReadOutcome late = session->cancelHead(buf);
    if (late.ok())
        return {ReadStatus::Ok, late.bytes, elapsedMs()};
    return {o.status, 0, elapsedMs()};
}
