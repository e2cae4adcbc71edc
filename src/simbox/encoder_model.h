#pragma once
// The encoder under test, as the simulated box sees it: a shaft turning at a
// set speed, read as [turns][single-turn position][status], plus the analog
// sin/cos/Z tracks of a sin/cos encoder. Everything is a function of bench
// time (benchClock().nowMicros), so the box can compute a record for the exact
// moment it was taken even when its thread runs late.
//
// Thread-safe: the box's firmware thread reads it while a test changes it.
#include "simbox/record_encoding.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

struct EncoderFields {
    std::int64_t turns = 0;       // signed, not wrapped to the turn-count bits
    std::uint64_t position = 0;   // single-turn position, 0 .. 2^singleTurnBits - 1
    std::uint32_t status = 0;     // status bits as set
};

// The interface settings the box took from the last "::" packet.
struct BoxInterfaceConfig {
    // Defaults: what the box works with before its first "::" packet.
    int clockTurnByte = 18;  // byte 2: clock code + turn mode
    int protocolCode = 0;    // byte 3
    int crcConfig = 0xA1;    // byte 4
    int frameBits = 34;      // byte 5 bits 0..5, plus 1
    bool crcInverted = true;   // byte 5 bit 6
    bool gray = false;         // byte 5 bit 7
    // Clock codes are even, so bit 0 of byte 2 is the turn mode.
    bool multiturn() const { return (clockTurnByte & 1) != 0; }
    RecordGroup group() const { return recordGroupOf(protocolCode); }

    static BoxInterfaceConfig fromHeader(const std::uint8_t* header6);
};

// The raw value the box puts into a record, before its byte layout, and for
// SPI the 6-bit CRC of the data.
struct RecordValue {
    std::uint64_t value = 0;
    std::uint8_t crc = 0;
};

// Shape of the analog tracks. Volts on the box's 0..5 V ADC inputs.
// SIN+ = sinPlusOffset + sinAmplitude * sin(theta),
// COS+ = cosPlusOffset + cosAmplitude * sin(theta + phase); each minus track
// mirrors its plus track about its own offset, with the plus track's
// amplitude and phase unless it has its own.
struct SinCosShape {
    double sinPlusOffset = 2.5;
    double sinMinusOffset = 2.5;
    double cosPlusOffset = 2.5;
    double cosMinusOffset = 2.5;
    double sinAmplitude = 1.0;   // SIN+ peak, so peak-to-peak is twice this
    double cosAmplitude = 1.0;   // COS+ peak
    double phaseDegrees = 90.0;  // COS+ leads SIN+ by this much
    std::optional<double> sinMinusAmplitude;
    std::optional<double> cosMinusAmplitude;
    std::optional<double> minusPhaseDegrees;  // COS- against SIN-
    double zOffset = 2.5;
    double zAmplitude = 2.0;     // Z+ = offset +/- amplitude; Z- the complement
    double noiseVolts = 0.0;     // standard deviation of gaussian noise on every track
    int periodsPerTurn = 2048;   // signal periods per mechanical turn
};

// Shaft speed at which `samples` samples taken every `samplePeriodMicros`
// span `periods` signal periods of an encoder with `periodsPerTurn`.
double sinCosRpmForPeriods(double periods, int samples, std::int64_t samplePeriodMicros, int periodsPerTurn);

// A position jump armed on the encoder: the first time the shaft passes
// `atDegrees` (of the single-turn position the encoder reports), the
// absolute position steps by `stepDegrees`.
struct AngleJump {
    double atDegrees = 0.0;
    double stepDegrees = 0.0;
};
struct FiredJump {
    AngleJump jump;
    std::int64_t benchMicros = 0;  // when the shaft passed the angle
};

// What the encoder does with an EEPROM write and answers to a read-back.
enum class EepromBehaviour {
    Store,   // keeps the byte written
    Ignore,  // keeps its old content
    Short,   // keeps the byte, but every 127th read answers its complement
};

struct SinCosSample {
    std::array<double, 6> volts{};             // SIN+, SIN-, COS+, COS-, Z+, Z-
    std::array<std::uint8_t, 6> codes{};       // 8-bit ADC codes, volts = code * 5 / 256
    std::uint32_t count = 0;                   // 24-bit quadrature count
};

class EncoderModel {
public:
    EncoderModel();

    // Shaft speed in revolutions per minute; 0 is stationary, negative turns
    // backwards. The position keeps its value at the moment of the change.
    void setSpeedRpm(double rpm);
    double speedRpm() const;

    // Single-turn resolution, turn-count bits and status bits. Puts the shaft
    // back to position 0 with no reset offsets.
    void setResolution(int singleTurnBits, int turnBits, int statusBits);
    int singleTurnBits() const;
    int turnBits() const;
    int statusBits() const;
    // Bits of the encoder's own frame: turns + single-turn + status.
    int frameBits() const;

