#include "simbox/eeprom_firmware.h"

#include "simbox/fx2_pipe.h"
#include "simbox/stream_framer.h"

EepromPairSource::EepromPairSource(std::shared_ptr<const EncoderModel> encoder, std::int64_t periodMicros,
                                   bool noise)
    : encoder_(std::move(encoder)), period_(periodMicros), noise_(noise)
{
}

void EepromPairSource::writeRecord(std::int64_t, bool, std::uint8_t* out)
{
    const std::uint64_t n = reads_++;
    if (noise_) {
        // Whatever the line picks up, as long as it is not the pair mark.
        auto b = static_cast<std::uint8_t>((n * 37 + 11) & 0xFF);
        if (b == kEepromPairMark)
            b = 0x00;
        *out++ = b;
    }
    out[0] = kEepromPairMark;
    out[1] = encoder_->readEeprom(n);
}

// --- The firmware ---------------------------------------------------------------

void EepromFirmware::install(CommandDispatcher& commands, const FirmwareContext& box)
{
    box_ = &box;
    commands.watch([this](const Packet& p, std::int64_t now) { onAnyPacket(p, now); });
    commands.on(0xB4, this, &EepromFirmware::onWrite);
    commands.on(0xB5, this, &EepromFirmware::onRead);
}

void EepromFirmware::onAnyPacket(const Packet& p, std::int64_t)
{
    // The read-back runs until the next command, whatever the packet holds.
    if (box_->framer.runs(StreamKind::EepromPairs) && !p.empty() && p[0] != 0xB5)
        box_->framer.stop();
}

void EepromFirmware::onWrite(const Packet& p, std::int64_t)
{
    if (p[1] != 0xB4 || p[2] != 0xA4 || p[3] != 0xA4 || p[4] != 0xFF)
        return;
    if (!box_->port.powered)
        return;  // an unpowered encoder takes no write
    box_->port.encoder->writeEeprom(p[5]);
}

void EepromFirmware::onRead(const Packet& p, std::int64_t now)
{
    if (p[1] != 0xB5 || p[2] != 0xA5 || p[3] != 0xA5 || p[4] != 0xA5 || p[5] != 0xA5)
        return;
    const EncoderPort& port = box_->port;
    if (!port.powered || box_->framer.runs(StreamKind::EepromPairs))
        return;
    auto pairs = std::make_unique<EepromPairSource>(port.encoder, port.recordPeriodMicros, noise_);
    if (burst_) {
        Packet packet(static_cast<std::size_t>(pairs->packetBytes()));
        const auto length = static_cast<std::size_t>(pairs->recordLength());
        for (std::size_t at = 0; at + length <= packet.size(); at += length)
            pairs->writeRecord(now, false, packet.data() + at);
        box_->pipe.sendAnswer(std::move(packet), now);
        return;
    }
    box_->framer.start(std::move(pairs), now);
}
