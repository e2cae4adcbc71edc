#pragma once
// "Write eepprom ": stores the typed byte in the encoder's EEPROM and checks
// that the encoder reports it. A seven-second sequence on timer 6 sends the
// write header, power-cycles the encoder, asks the box to read the byte back
// and scans one bounded transfer of "AB v" pairs for the verdict lamp.
#include "bench/bench_context.h"
#include "bench/outcome.h"

#include <atomic>

class SettingsEditor;
#include <cstdint>

class EepromWrite {
public:
    EepromWrite(BenchContext& ctx, SettingsEditor& editor) : ctx_(ctx), editor_(editor) {}

    // The button: starts the sequence with the typed value, or stops it
    // when it runs.
    void press();
    // Starts the sequence that stores `value` (0..255); ends with an
    // Operation::Eeprom outcome.
    void start(int value);
    // Ends a running sequence without a verdict.
    void stop();
    // Timer 6: one step of the sequence.
    void tick();
    bool running() const { return running_.load(); }
    // Stop-all: the sequence is over; the read-back worker's transfer is
    // cancelled by stop-all itself.
    void reset();

    // The read-back worker's body.
    void runReadBack(int value);

private:
    // Lowers every command and mode flag the sequence may have raised.
    void lowerSequenceFlags();
    // Gives back the buttons the sequence took and ends it; false when it had
    // ended already.
    bool finish();
    // The guards of a start; a refusal is concluded.
    bool startGuards();

    BenchContext& ctx_;
    SettingsEditor& editor_;
    std::uint64_t ticks_ = 0;              // bench thread only
    int value_ = 0;                        // bench thread only
    std::atomic<bool> verified_{false};    // written by the read-back worker
    std::atomic<bool> running_{false};     // the sequence runs (timer 6)
};
