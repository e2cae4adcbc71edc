#pragma once
// The calibration firmware of the simulated box: the encoder's side of the
// calibration exchange for the two kinds of calibratable encoder.
//
// Every answer is its own short IN packet, so each of the host's large reply
// transfers ends on exactly one item:
//  - a reply frame AA 00 AA code (the second byte is "any byte" to the host);
//  - an information tag and its value, [tag, value], tags 1..52 (encoder 1)
//    or 1..32 (encoder 2) in order, paced so that the FX2's 4-packet IN FIFO
//    holds them until the host's reader, started about 100 ms after the
//    request, catches up.
// A frame never carries a byte that an information read could take for a
// tag with a value behind it, so a stray reply cannot corrupt a record.
//
// The fills 3B and 2A mean different steps for the two kinds, so the kind of
// encoder on the box is a setting. The box's lock serialises take() and
// reset(); the settings have their own lock and may be changed from any
// thread at any time.
#include "simbox/firmware.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

enum class CalEncoderKind {
    CoarseFine,  // encoder 1: coarse and fine track
    Waking,      // encoder 2: woken up, calibrated against air, B1/B2 corrected
};

// Each answer the firmware can give; outcomes and delays are set per step.
enum class CalFirmwareStep {
    Enter,               // 1D: ':' (encoder 1 opens its calibration session; encoder 2 wakes)
    ConfigRequest,       // 16 while encoder 1's calibration configuration is missing: ':'
    ConfigWrite,         // 3D after the 39 header, encoder 1: '9'
    Information,         // 15: the information record, tag by tag
    CoarseEccentricity,  // 3B, encoder 1: B3
    FineAdc,             // 1A, encoder 1: A1, failure 22
    CoarseAdc,           // 2A, encoder 1: A2, failure 22
    FineRadius,          // 2B, encoder 1: B2, failure 22
    ZeroAlign1,          // 1C, encoder 1: C1
    WakeLine,            // 2D, encoder 2: 2D, the wake line is held
    WakeTurns,           // after Enter, encoder 2: B3 once the shaft has turned twice
    AirI,                // 49, encoder 2: 49
    AirP,                // 50, encoder 2: 50
    ZeroAlign2,          // 3B, encoder 2: 35, failure 1E
    B1,                  // 2A, encoder 2: B1 after the turn one way, failure 5A
    B2,                  // after B1: B2 after the turn back, failure 5A
    Count
};
inline constexpr int kCalStepCount = static_cast<int>(CalFirmwareStep::Count);

enum class CalOutcome {
    Pass,    // the step's success answer
    Fail,    // the step's failure code (only steps that have one)
    Silent,  // no answer at all
};

// What encoder 1 keeps in its memory; its information record carries it.
struct Encoder1Stored {
    std::uint32_t coarseZero = 123456;       // t1..t4
    std::uint32_t fineZero = 654321;         // t5..t8
    std::int32_t coarseSin = 1520;           // t9..t12
    std::int32_t coarseCos = -860;           // t13..t16
    std::uint64_t fineRadiusSquare = 4'000'000;  // t17..t24, the square of the fine radius (2000)
    std::uint32_t userZero = 0;              // t25..t28
    std::uint32_t temperatureCode = 3677;    // t29..t32, raw sensor code (25 degrees C)
    std::int32_t fineSin = 12;               // t33..t36
    std::int32_t fineCos = -8;               // t37..t40
    std::array<std::uint8_t, 4> firmware{0x01, 0x43, 0x15, 0xA4};  // t41..t44
    std::uint32_t coarseAdc = 2048;          // t45..t48
    std::uint32_t fineAdc = 2050;            // t49..t52
};

// What encoder 2 keeps in its memory.
struct Encoder2Stored {
    std::int32_t coarseSin = -2;             // t1..t4
    std::int32_t coarseCos = 3;              // t5..t8
    std::int32_t fineSin = 15;               // t9..t12
    std::int32_t fineCos = -11;              // t13..t16
    std::uint32_t zeroOffset = 1024;         // t17..t20
    std::uint32_t b1Angle = 0x40000000;      // t21..t24, full turn = 2^32 (90 degrees)
    std::uint32_t b2Angle = 0xC0000000;      // t25..t28 (270 degrees)
    std::uint32_t serial = 20160601;         // t29..t32
};

