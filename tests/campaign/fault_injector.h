#pragma once
// Plays a plan's timed faults on the simulated box, on the bench clock,
// from the moment it is made; each fault is noted with the bench time it
// took effect. The box's standing properties (no OUT endpoint, the EEPROM's
// and the encoder's behaviour, no acknowledgement, a jump) are set by
// prepareBox() before the box is plugged in.
#include "campaign/fault_plan.h"
#include "common/clock.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class SimBox;
class SimBus;

struct AppliedFault {
    Fault fault;
    std::int64_t atMicros = 0;  // bench time it took effect
};

void prepareBox(const FaultPlan& plan, SimBox& box);

class FaultInjector {
public:
    FaultInjector(const FaultPlan& plan, std::shared_ptr<SimBus> bus, std::shared_ptr<SimBox> box);
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // Faults not yet due are dropped; the box is well-behaved and plugged in
    // again. Idempotent.
    void endAll();
    std::vector<AppliedFault> applied() const;

private:
    struct Step {
        std::int64_t dueMicros = 0;
        std::size_t fault = 0;
        bool ending = false;  // the end of a timed fault
    };

    static std::vector<Step> stepsOf(const FaultPlan& plan, std::int64_t t0);
    void run();
    void apply(const Step& step);

    FaultPlan plan_;
    std::shared_ptr<SimBus> bus_;
    std::shared_ptr<SimBox> box_;
    Clock& clock_;
    std::vector<Step> steps_;
    mutable std::mutex mutex_;
    std::vector<AppliedFault> applied_;
    bool quit_ = false;  // written inside clock updates
    ClockThread thread_;  // last: starts once everything above exists
};
