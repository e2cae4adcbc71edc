#pragma once
// One run of the campaign: a headless bench (its own bench thread and
// timers, as in the window) on a simulated box that misbehaves as the plan
// says, the operation driven as quillmark-tool drives it, and everything the
// invariants look at afterwards.
#include "bench/outcome.h"
#include "bench/result_sink.h"
#include "campaign/fault_injector.h"
#include "campaign/fault_plan.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

struct PostedOutcome {
    Outcome outcome;
    std::int64_t atMicros = 0;
};

struct RunEvidence {
    FaultPlan plan;
    Operation operation = Operation::Configure;
    std::int64_t startMicros = 0;
    bool boxFound = false;
    std::vector<PostedOutcome> outcomes;  // every outcome, in order
    std::vector<TestReport> reports;      // what went to the results store
    std::vector<AppliedFault> faults;     // as they took effect

    // After the run, once the bench was stopped and had settled.
    std::vector<std::string> flagsUp;
    std::size_t workersRunning = 0;
    bool inGateOwned = false;
    std::size_t boxPendingIn = 0;
    std::size_t boxPendingOut = 0;
    // A fresh "Clicking setting" after the faults ended: the bench recovered.
    bool reconfigured = false;

    // A capture: the file it landed in and what the box's transfers held.
    QString captureFile;
    QByteArray captureFileBytes;
    std::vector<std::vector<std::uint8_t>> captureTransfers;
};

// Runs on the bench clock as installed; the caller takes part in it.
RunEvidence runPlan(const FaultPlan& plan);
// On a fresh virtual clock of its own, so that a seed replays to the
// microsecond; the clock installed before is back afterwards.
RunEvidence runPlanInVirtualTime(const FaultPlan& plan);
