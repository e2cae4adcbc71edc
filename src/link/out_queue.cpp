#include "link/out_queue.h"

bool SendTicket::done() const
{
    if (!state_)
        return true;
    bool done = false;
    clock_->update([&] { done = state_->status != SendStatus::Queued; });
    return done;
}

bool SendTicket::wait(double benchMs) const
{
    if (!state_)
        return true;
    const std::shared_ptr<State> s = state_;
    return clock_->waitFor(benchMs, [&] { return s->status != SendStatus::Queued; });
}

SendStatus SendTicket::status() const
{
    if (!state_)
        return SendStatus::Dropped;
    SendStatus status = SendStatus::Queued;
    clock_->update([&] { status = state_->status; });
    return status;
}

std::int64_t SendTicket::finishedMicros() const
{
    if (!state_)
        return 0;
    std::int64_t t = 0;
    clock_->update([&] { t = state_->finishedMicros; });
    return t;
}

OutQueue::OutQueue(Writer writer, Clock& clock) : writer_(std::move(writer)), clock_(clock) {}

OutQueue::~OutQueue()
{
    close();
}

SendTicket OutQueue::enqueue(const CommandPacket& packet)
{
    SendTicket ticket;
    ticket.clock_ = &clock_;
    bool start = false;
    clock_.update([&] {
        if (closed_)
            return;
        ticket.state_ = std::make_shared<SendTicket::State>();
        queue_.push_back({packet, ticket.state_});
        start = !started_;
        started_ = true;
    });
    if (start) {
        // Only the thread that queued the first packet gets here: the queue
        // is not closed and nobody else starts the sender.
        sender_ = std::make_unique<ClockThread>(clock_, [this] { run(); });
    }
    return ticket;
}

bool OutQueue::drain(double benchMs)
{
    return clock_.waitFor(benchMs, [this] { return queue_.empty() && inFlight_ == 0; });
}

std::size_t OutQueue::pending() const
{
    std::size_t n = 0;
    clock_.update([&] { n = queue_.size() + inFlight_; });
    return n;
}

void OutQueue::close()
{
    clock_.update([this] {
        closed_ = true;
        quit_ = true;
        for (Request& r : queue_)
            r.ticket->status = SendStatus::Dropped;
        queue_.clear();
    });
    if (sender_)
        sender_->join();
    sender_.reset();
    clock_.update([this] { started_ = false; });
}

void OutQueue::reopen()
{
    close();
    clock_.update([this] {
        closed_ = false;
        quit_ = false;
    });
}

void OutQueue::run()
{
    for (;;) {
        Request request;
        if (!takeNext(clock_, queue_, quit_, request, [this] { ++inFlight_; }))
            return;
        const SendStatus status = writer_(request.packet);
        const std::int64_t now = clock_.nowMicros();
        clock_.update([&] {
            request.ticket->status = status;
            request.ticket->finishedMicros = now;
            --inFlight_;
        });
    }
}
