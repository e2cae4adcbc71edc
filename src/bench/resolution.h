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

inline const QString kMsgResolutionNoData =
    QStringLiteral("The box sent no data for 20 s: the resolution test was stopped without a result");

// One wait round of the worker. The transfer stays pending across rounds (the
// largest takes the box about 17 s at its slowest records, longer on a slow
// clock); a round in which not one part of it arrived ends the test.
inline constexpr double kResolutionWaitRoundMs = 20000;
// The transfer is queued as parts of this size, all at once, so the box
// fills them back to back into one unbroken stretch and the worker sees it
// advance. Every transfer size is a whole number of parts.
inline constexpr int kResolutionPartBytes = 10 * 1024;

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
    void endWithoutData(InSession& session);
    BenchContext& ctx_;
    SettingsEditor& editor_;
    std::atomic<bool> running_{false};  // between the start and its outcome
};
