#pragma once
// The box's EEPROM firmware. The header B4 B4 A4 A4 FF v passes v to the
// encoder's EEPROM (the encoder decides whether it keeps it, EepromBehaviour).
// The header B5 B5 A5 A5 A5 A5 makes the box read the byte back from the
// encoder over and over and stream "AB v" pairs until the next command.
//
// The firmware counts pairs, not bytes: it commits a packet once no further
// pair fits the 512-byte endpoint buffer, so every packet is a short one of
// 255 pairs (510 bytes; 170 pairs with a noise byte before each) and every
// host transfer, however long, ends with one packet of pairs. One pair is read
// per record period.
#include "simbox/firmware.h"
#include "simbox/stream_source.h"

#include <cstdint>
#include <memory>

inline constexpr std::uint8_t kEepromPairMark = 0xAB;

class EepromPairSource final : public StreamSource {
public:
    EepromPairSource(std::shared_ptr<const EncoderModel> encoder, std::int64_t periodMicros, bool noise);
    RecordGroup group() const override { return RecordGroup::None; }
    // A pair, or a noise byte and a pair.
    int recordLength() const override { return noise_ ? 3 : 2; }
    std::int64_t periodMicros() const override { return period_; }
    bool framed() const override { return false; }
    StreamKind kind() const override { return StreamKind::EepromPairs; }
    int packetBytes() const override { return 510; }
    void writeRecord(std::int64_t benchMicros, bool checkFault, std::uint8_t* out) override;

private:
    std::shared_ptr<const EncoderModel> encoder_;
    std::int64_t period_;
    bool noise_;
    std::uint64_t reads_ = 0;
};

// The EEPROM firmware: B4 writes, B5 reads back until the next command.
class EepromFirmware final : public Firmware {
public:
    void install(CommandDispatcher& commands, const FirmwareContext& box) override;
    // The setting survives a replug.
    void reset() override {}

    // A line-noise byte (never AB) before every pair.
    void setNoise(bool on) { noise_ = on; }
    // The read-back as one packet of pairs the moment B5 arrives, instead
    // of a stream: a box that reads the encoder in one go.
    void setBurst(bool on) { burst_ = on; }

private:
    using Packet = CommandDispatcher::Packet;

    void onWrite(const Packet& p, std::int64_t now);
    void onRead(const Packet& p, std::int64_t now);
    void onAnyPacket(const Packet& p, std::int64_t now);

    const FirmwareContext* box_ = nullptr;
    bool noise_ = false;
    bool burst_ = false;
};
