#pragma once
// The IN pump: the one owner of the box's IN endpoint. A consumer (the drain
// read, the continuous reader, a capture, a test's sampler, ...) opens a
// session for its run; while the session is open the pump keeps several
// transfers of the consumer's length queued on the endpoint, so the box's
// four-packet FIFO always finds somewhere to go while the consumer is busy
// with the last transfer, and hands the completed transfers to the consumer
// in the order the box filled them.
//
// Only one session is open at a time. Stop-all and device changes cancel
// every session (the gate's generation moves on): a session of an earlier
// operation never receives later data, and what its queued transfers had
// taken is dropped with them.
#include "link/bounded_read.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct BoxLink;
class CCyUSBEndPoint;
struct TransferContext;

// Bytes kept queued on the endpoint while a session waits. At 50 times the
// box's fastest stream (80 kB/s of records) this is over 250 ms of data. On
// libusb a transfer comes back only after the event thread reaped its URBs
// and the consumer ran to queue the next one: through libusb on a loaded
// two-core machine, a quarter of this (60 ms) let the FX2's FIFO overflow.
inline constexpr int kInPumpQueuedBytes = 1024 * 1024;
inline constexpr int kInPumpMaxDepth = 128;

// How long cancelHead waits for the backend to give a cancelled transfer
// back (the simulated bus does at once; libusb after its event thread reaped
// it, a few hundred microseconds).
inline constexpr double kCancelReturnMs = 100;

// Transfers a session keeps queued for transfers of `length` bytes.
int inPumpDepthFor(int length);

struct InSessionOptions {
    int length = 2048;  // bytes per transfer
    // Transfers queued at once; 0: inPumpDepthFor(length). One for a
    // consumer that must not take more than it asked for (the drain read).
    int depth = 0;
    // How long opening may wait for an earlier session to end.
    double acquireMs = 1000;
};

class InSession {
public:
    ~InSession();
    InSession(const InSession&) = delete;
    InSession& operator=(const InSession&) = delete;

    // False when the session could not be opened (no endpoint, cancelled,
    // another session kept the endpoint); next() then says NoEndpoint or,
    // for a session that never got the endpoint, Cancelled.
    bool isOpen() const { return generation_ != 0 && !closed_; }

    // The next completed transfer, copied into `buf` (its length bytes).
    // Waits in slices of `wait.sliceMs` until one completes, `wait.limitMs`
    // passes, `wait.keepWaiting` drops (after `wait.firstWaitMs`) or the
    // session is cancelled. Unlike a one-shot read, a wait that ends without
    // a transfer leaves the queued transfers pending: the next call goes on
    // waiting for the same one.
    ReadOutcome next(std::uint8_t* buf, const BoundedRead& wait);

    // Cancels the transfer next() was waiting for. One that completed
    // between the end of the wait and the cancel, or took bytes before it,
    // keeps them: the box has sent them and they exist nowhere else (Ok,
    // copied into `buf`).
    ReadOutcome cancelHead(std::uint8_t* buf);

    // Cancels what is queued and gives the endpoint up; idempotent (the
    // destructor does it too). next() then reports Cancelled.
    void close();

    // The first transfer the session queued has completed without error, or
    // was cancelled after the box had answered into it.
    // Any thread: it looks only at that transfer, not at the queue.
    bool firstCompleted() const;

    int length() const { return options_.length; }
    int depth() const { return depth_; }
    // Completed transfers taken so far, and bytes in them.
    std::uint64_t transfersTaken() const { return taken_; }

private:
    friend class InPump;
    InSession(BoxLink& link, InSessionOptions options);
    void topUp();
    void cancelPending();

    BoxLink& link_;
    InSessionOptions options_;
    int depth_ = 1;
    std::uint64_t generation_ = 0;
    ReadStatus openFailure_ = ReadStatus::NoEndpoint;
    struct Pending;
    std::shared_ptr<CCyUSBEndPoint> endpoint_;
    std::deque<std::unique_ptr<Pending>> pending_;
    bool failedStart_ = false;
    std::shared_ptr<TransferContext> first_;
    bool closed_ = false;
    std::uint64_t taken_ = 0;
};

class InPump {
public:
    explicit InPump(BoxLink& link) : link_(link) {}
    // Opens a session on the IN endpoint as it is now.
    std::unique_ptr<InSession> open(InSessionOptions options);

private:
    BoxLink& link_;
};

// Consumers that read once (the drain read, the EEPROM read-back) use
// readBounded: a session of one transfer, cancelled when its wait ends.
