#pragma once
// The box's stream framer. While a stream runs it takes one record per
// record period of bench time from the stream's source, frames framed
// sources' records in 1024-byte blocks behind AA 55 55 AA (the rest of a
// block too short for another record is zero) and packs the bytes into USB
// packets for the IN FIFO. Block and record faults are injected here.
//
// Every member is called with the box's lock held.
#include "simbox/fx2_pipe.h"
#include "simbox/stream_source.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

class StreamFramer {
public:
    using Packet = std::vector<std::uint8_t>;
    // Takes each full packet of a stream; without one they go to the IN FIFO.
    using PacketSink = std::function<void(Packet packet)>;

    explicit StreamFramer(Fx2Pipe& pipe);

    // Replaces any running stream with `source`'s; its first record is due
    // after the injected answer delay. A null source only ends the stream.
    void start(std::unique_ptr<StreamSource> source, std::int64_t now, PacketSink sink = {});
    // The packet being filled is abandoned: the host sees whole packets only.
    void stop();
    // Power-up: no stream, nothing counted. Injected faults stay armed.
    void reset();

    // The running stream's source; null when none runs.
    const StreamSource* source() const { return stream_ ? stream_->source.get() : nullptr; }
    bool runs(StreamKind kind) const { return stream_ && stream_->source->kind() == kind; }
    // Takes the packet being filled away from the running stream.
    Packet takePartialPacket();

    // Emits every record due by `now`.
    void produce(std::int64_t now);
    // Bench time of the record that completes the packet being filled;
    // Clock::kNever without a stream.
    std::int64_t nextPacketDue() const;

    // As the box reports them: the last stream's group and kind stay after
    // it stopped.
    bool streaming() const { return streaming_; }
    RecordGroup group() const { return group_; }
    StreamKind kind() const { return kind_; }
    std::uint64_t blocksStarted() const { return blocksStarted_; }

    // --- Faults (see SimBox) -------------------------------------------------
    void corruptBlocks(int count, int bytesPerBlock);
    void dropBlockSync(int count) { synclessBlocks_ = count; }
    void injectCrcErrors(int count) { crcErrors_ = count; }
    void injectCrcErrorEvery(int n);

private:
    struct Stream {
        std::unique_ptr<StreamSource> source;
        PacketSink sink;
        std::int64_t nextRecordMicros = 0;
        int blockPos = 0;  // write position in the current block
        bool blockSyncless = false;
        std::bitset<kStreamBlockSize> flips;  // corrupted offsets of the current block
        Packet packet;                        // USB packet being filled
    };

    void emitRecord(std::int64_t recordMicros);
    void startBlock();
    void append(const std::uint8_t* bytes, int n);
    // Counts one use of a fault armed for `counter` uses (-1: until disarmed).
    static bool takeFault(int& counter);

    Fx2Pipe& pipe_;
    std::unique_ptr<Stream> stream_;
    bool streaming_ = false;
    RecordGroup group_ = RecordGroup::None;
    StreamKind kind_ = StreamKind::Records;
    std::uint64_t blocksStarted_ = 0;  // of the current (or last) stream

    int corruptBlocks_ = 0;
    int corruptBytesPerBlock_ = 8;
    int synclessBlocks_ = 0;
    int crcErrors_ = 0;
    int crcEvery_ = 0;
    std::uint64_t spiRecords_ = 0;
    std::mt19937 rng_{0x5EEDu};
};
