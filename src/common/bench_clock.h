#pragma once
// One time base for the workbench's fixed waits and the simulated box.
//
// The box protocol is timed in milliseconds (pulses of 10..1000 ms, records
// every 0.125 ms). Tests speed the whole bench up by one factor so that the
// waits on the GUI thread, the completion waits of transfers and the simulated
// box's record clock stay in proportion.
#include <chrono>
#include <cstdint>

namespace benchclock {

// Bench time runs `factor` times faster than real time (1 = real time).
void setSpeed(double factor);
double speed();

// Bench time in microseconds since the process started.
std::int64_t nowMicros();

// Real duration that corresponds to `benchMs` milliseconds of bench time.
std::chrono::nanoseconds toReal(double benchMs);

}  // namespace benchclock

// Blocking wait on the calling thread for `ms` bench milliseconds. Used for the
// fixed waits of command handlers and timer ticks: nothing else runs meanwhile.
void benchSleep(double ms);
