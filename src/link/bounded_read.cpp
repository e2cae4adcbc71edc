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

namespace {

ReadOutcome logged(const BoundedRead& r, ReadOutcome o)
{
    qCDebug(lcLink, "%10.3f IN  %6d/%-6d %s", benchClock().nowMs(), o.bytes, r.length, readStatusName(o.status));
    return o;
}

}  // namespace

ReadOutcome readBounded(BoxLink& link, std::uint8_t* buf, const BoundedRead& r)
{
    std::shared_ptr<CCyUSBEndPoint> in = link.inEndpoint.get();
    if (!in)
        return logged(r, {ReadStatus::NoEndpoint, 0});

    const std::int64_t start = benchClock().nowMicros();
    auto elapsedMs = [&] { return static_cast<double>(benchClock().nowMicros() - start) / 1000.0; };

    const std::uint64_t generation = link.inGate.acquire(r.limitMs);
    if (generation == 0)
        return logged(r, {link.inGate.owned() ? ReadStatus::TimedOut : ReadStatus::Cancelled, 0});

    OverlappedRecord ov;
    ov.event = std::make_shared<CompletionEvent>("Velt_USB_IN");
    auto ctx = in->beginTransfer(buf, r.length, ov);
    ReadStatus status = ReadStatus::Ok;
    bool completed = ov.startFailed;  // a failed start has completed already
    while (!completed) {
        const double left = r.limitMs - elapsedMs();
        if (left <= 0) {
            status = ReadStatus::TimedOut;
            break;
        }
        if (in->waitForTransfer(ov, std::min(r.sliceMs, left))) {
            completed = true;
            break;
        }
        if (link.inGate.cancelled(generation)) {
            status = ReadStatus::Cancelled;
            break;
        }
        if (r.keepWaiting && elapsedMs() >= r.firstWaitMs && !r.keepWaiting()) {
            status = ReadStatus::Stopped;
            break;
        }
    }
    int got = 0;
    // A transfer that has not completed is cancelled here; its context keeps
    // the buffer until the device lets go, and its bytes reach nobody.
    const bool ok = in->finishTransfer(buf, got, ov, ctx);
    link.inGate.release();
    // A transfer that completed between the last wait and the cancel keeps
    // its data: the box has sent it and it exists nowhere else.
    if (ok)
        return logged(r, {ReadStatus::Ok, got, elapsedMs()});
    return logged(r, {completed ? ReadStatus::Failed : status, 0, elapsedMs()});
}