// An angle in degrees as the encoder stores it (a full turn is 2^32).
std::uint32_t calAngleCode(double degrees);
// Tag values t1..tN of the records, big-endian groups (index 0 unused).
std::array<std::uint8_t, 53> encoder1InfoTags(const Encoder1Stored& s);
std::array<std::uint8_t, 33> encoder2InfoTags(const Encoder2Stored& s);

class CalibrationFirmware final : public Firmware {
public:
    using Packet = std::vector<std::uint8_t>;
    // Puts one short packet into the IN FIFO at `dueMicros` of bench time.
    using Send = std::function<void(Packet bytes, std::int64_t dueMicros)>;

    // First bytes of the packets this firmware takes (fills and the 39 header).
    static const std::vector<std::uint8_t>& packetCodes();
    static Packet replyFrame(std::uint8_t code);
    static std::uint8_t successCode(CalFirmwareStep step);
    // 0 for a step that has no failure code.
    static std::uint8_t failureCode(CalFirmwareStep step);

    CalibrationFirmware();

    // --- Settings ---------------------------------------------------------
    void setKind(CalEncoderKind kind);
    CalEncoderKind kind() const;
    // Fail is refused (false) for a step without a failure code.
    bool setOutcome(CalFirmwareStep step, CalOutcome outcome);
    CalOutcome outcome(CalFirmwareStep step) const;
    void resetOutcomes();
    // Bench time from the packet to its answer; WakeTurns counts from the
    // 1D packet, B1 and B2 from the 2A packet.
    void setReplyDelayMs(CalFirmwareStep step, double ms);
    void setAllReplyDelaysMs(double ms);
    // The first information tag comes `firstMs` after the 15 packet, then
    // one every `intervalMs`.
    void setInfoPacing(double firstMs, double intervalMs);
    // Every `n`th tag of an information record (0: none) never reaches the
    // host, as on a line that drops a packet.
    void setLostInfoTagEvery(int n);
    void setStored1(const Encoder1Stored& s);
    void setStored2(const Encoder2Stored& s);
    Encoder1Stored stored1() const;
    Encoder2Stored stored2() const;
    // Encoder 1 loses its calibration configuration (its session stays
    // open): it asks for it with ':' at the next 16 and ignores steps until
    // the configuration is written again.
    void loseConfiguration();

    // --- What the firmware has seen ---------------------------------------
    bool sessionOpen() const;  // encoder 1: since 1D
    bool configured() const;   // encoder 1: since 3D of the open session
    bool woken() const;        // encoder 2: since 1D
    int lastCalibParam() const;  // the q of the last 39 39 q q q q, -1 before one

    // --- Firmware side, called with the box's lock held --------------------
    // Hands the packets of packetCodes() to take(), each answer to the pipe.
    void install(CommandDispatcher& commands, const FirmwareContext& box) override;
    void take(const Packet& packet, std::int64_t nowMicros, const Send& send);
    // Power-up state: the session, the wake and the last parameter are gone.
    void reset() override;

private:
    void answerLocked(CalFirmwareStep step, std::int64_t now, const Send& send) const;
    void sendInformationLocked(std::int64_t now, const Send& send) const;
    std::int64_t delayMicrosLocked(CalFirmwareStep step) const;

    mutable std::mutex mutex_;
    CalEncoderKind kind_ = CalEncoderKind::CoarseFine;
    std::array<CalOutcome, kCalStepCount> outcomes_{};
    std::array<double, kCalStepCount> delaysMs_{};
    double infoFirstMs_ = 50;
    double infoIntervalMs_ = 40;
    int lostTagEvery_ = 0;
    Encoder1Stored stored1_;
    Encoder2Stored stored2_;

    bool sessionOpen_ = false;
    bool configured_ = false;
    bool woken_ = false;
    int lastCalibParam_ = -1;
};
