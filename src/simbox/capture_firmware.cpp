#include "simbox/capture_firmware.h"

#include "simbox/sim_box.h"

#include <algorithm>

int captureRecordLengthOf(RecordGroup group)
{
    switch (group) {
    case RecordGroup::SyncSerial:
    case RecordGroup::Incremental: return 6;
    case RecordGroup::Spi:
    case RecordGroup::Rs485:
    case RecordGroup::Rs485Ab:
    case RecordGroup::SinCos:
    case RecordGroup::RxOnly: return 10;
    case RecordGroup::None: break;
    }
    return 0;
}

void encodeRs485CaptureRecord(std::uint64_t v, std::uint8_t* out)
{
    auto byteOf = [v](int shift) { return static_cast<std::uint8_t>((v >> shift) & 0xFF); };
    out[7] = byteOf(48);
    out[4] = byteOf(40);
    out[5] = byteOf(32);
    out[3] = byteOf(24);
    out[0] = byteOf(16);
    out[1] = byteOf(8);
    out[8] = byteOf(0);
    out[2] = out[6] = out[9] = 0;
}

CaptureRecordSource::CaptureRecordSource(std::shared_ptr<const EncoderModel> encoder,
                                         const BoxInterfaceConfig& config, std::int64_t periodMicros)
    : encoder_(std::move(encoder)), config_(config), group_(config.group()), period_(periodMicros)
{
}

void CaptureRecordSource::writeRecord(std::int64_t t, bool checkFault, std::uint8_t* out)
{
    if (group_ == RecordGroup::SinCos) {
        const SinCosSample s = encoder_->sinCosAt(t);
        encodeSinCosRecord(s.codes, s.count, out);
        return;
    }
    const RecordValue r = encoder_->recordValueAt(group_, config_, t);
    switch (group_) {
    case RecordGroup::SyncSerial:
    case RecordGroup::Incremental: encodeSixByteRecord(r.value, out); break;
    case RecordGroup::Spi: {
        // The box sends each record's CRC byte ahead of the next record.
        out[0] = previousCrc_;
        for (int i = 0; i < 6; ++i)
            out[1 + i] = static_cast<std::uint8_t>((r.value >> (40 - 8 * i)) & 0xFF);
        out[7] = out[8] = out[9] = 0;
        previousCrc_ = checkFault ? static_cast<std::uint8_t>(r.crc ^ 0x3F) : r.crc;
        break;
    }
    case RecordGroup::Rs485: encodeRs485CaptureRecord(r.value, out); break;
    case RecordGroup::Rs485Ab: encodeRs485AbRecord(r.value, out); break;
    case RecordGroup::RxOnly:
        encodeRxOnlyRecord(static_cast<std::uint32_t>(r.value), out);
        std::fill(out + 4, out + 10, std::uint8_t{0});
        break;
    case RecordGroup::SinCos:
    case RecordGroup::None: break;
    }
}

// --- SimBox: capture firmware ------------------------------------------------

void SimBox::setCaptureAckStatus(std::optional<int> status)
{
    std::lock_guard lock(mutex_);
    capture_.ackStatus = status;
}

void SimBox::setCaptureAckDelayMs(double ms)
{
    std::lock_guard lock(mutex_);
    capture_.ackDelayMs = std::max(0.0, ms);
}

void SimBox::setCaptureAckAbsent(bool absent)
{
    std::lock_guard lock(mutex_);
    capture_.ackAbsent = absent;
}

void SimBox::injectCaptureOverflow(int packets)
{
    std::lock_guard lock(mutex_);
    capture_.overflowPackets = std::max(0, packets);
}

std::vector<std::uint8_t> SimBox::captureLog() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> all;
    for (const auto& t : capture_.transfers)
        all.insert(all.end(), t.begin(), t.end());
    return all;
}

std::vector<std::vector<std::uint8_t>> SimBox::captureTransfers() const
{
    std::lock_guard lock(mutex_);
    return capture_.transfers;
}

std::uint64_t SimBox::captureAcksSent() const
{
    std::lock_guard lock(mutex_);
    return capture_.acksSent;
}

void SimBox::clearCaptureLog()
{
    std::lock_guard lock(mutex_);
    capture_.transfers.clear();
}

void SimBox::onCapture(const Packet&, std::int64_t now)
{
    if (!state_.powered)
        return;
    // Every packet sent while the capture runs repeats the 5A fill.
    if (streamKindIs(StreamKind::Capture))
        return;
    if (state_.config.group() == RecordGroup::None) {
        stopStreamLocked();
        return;
    }
    startStreamLocked(std::make_unique<CaptureRecordSource>(encoder_, state_.config, recordPeriod_), now);
}

void SimBox::commitCapturePacketLocked(Packet packet)
{
    if (capture_.overflowPackets > 0) {
        --capture_.overflowPackets;
        state_.lostBytes += packet.size();
        state_.lostBytesTotal += packet.size();
        return;
    }
    commitPacketLocked(std::move(packet), false, true);
}

void SimBox::endCaptureLocked(std::int64_t now)
{
    if (!streamKindIs(StreamKind::Capture) || noAnswer_)
        return;
    // INPKTEND on the partial buffer: the host's transfer ends here. An empty
    // buffer goes out as a zero-length packet, which ends it just the same.
    Packet tail = std::move(stream_->packet);
    stream_->packet = Packet{};
    commitPacketLocked(std::move(tail), true, true);

    if (capture_.ackAbsent)
        return;
    const int status = capture_.ackStatus.value_or(state_.lostBytes > 0 ? kCaptureOverflowStatus : 0);
    Packet ack{0x6A, 0x00, 0x6A, static_cast<std::uint8_t>(status)};
    ++capture_.acksSent;
    ++state_.answersSent;
    const auto due = now + static_cast<std::int64_t>(capture_.ackDelayMs * 1000.0);
    if (due > now)
        delayed_.push_back({due, std::move(ack), true});
    else
        commitPacketLocked(std::move(ack), true);
}

void SimBox::logCaptureLocked(PendingIn& in)
{
    if (!in.capture)
        return;
    capture_.transfers.push_back(std::move(in.captured));
    in.captured.clear();
    in.capture = false;
}
