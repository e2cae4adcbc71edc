#include "link/in_pump.h"

#include "common/clock.h"
#include "common/logging.h"
#include "link/box_link.h"

#include <algorithm>

struct InSession::Pending {
    OverlappedRecord ov;
    std::shared_ptr<TransferContext> context;
};

int inPumpDepthFor(int length)
{
    if (length <= 0)
        return 1;
    return std::clamp((kInPumpQueuedBytes + length - 1) / length, 2, kInPumpMaxDepth);
}

std::unique_ptr<InSession> InPump::open(InSessionOptions options)
{
    return std::unique_ptr<InSession>(new InSession(link_, options));
}

InSession::InSession(BoxLink& link, InSessionOptions options) : link_(link), options_(options)
{
    depth_ = options.depth > 0 ? std::min(options.depth, kInPumpMaxDepth) : inPumpDepthFor(options.length);
    endpoint_ = link.inEndpoint.get();
    if (!endpoint_) {
        openFailure_ = ReadStatus::NoEndpoint;
        return;
    }
    generation_ = link.inGate.acquire(options.acquireMs);
    if (generation_ == 0) {
        // Whether the wait ran out or stop-all came: this consumer does not
        // get the endpoint, and must not wait on as if its transfer were late.
        openFailure_ = ReadStatus::Cancelled;
        return;
    }
    topUp();
}

InSession::~InSession()
{
    close();
}

void InSession::close()
{
    if (generation_ == 0 || closed_)
        return;
    closed_ = true;
    cancelPending();
    link_.inGate.release();
}

void InSession::topUp()
{
    while (static_cast<int>(pending_.size()) < depth_ && !failedStart_) {
        auto p = std::make_unique<Pending>();
        p->ov.event = std::make_shared<CompletionEvent>("Velt_USB_IN");
        p->context = endpoint_->beginTransfer(nullptr, options_.length, p->ov);
        // A start that failed has completed already (with its error); no
        // further transfer is started behind it.
        failedStart_ = p->ov.startFailed;
        if (!first_)
            first_ = p->context;
        pending_.push_back(std::move(p));
    }
}

void InSession::cancelPending()
{
    // A transfer that has not finished is cancelled by finishTransfer; its
    // context keeps the buffer until the device lets go of it.
    for (auto& p : pending_) {
        int got = 0;
        endpoint_->finishTransfer(nullptr, got, p->ov, p->context);
    }
    pending_.clear();
}

ReadOutcome InSession::next(std::uint8_t* buf, const BoundedRead& wait)
{
    auto logged = [&](ReadOutcome o) {
        qCDebug(lcLink, "%10.3f IN  %6d/%-6d %s (queued %d)", benchClock().nowMs(), o.bytes, options_.length,
                readStatusName(o.status), static_cast<int>(pending_.size()));
        return o;
    };
    if (generation_ == 0)
        return logged({openFailure_, 0});
    if (closed_)
        return logged({ReadStatus::Cancelled, 0});
    if (link_.inGate.cancelled(generation_)) {
        cancelPending();
        return logged({ReadStatus::Cancelled, 0});
    }
    Clock& clock = benchClock();
    const std::int64_t start = clock.nowMicros();
    auto elapsedMs = [&] { return static_cast<double>(clock.nowMicros() - start) / 1000.0; };

    topUp();
    Pending& head = *pending_.front();
    bool completed = head.ov.startFailed;
    while (!completed) {
        const double left = wait.limitMs - elapsedMs();
        if (left <= 0)
            return logged({ReadStatus::TimedOut, 0, elapsedMs()});
        if (endpoint_->waitForTransfer(head.ov, std::min(wait.sliceMs, left))) {
            completed = true;
            break;
        }
        if (link_.inGate.cancelled(generation_)) {
            cancelPending();
            return logged({ReadStatus::Cancelled, 0, elapsedMs()});
        }
        if (wait.keepWaiting && elapsedMs() >= wait.firstWaitMs && !wait.keepWaiting())
            return logged({ReadStatus::Stopped, 0, elapsedMs()});
    }
    int got = 0;
    const bool ok = endpoint_->finishTransfer(buf, got, head.ov, head.context);
    pending_.pop_front();
    ++taken_;
    topUp();
    if (ok)
        return logged({ReadStatus::Ok, got, elapsedMs()});
    // A transfer the unplug cut off still hands over what the box had sent.
    return logged({ReadStatus::Failed, got, elapsedMs()});
}

ReadOutcome InSession::cancelHead(std::uint8_t* buf)
{
    if (generation_ == 0 || closed_ || pending_.empty())
        return {ReadStatus::Cancelled, 0};
    Pending& head = *pending_.front();
    if (!head.context->isDone()) {
        // libusb gives a cancelled transfer back later, from its event
        // thread; one whose completion raced the cancel comes back
        // "cancelled" with every byte the box sent.
        std::shared_ptr<TransferContext> t = head.context;
        int none = 0;
        endpoint_->finishTransfer(nullptr, none, head.ov, head.context);
        head.ov.event->wait(kCancelReturnMs);
        head.context = std::move(t);
    }
    int got = 0;
    const bool ok = endpoint_->finishTransfer(buf, got, head.ov, head.context);
    pending_.pop_front();
    if (!ok && got == 0)
        return {ReadStatus::Cancelled, 0};
    ++taken_;
    return {ReadStatus::Ok, got};
}

bool InSession::firstCompleted() const
{
    if (!first_ || !first_->isDone())
        return false;
    // Cancelled after the box had answered into it: the answer came.
    const TransferStatus s = first_->status();
    return s == TransferStatus::Completed || (s == TransferStatus::Cancelled && first_->actualLength() > 0);
}
