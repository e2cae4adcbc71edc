#include "simbox/stream_framer.h"

#include <algorithm>
#include <array>

namespace {

// A stream further behind than this, whose records could only be lost (FIFO
// full, no transfer pending), skips ahead and counts them as lost.
constexpr std::int64_t kMaxCatchUpMicros = 200'000;

}  // namespace

StreamFramer::StreamFramer(Fx2Pipe& pipe) : pipe_(pipe) {}

void StreamFramer::start(std::unique_ptr<StreamSource> source, std::int64_t now, PacketSink sink)
{
    stream_.reset();
    streaming_ = false;
    group_ = RecordGroup::None;
    if (!source)
        return;
    auto s = std::make_unique<Stream>();
    s->nextRecordMicros = now + pipe_.answerDelayMicros();
    s->packet.reserve(Fx2Pipe::kPacketSize);
    s->sink = std::move(sink);
    streaming_ = true;
    group_ = source->group();
    kind_ = source->kind();
    blocksStarted_ = 0;
    pipe_.restartLossCount();
    s->source = std::move(source);
    stream_ = std::move(s);
}

void StreamFramer::stop()
{
    stream_.reset();
    streaming_ = false;
}

void StreamFramer::reset()
{
    stream_.reset();
    streaming_ = false;
    group_ = RecordGroup::None;
    kind_ = StreamKind::Records;
    blocksStarted_ = 0;
}

StreamFramer::Packet StreamFramer::takePartialPacket()
{
    if (!stream_)
        return {};
    Packet tail = std::move(stream_->packet);
    stream_->packet = Packet{};
    return tail;
}

void StreamFramer::corruptBlocks(int count, int bytesPerBlock)
{
    corruptBlocks_ = count;
    corruptBytesPerBlock_ = std::clamp(bytesPerBlock, 1, kStreamBlockSize - 4);
}

void StreamFramer::injectCrcErrorEvery(int n)
{
    crcEvery_ = std::max(0, n);
    spiRecords_ = 0;
}

bool StreamFramer::takeFault(int& counter)
{
    if (counter == 0)
        return false;
    if (counter > 0)
        --counter;
    return true;
}

void StreamFramer::produce(std::int64_t now)
{
    if (!stream_)
        return;
    Stream& s = *stream_;
    const std::int64_t period = s.source->periodMicros();
    if (now - s.nextRecordMicros > kMaxCatchUpMicros && pipe_.wouldLose()) {
        // Far behind, and everything read meanwhile would be lost anyway:
        // count it instead of producing it.
        const std::int64_t skip = (now - s.nextRecordMicros) / period;
        const auto lost = static_cast<std::uint64_t>(skip * s.source->recordLength()) + s.packet.size();
        // As many packets as those bytes would have filled, each one lost to
        // the full FIFO just as the pipe would have counted it.
        const auto packetBytes = static_cast<std::uint64_t>(s.source->packetBytes());
        pipe_.countLost(lost, (lost + packetBytes - 1) / packetBytes);
        s.nextRecordMicros += skip * period;
        s.packet.clear();
        s.blockPos = 0;
    }
    while (s.nextRecordMicros <= now) {
        emitRecord(s.nextRecordMicros);
        s.nextRecordMicros += period;
    }
}

std::int64_t StreamFramer::nextPacketDue() const
{
    if (!stream_)
        return Clock::kNever;
    // The record that completes the packet being filled.
    const Stream& s = *stream_;
    const int len = s.source->recordLength();
    const bool framed = s.source->framed();
    std::size_t bytes = s.packet.size();
    int pos = s.blockPos;
    std::int64_t records = 0;
    while (bytes < static_cast<std::size_t>(s.source->packetBytes())) {
        ++records;
        if (framed && pos == 0) {
            bytes += 4;
            pos = 4;
        }
        bytes += static_cast<std::size_t>(len);
        pos += len;
        if (framed && pos + len > kStreamBlockSize) {
            bytes += static_cast<std::size_t>(kStreamBlockSize - pos);
            pos = 0;
        }
    }
    return s.nextRecordMicros + (records - 1) * s.source->periodMicros();
}

void StreamFramer::startBlock()
{
    Stream& s = *stream_;
    ++blocksStarted_;
    s.flips.reset();
    s.blockSyncless = takeFault(synclessBlocks_);
    if (takeFault(corruptBlocks_)) {
        const int len = s.source->recordLength();
        const int recordBytes = (kStreamBlockSize - 4) / len * len;
        std::uniform_int_distribution<int> at(4, 4 + recordBytes - 1);
        const int count = std::min(corruptBytesPerBlock_, recordBytes);
        while (static_cast<int>(s.flips.count()) < count)
            s.flips.set(static_cast<std::size_t>(at(rng_)));
    }
    static constexpr std::array<std::uint8_t, 4> kNoSync{0, 0, 0, 0};
    append(s.blockSyncless ? kNoSync.data() : kBlockSync.data(), 4);
}

void StreamFramer::emitRecord(std::int64_t t)
{
    Stream& s = *stream_;
    const bool framed = s.source->framed();
    const int len = s.source->recordLength();
    if (framed && s.blockPos == 0)
        startBlock();
    std::array<std::uint8_t, 32> record{};
    bool checkFault = false;
    if (s.source->group() == RecordGroup::Spi) {
        const bool counted = takeFault(crcErrors_);
        const bool nth = crcEvery_ > 0 && ++spiRecords_ % static_cast<std::uint64_t>(crcEvery_) == 0;
        checkFault = counted || nth;
    }
    s.source->writeRecord(t, checkFault, record.data());
    append(record.data(), len);
    if (framed && s.blockPos + len > kStreamBlockSize) {
        // The rest of the block, too short for another record, is zero.
        static constexpr std::array<std::uint8_t, kStreamBlockSize> kZeros{};
        append(kZeros.data(), kStreamBlockSize - s.blockPos);
    }
}

void StreamFramer::append(const std::uint8_t* bytes, int n)
{
    Stream& s = *stream_;
    const bool framed = s.source->framed();
    for (int i = 0; i < n; ++i) {
        std::uint8_t b = bytes[i];
        if (framed) {
            if (s.flips.test(static_cast<std::size_t>(s.blockPos)))
                b ^= 0xFF;
            s.blockPos = (s.blockPos + 1) % kStreamBlockSize;
        }
        s.packet.push_back(b);
        if (s.packet.size() >= static_cast<std::size_t>(s.source->packetBytes())) {
            if (s.sink)
                s.sink(std::move(s.packet));
            else
                pipe_.commit(std::move(s.packet));
            s.packet = Packet{};
            s.packet.reserve(Fx2Pipe::kPacketSize);
        }
    }
}
