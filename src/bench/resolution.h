#pragma once
// "Resolution": one long transfer of the box's stream while the user turns
// the encoder; the span of the positions in it, less the status bits, is the
// encoder's counts per turn less one.
#include "bench/bench_context.h"
#include "interface/mode_flags.h"

#include <QString>
#include <atomic>
#include <optional>

class InSession;
class SettingsEditor;

inline const QString kMsgCycleCountTooSmall = QStringLiteral("Please set the cycle count to 10000 or more");
inline const QString kMsgResolutionIncomplete = QStringLiteral(
    "The transfer lost blocks of the stream: the result covers only the %1 records read before the gap");

// One wait round of the worker: the transfer it starts is cancelled after
// this long and a new round begins while the test runs. The largest
// transfer takes the box about 17 s at its slowest records.
inline constexpr double kResolutionWaitRoundMs = 20000;

class ResolutionTest {
public:
    ResolutionTest(BenchContext& ctx, SettingsEditor& editor) : ctx_(ctx), editor_(editor) {}

    // "Cycle count" at start-up.
    void initialiseControls();
    // "Resolution" with the typed cycle count and truncation.
    void run();
    // Starts with these parameters (shown in their edits); ends with an
    // Operation::Resolution outcome.
    void start(std::optional<int> cycles, std::optional<int> truncateBits);
    // Stop-all: a running test ends without a result.
    void onStopAll()
    {
        if (running_.exchange(false))
            ctx_.conclude(Outcome::stopped(Operation::Resolution));
    }

    struct Job {
        int bytes = 0;
        ModeFlags modes;
        int frameBits = 0;
        int truncateBits = 0;
    };
    // The worker's body.
    void runWorker(const Job& job, InSession& session);

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    std::atomic<bool> running_{false};  // between the start and its outcome
};
