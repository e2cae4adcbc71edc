#pragma once
// The one ordered OUT queue. A send request is the packet built from the
// flags at the moment of the request; one sender thread writes the packets in
// the order they were requested, each under the endpoint's one-at-a-time
// rule, and each request's outcome comes back as a ticket the caller may
// wait on. Nobody overtakes anybody: a stop requested after a stream command
// reaches the box after it.
#include "common/clock.h"
#include "link/command_packet.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

enum class SendStatus {
    Queued,      // not yet written
    Sent,        // the box took it
    Failed,      // the write failed or did not complete within its wait
    NoEndpoint,  // no OUT endpoint: nothing was written
    Dropped,     // the queue closed before its turn (shutdown)
};

class SendTicket {
public:
    SendTicket() = default;  // nothing was queued
    explicit operator bool() const { return state_ != nullptr; }

    bool done() const;
    // Waits at most `benchMs` for the outcome; true when it came.
    bool wait(double benchMs) const;
    SendStatus status() const;
    bool sent() const { return status() == SendStatus::Sent; }
    // Bench time at which the sender finished with it (0 while queued).
    std::int64_t finishedMicros() const;

private:
    friend class OutQueue;
    struct State {
        SendStatus status = SendStatus::Queued;  // written inside clock updates
        std::int64_t finishedMicros = 0;
    };
    std::shared_ptr<State> state_;
    Clock* clock_ = nullptr;
};

class OutQueue {
public:
    // Writes one packet to the box; runs on the sender thread.
    using Writer = std::function<SendStatus(const CommandPacket&)>;

    explicit OutQueue(Writer writer, Clock& clock = benchClock());
    ~OutQueue();
    OutQueue(const OutQueue&) = delete;
    OutQueue& operator=(const OutQueue&) = delete;

    // Queues the packet; an empty ticket once the queue is closed.
    SendTicket enqueue(const CommandPacket& packet);
    // Waits until everything queued so far has its outcome; false when
    // `benchMs` passed first.
    bool drain(double benchMs);
    // Packets not yet written.
    std::size_t pending() const;
    // Drops what is still queued and ends the sender; idempotent. A queue
    // that was closed takes packets again after reopen().
    void close();
    void reopen();

private:
    struct Request {
        CommandPacket packet;
        std::shared_ptr<SendTicket::State> ticket;
    };
    void run();

    Writer writer_;
    Clock& clock_;
    // Written inside clock updates.
    std::deque<Request> queue_;
    std::size_t inFlight_ = 0;
    bool closed_ = false;
    bool quit_ = false;
    bool started_ = false;
    std::unique_ptr<ClockThread> sender_;  // started with the first request
};
