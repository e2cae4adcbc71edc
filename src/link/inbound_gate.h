#pragma once
// Ownership of the IN endpoint. At most one reader has a transfer pending on
// it at a time; stop-all and closing the device cancel every pending read by
// moving the generation on, so a reader of an earlier operation can never
// deliver its data into a later one.
#include <atomic>
#include <cstdint>

class Clock;

class InboundGate {
public:
    InboundGate();
    // Waits until no other reader owns the endpoint, at most `benchMs`
    // (bench time). Returns the generation the reader runs in, or 0 when the
    // wait timed out or the reads were cancelled meanwhile.
    std::uint64_t acquire(double benchMs);
    void release();
    // Cancels every pending and waiting reader.
    void cancelAll();
    bool cancelled(std::uint64_t generation) const { return generation != generation_.load(); }
    bool owned() const;

private:
    Clock& clock_;
    bool owned_ = false;  // written inside clock updates
    std::atomic<std::uint64_t> generation_{1};
};
