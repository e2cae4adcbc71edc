#pragma once
// EEPROM write and verify: the scan of the read-back stream and the timeline
// of the seven-second sequence on timer 6. Pure; the EEPROM operation owns
// the timer, the packets and the read-back transfer.
#include <cstdint>
#include <span>

// While the read-back request is held the box answers with pairs AB v, v the
// byte read from the encoder; other bytes may lie between the pairs.
inline constexpr std::uint8_t kEepromPairMark = 0xAB;
// This many consecutive pairs carrying the written value verify it.
inline constexpr int kEepromVerifyRun = 127;
// The read-back transfer's size.
inline constexpr int kEepromReadBackBytes = 40960;

// Counts consecutive matching pairs over one or more transfers. An AB byte
// opens a pair and the byte after it is its value, whatever it is (so for
// value 171 the pair AB AB counts once); a pair of another value starts the
// count again; bytes outside pairs are skipped and do not break the run.
class EepromReadBack {
public:
    // The value written, 0..255; any other value never matches a byte.
    explicit EepromReadBack(int value) : value_(value) {}

    // Scans the next bytes; true once the run has reached 127. A pair split
    // across two calls is completed by the next one.
    bool feed(std::span<const std::uint8_t> bytes);

    bool verified() const { return verified_; }
    int run() const { return run_; }

private:
    int value_;
    int run_ = 0;
    bool pendingMark_ = false;
    bool verified_ = false;
};

// One transfer scanned on its own: an AB in the last byte has no value and
// does not count.
bool eepromReadBackVerified(std::span<const std::uint8_t> transfer, int value);

// Timer 6 ticks every 500 ms from the press.
inline constexpr int kEepromTickMs = 500;

enum class EepromStep {
    None,        // a blink tick only
    Write,       // tick 4: hold the write command B4 B4 A4 A4 FF v
    PowerCycle,  // tick 8: drop the write command, power off 100 ms, power on
    ReadBack,    // tick 12: power-on pulse ends, read-back request, drain, worker
    Verdict,     // tick 14 (and any later tick): lamp verdict, closing power-on pulse
};

inline constexpr std::uint64_t kEepromWriteTick = 4;
inline constexpr std::uint64_t kEepromPowerCycleTick = 8;
inline constexpr std::uint64_t kEepromReadBackTick = 12;
inline constexpr std::uint64_t kEepromVerdictTick = 14;

// The step of the tick that has just brought eepromTicks to `tick`.
EepromStep eepromStepAt(std::uint64_t tick);

// The EEPROM lamp blinks while the sequence runs: lit red on even ticks.
bool eepromLampLit(std::uint64_t tick);
