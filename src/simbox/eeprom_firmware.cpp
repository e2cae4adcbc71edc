#include "simbox/eeprom_firmware.h"

#include "simbox/sim_box.h"

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

// --- SimBox: EEPROM firmware ----------------------------------------------------

void SimBox::setEepromNoise(bool on)
{
    std::lock_guard lock(mutex_);
    eeprom_.noise = on;
}

void SimBox::onEepromWrite(const Packet& p, std::int64_t)
{
    if (p[1] != 0xB4 || p[2] != 0xA4 || p[3] != 0xA4 || p[4] != 0xFF)
        return;
    if (!state_.powered)
        return;  // an unpowered encoder takes no write
    encoder_->writeEeprom(p[5]);
}

void SimBox::onEepromRead(const Packet& p, std::int64_t now)
{
    if (p[1] != 0xB5 || p[2] != 0xA5 || p[3] != 0xA5 || p[4] != 0xA5 || p[5] != 0xA5)
        return;
    if (!state_.powered || streamKindIs(StreamKind::EepromPairs))
        return;
    startStreamLocked(std::make_unique<EepromPairSource>(encoder_, recordPeriod_, eeprom_.noise), now);
}
