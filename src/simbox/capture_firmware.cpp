#include "simbox/capture_firmware.h"

#include "simbox/fx2_pipe.h"
#include "simbox/stream_framer.h"

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

// --- The firmware ---------------------------------------------------------------

void CaptureFirmware::install(CommandDispatcher& commands, const FirmwareContext& box)
{
    box_ = &box;
    commands.on(0x5A, this, &CaptureFirmware::onCapture);
    commands.on(0x6A, this, &CaptureFirmware::onStop);
    box.pipe.setTap([this](std::vector<std::uint8_t> bytes) { transfers_.push_back(std::move(bytes)); });
}

void CaptureFirmware::setAckDelayMs(double ms)
{
    ackDelayMs_ = std::max(0.0, ms);
}

void CaptureFirmware::injectOverflow(int packets)
{
    overflowPackets_ = std::max(0, packets);
}

std::vector<std::uint8_t> CaptureFirmware::log() const
{
    std::vector<std::uint8_t> all;
    for (const auto& t : transfers_)
        all.insert(all.end(), t.begin(), t.end());
    return all;
}

void CaptureFirmware::onCapture(const Packet&, std::int64_t now)
{
    const EncoderPort& port = box_->port;
    if (!port.powered)
        return;
    // Every packet sent while the capture runs repeats the 5A fill.
    if (box_->framer.runs(StreamKind::Capture))
        return;
    if (port.config.group() == RecordGroup::None) {
        box_->framer.stop();
        return;
    }
    box_->framer.start(std::make_unique<CaptureRecordSource>(port.encoder, port.config, port.recordPeriodMicros),
                       now, [this](Packet packet) { commitPacket(std::move(packet)); });
}

void CaptureFirmware::commitPacket(Packet packet)
{
    if (overflowPackets_ > 0) {
        --overflowPackets_;
        box_->pipe.countLost(packet.size(), 0);
        return;
    }
    box_->pipe.commit(std::move(packet), false, true);
}

// Runs before the stop of the interface firmware, while the capture's
// stream still runs.
void CaptureFirmware::onStop(const Packet&, std::int64_t now)
{
    Fx2Pipe& pipe = box_->pipe;
    if (!box_->framer.runs(StreamKind::Capture) || pipe.silent())
        return;
    // INPKTEND on the partial buffer: the host's transfer ends here. An empty
    // buffer goes out as a zero-length packet, which ends it just the same.
    pipe.commit(box_->framer.takePartialPacket(), true, true);

    if (ackAbsent_)
        return;
    const int status = ackStatus_.value_or(pipe.counters().lostBytes > 0 ? kCaptureOverflowStatus : 0);
    ++acksSent_;
    pipe.sendAcknowledgement({0x6A, 0x00, 0x6A, static_cast<std::uint8_t>(status)}, now,
                             now + static_cast<std::int64_t>(ackDelayMs_ * 1000.0));
}
