#pragma once
// The bench's timers 0..6. Each belongs to one operation, which installs its
// tick; a tick of an operation that has ended meanwhile (a timer stopped from
// a worker stops a little later) only stops the timer.
#include <array>
#include <functional>

enum TimerId { kTimerAbsTest = 0, kTimerCapture, kTimerSinCos, kTimerCalibration, kTimerForce,
               kTimerAutoSave, kTimerEeprom, kTimerCount };
inline constexpr int kTimerPeriodMs[kTimerCount] = {300, 500, 350, 450, 10, 1000, 500};

class TimerTable {
public:
    struct Owner {
        std::function<bool()> running;  // the owning operation still runs
        std::function<void()> tick;
    };
    void own(int id, Owner owner) { owners_.at(static_cast<std::size_t>(id)) = std::move(owner); }
    // False when the tick found its operation ended (the caller stops the timer).
    bool dispatch(int id) const
    {
        if (id < 0 || id >= kTimerCount)
            return true;
        const Owner& o = owners_[static_cast<std::size_t>(id)];
        if (!o.tick)
            return false;
        if (o.running && !o.running())
            return false;
        o.tick();
        return true;
    }

private:
    std::array<Owner, kTimerCount> owners_;
};
