#pragma once
// Pulls a simulated device off its bus once a span of bench time has passed,
// as a user pulling the cable would. Set up before anything runs, so a test
// or a `--simulate=unplug-after=S` run loses the box in the middle of an
// operation.
#include "simbox/sim_bus.h"

#include "common/clock.h"

#include <atomic>
#include <cstdint>
#include <memory>

class SimUnplugTimer {
public:
    // Due `benchSeconds` of bench time from now.
    SimUnplugTimer(std::weak_ptr<SimBus> bus, std::weak_ptr<SimDevice> device, double benchSeconds);
    // A timer not yet due is cancelled.
    ~SimUnplugTimer();
    SimUnplugTimer(const SimUnplugTimer&) = delete;
    SimUnplugTimer& operator=(const SimUnplugTimer&) = delete;

    std::int64_t dueMicros() const { return due_; }
    bool fired() const { return fired_.load(); }

private:
    void run();

    std::weak_ptr<SimBus> bus_;
    std::weak_ptr<SimDevice> device_;
    std::int64_t due_;
    std::atomic<bool> fired_{false};
    Clock& clock_;
    bool cancelled_ = false;  // written inside clock updates
    ClockThread thread_;      // last: starts once everything above exists
};
