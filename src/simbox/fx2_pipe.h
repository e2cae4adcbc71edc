#pragma once
// The USB side of the simulated box's FX2: bulk OUT 0x02 and bulk IN 0x86
// with the box's descriptors, the small IN FIFO (4 packets by default), the
// host's pending IN transfers and the firmware thread that keeps them moving.
//
//  - An OUT packet is taken, logged and handed to the 8051 side (Fx2Core) at
//    once, on the thread that submits the transfer: an FX2 does it within
//    microseconds;
//  - packets for the host wait in the IN FIFO. When it is full a new packet
//    is lost and counted in lostBytes, unless the firmware waits for room;
//  - FIFO packets move into the host's pending IN transfers. As on a real
//    bulk IN pipe, a transfer of N bytes completes when N bytes have arrived
//    or when a short packet (< 512 bytes, e.g. an answer) ends it;
//  - answers due later wait in the pipe until the firmware thread, woken on
//    the bench clock, commits them.
//
// The SimDevice side (descriptors, submit, cancel, attached, detached),
// start(), stop() and waitForPackets() take the box's lock themselves; every
// other member is called with it held.
#include "simbox/sim_bus.h"
#include "common/clock.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

struct ReceivedPacket {
    std::vector<std::uint8_t> bytes;
    std::int64_t benchMicros = 0;

    std::uint8_t code() const { return bytes.empty() ? 0 : bytes[0]; }
    // Every byte equals `b`.
    bool isFill(std::uint8_t b) const;
    // Starts with these bytes.
    bool startsWith(std::initializer_list<std::uint8_t> header) const;
};

enum class OutFault {
    None,
    Stall,          // OUT transfers end with a stall; the packet is not taken
    NeverComplete,  // OUT transfers stay pending until cancelled or unplugged
};

// The FX2's 8051 side as the pipe serves it. Every call comes with the box's
// lock held.
class Fx2Core {
public:
    using Packet = std::vector<std::uint8_t>;

    // Brings the stream up to `now`; its packets go into the IN FIFO.
    virtual void produceLocked(std::int64_t now) = 0;
    // Bench time at which the stream completes its next packet (Clock::kNever
    // without a stream): the firmware thread wakes then.
    virtual std::int64_t nextPacketDueLocked() const = 0;
    // An OUT packet the pipe took, of whatever length the host sent.
    virtual void takeLocked(const Packet& packet, std::int64_t now) = 0;
    // Power-up state: the FX2 restarts whenever it is plugged in.
    virtual void powerUpLocked() = 0;

protected:
    ~Fx2Core() = default;
};

class Fx2Pipe {
public:
    using Packet = std::vector<std::uint8_t>;
    static constexpr int kPacketSize = 512;

    // Like bytesSent and lostBytesTotal, every counter but lostBytes
    // survives a replug.
    struct Counters {
        std::uint64_t lostBytes = 0;  // lost since the current stream began
        std::uint64_t lostBytesTotal = 0;
        std::uint64_t bytesSent = 0;  // delivered to the host
        // Whole packets (answers included) fully handed to host transfers,
        // and packets lost because the FIFO was full with no transfer pending.
        std::uint64_t packetsSent = 0;
        std::uint64_t packetsDropped = 0;
        std::uint64_t answersSent = 0;
        std::uint64_t stalledPackets = 0;
        std::uint64_t stalledInTransfers = 0;  // IN transfers failed by a stall
    };

    Fx2Pipe(Clock& clock, std::mutex& boxLock, Fx2Core& core);
    ~Fx2Pipe();
    Fx2Pipe(const Fx2Pipe&) = delete;
    Fx2Pipe& operator=(const Fx2Pipe&) = delete;

    // The firmware thread: started once the core can be called, stopped
    // before the core goes.
    void start();
    void stop();

    // --- SimDevice side ----------------------------------------------------
    UsbDeviceInfo descriptors() const;
    void submit(const std::shared_ptr<TransferContext>& transfer, std::uint64_t attachment);
    void cancel(const std::shared_ptr<TransferContext>& transfer);
    void attached(std::uint64_t attachment);
    void detached();
    // Waits until at least `count` OUT packets have been taken; false on time-out.
    bool waitForPackets(std::size_t count, double benchMs) const;