    void setStatus(std::uint32_t value);
    // Sets the absolute position (turns * 2^singleTurnBits + position) now.
    void setPositionCounts(std::int64_t counts);
    // Injects a position jump of `counts` single-turn steps now.
    void jumpBy(std::int64_t counts);
    // What the box's reset commands make the encoder do: single-turn position,
    // or turn count, reads 0 from now on.
    void resetAngle();
    void resetTurns();

    void setSinCos(const SinCosShape& shape);
    SinCosShape sinCos() const;

    EncoderFields fieldsAt(std::int64_t benchMicros) const;
    EncoderFields fields() const;

    // The encoder's frame: turns (wrapped to turnBits), position, status, field
    // 1 highest, frameBits() bits.
    std::uint64_t frameAt(std::int64_t benchMicros) const;

    // The value the box puts into a record of `group`, configured with `cfg`:
    //  - BISS/SSI: the frame as read with cfg.frameBits clocks (extra clocks
    //    read zeros, fewer clocks drop the low bits);
    //  - SPI: that data counted down from bit 47 of a 48-bit word, followed by
    //    its 6-bit CRC (inverted when cfg.crcInverted); `crc` holds the CRC;
    //  - RS485 and RS485+AB: turns from bit 32, position from bit 8, status in
    //    the low byte;
    //  - TTL/HTL: 24-bit turn counter (signed, wrapped) above 24-bit position;
    //  - receive-only: the low 32 bits of the frame read with cfg.frameBits;
    //  - sin/cos: the 24-bit count.
    RecordValue recordValueAt(RecordGroup group, const BoxInterfaceConfig& cfg,
                              std::int64_t benchMicros) const;

    // Field values the workbench shows for a record of `group` when its field
    // layout matches the encoder: [turns][position][status], leaving out
    // fields of width 0. RS485 groups give the whole status byte; TTL/HTL give
    // [|turns|][position]; sin/cos gives [count]. Assumes cfg.frameBits equals
    // frameBits() for BISS, SSI, SPI and receive-only.
    std::vector<std::int64_t> expectedFieldsAt(RecordGroup group, std::int64_t benchMicros) const;

    SinCosSample sinCosAt(std::int64_t benchMicros) const;

    // --- Position jumps at angles -----------------------------------------
    // Armed from now on; each fires once. Speed, position and resolution
    // changes keep the armed jumps.
    void addAngleJump(const AngleJump& jump);
    void clearAngleJumps();
    // The jumps that fired up to `benchMicros`, in the order they fired.
    std::vector<FiredJump> firedJumpsUntil(std::int64_t benchMicros) const;

    // --- EEPROM ------------------------------------------------------------
    // An erased EEPROM reads 0xFF. The content survives power cycles.
    void setEepromBehaviour(EepromBehaviour behaviour);
    EepromBehaviour eepromBehaviour() const;
    void writeEeprom(std::uint8_t value);
    std::uint8_t eepromContent() const;
    // The answer to read number `index` (from 0) of a read-back.
    std::uint8_t readEeprom(std::uint64_t index) const;

private:
    std::int64_t countsAtLocked(std::int64_t benchMicros) const;
    EncoderFields fieldsAtLocked(std::int64_t benchMicros) const;
    std::uint64_t frameOfLocked(const EncoderFields& f) const;
    SinCosSample sinCosAtLocked(std::int64_t benchMicros) const;
    void reanchorLocked(std::int64_t now);
    void rebaseLocked(std::int64_t now, std::int64_t baseCounts);

    // Jumps fire lazily, whenever a position at or after their time is asked
    // for; the firing time follows from the linear motion, so the result does
    // not depend on when or how often the model is asked.
    struct ArmedJump {
        AngleJump jump;
        std::int64_t armedMicros = 0;
    };
    struct AppliedJump {
        ArmedJump armed;
        std::int64_t benchMicros = 0;
        std::int64_t counts = 0;
    };
    void settleJumpsLocked(std::int64_t t) const;
    // Puts jumps that fired after `now` back to armed (the motion changes now).
    void unfireAfterLocked(std::int64_t now);
    std::int64_t jumpOffsetAtLocked(std::int64_t t) const;

    mutable std::mutex mutex_;
    double rpm_ = 0.0;
    int singleTurnBits_ = 17;
    int turnBits_ = 15;
    int statusBits_ = 2;
    std::uint32_t status_ = 0;
    // counts(t) = baseCounts_ + floor(countsPerMicro_ * (t - baseMicros_)); the
    // fields are taken from counts - zero_.
    std::int64_t baseCounts_ = 0;
    std::int64_t baseMicros_ = 0;
    double countsPerMicro_ = 0.0;
    std::int64_t zero_ = 0;
    SinCosShape shape_;
    mutable std::vector<ArmedJump> armedJumps_;
    mutable std::vector<AppliedJump> appliedJumps_;  // in time order; not yet folded into baseCounts_
    mutable std::vector<FiredJump> firedJumps_;
    EepromBehaviour eepromBehaviour_ = EepromBehaviour::Store;
    std::uint8_t eeprom_ = 0xFF;
};