    // --- Options and faults --------------------------------------------------
    // Firmware without OUT 0x02 in its descriptors.
    void setInEndpointOnly(bool inOnly) { inOnly_ = inOnly; }
    void setFifoPackets(int packets);
    // Packets are taken (and logged) but nothing reaches the host.
    void setNoAnswer(bool on) { noAnswer_ = on; }
    void setAnswerDelayMs(double ms);
    void setOutFault(OutFault fault) { outFault_ = fault; }
    // A stalled IN endpoint: every IN transfer fails at once.
    void setInStalled(bool on) { inStalled_ = on; }
    bool silent() const { return noAnswer_; }
    std::int64_t answerDelayMicros() const;

    // --- What the pipe saw ---------------------------------------------------
    const std::vector<ReceivedPacket>& received() const { return log_; }
    void clearReceived();
    const Counters& counters() const { return counters_; }
    bool isAttached() const { return attached_; }
    std::size_t fifoPackets() const { return fifo_.size(); }
    std::size_t fifoBytes() const;
    // Host transfers the pipe holds: IN waiting for data, OUT never completed.
    std::size_t pendingInTransfers() const { return inQueue_.size(); }
    std::size_t pendingOutTransfers() const { return stuckOut_.size(); }

    // --- For the firmware ------------------------------------------------------
    // A packet for the IN FIFO. When the FIFO is full it is lost, unless
    // `waitForRoom` (the firmware waits: the end of a capture, its
    // acknowledgement). `tapped`: the bytes go to the tap when delivered.
    void commit(Packet packet, bool waitForRoom = false, bool tapped = false);
    // An answer, after the injected answer delay; a multiple of the packet
    // size ends with a zero-length packet.
    void sendAnswer(Packet bytes, std::int64_t now);
    // One short packet at `dueMicros` plus the injected answer delay.
    void sendShortPacket(Packet bytes, std::int64_t now, std::int64_t dueMicros);
    // One short packet at `dueMicros` that waits for FIFO room; the injected
    // answer delay does not apply.
    void sendAcknowledgement(Packet bytes, std::int64_t now, std::int64_t dueMicros);
    // A packet committed now would be lost: the box is silent, or the FIFO
    // is full with no transfer pending.
    bool wouldLose() const;
    // Stream data the firmware lost on its side of the FIFO, counted with
    // the FIFO's own losses.
    void countLost(std::uint64_t bytes, std::uint64_t packets);
    // A new stream begins: lostBytes counts from zero.
    void restartLossCount() { counters_.lostBytes = 0; }
    // Receives, for each host transfer that took bytes of tapped packets,
    // those bytes once the transfer ends (completed, cancelled or cut off by
    // an unplug; a zero-length packet gives an empty entry).
    void setTap(std::function<void(std::vector<std::uint8_t>)> tap) { tap_ = std::move(tap); }

private:
    struct PendingIn {
        std::shared_ptr<TransferContext> transfer;
        int filled = 0;
        bool tapped = false;              // took bytes of tapped packets
        std::vector<std::uint8_t> taps;   // those bytes
    };
    struct DelayedAnswer {
        std::int64_t dueMicros = 0;
        Packet bytes;
        bool waitForRoom = false;
    };
    struct FifoPacket {
        Packet bytes;
        bool tapped = false;
    };

    void run();
    void kick();
    void takeOutPacket(const std::shared_ptr<TransferContext>& t, std::int64_t now);
    void releaseAnswers(std::int64_t now);
    void deliver();
    std::int64_t nextWake() const;
    void endTap(PendingIn& in);
    void powerUp();

    Clock& clock_;
    std::mutex& mutex_;  // the box's lock
    Fx2Core& core_;
    // Written inside clock updates: the firmware thread's wake-up and end.
    bool kicked_ = false;
    bool quit_ = false;
    std::atomic<std::size_t> logCount_{0};  // log_.size(), for waitForPackets

    bool inOnly_ = false;
    bool attached_ = false;
    std::uint64_t attachment_ = 0;
    std::size_t fifoCapacity_ = 4;
    bool noAnswer_ = false;
    double answerDelayMs_ = 0;
    OutFault outFault_ = OutFault::None;
    bool inStalled_ = false;

    Counters counters_;
    std::deque<FifoPacket> fifo_;
    std::size_t fifoHeadOffset_ = 0;  // bytes of the front packet already delivered
    std::vector<std::shared_ptr<TransferContext>> stuckOut_;
    std::deque<PendingIn> inQueue_;
    std::vector<DelayedAnswer> delayed_;
    std::vector<ReceivedPacket> log_;
    std::function<void(std::vector<std::uint8_t>)> tap_;

    std::unique_ptr<ClockThread> thread_;
};
