#pragma once
// "Force test": a contest of strength measured through the encoder's
// deflection. The menu item starts the box's stream (ForceActive) and the
// continuous reader, whose new readings come here as forces; the force
// dialog measures attempts from "START" to "STOP" and keeps the top list.
// Timer 4 (10 ms) passes the dialog's run mark to the reader and ends the
// stream once the dialog has closed.
#include "bench/bench_context.h"
#include "bench/force_view.h"
#include "bench/reading.h"
#include "force/force_core.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

class SettingsEditor;

class ForceTest : public ForceReadingSink {
public:
    // `startReader` starts the continuous reader; false when it could not.
    ForceTest(BenchContext& ctx, SettingsEditor& editor, std::function<bool()> startReader)
        : ctx_(ctx), editor_(editor), startReader_(std::move(startReader))
    {
    }

    // The menu item: starts the stream and opens (or re-shows) the dialog;
    // while the stream runs, stops it and leaves the dialog open and frozen.
    void press();
    // Timer 4.
    void tick();
    bool timerRunning() const { return timerArmed_.load(); }
    // Stop-all: timer 4 is gone; the dialog stays open without new values.
    void reset();

    void onInput(ForceInput input, const QString& text);

    // The reader's force step, on the reader's thread.
    void onForceReading(std::int64_t raw) override;

    double forceNow() const { return now_.load(); }
    double forcePeak() const { return peak_.load(); }
    const ForceTopList& topList() const { return list_; }

private:
    ForceView& view();
    // A fresh dialog: empty texts and list, no marks.
    void resetDialogState();
    void startStop();
    void close();
    // Gives back the buttons the stream took, when it was this test's.
    void releaseButtons();

    BenchContext& ctx_;
    SettingsEditor& editor_;
    std::function<bool()> startReader_;

    // Shared with the reader's thread.
    std::atomic<double> now_{0.0};
    std::atomic<double> peak_{0.0};
    std::atomic<std::int32_t> mask_{1};
    std::atomic<bool> runSeen_{false};
    // Dialog marks, and timer 4.
    std::atomic<bool> runMark_{false};
    bool liveAtStart_ = false;  // the stream ran when the attempt began
    std::atomic<bool> closeMark_{false};
    std::atomic<bool> timerArmed_{false};

    // Dialog state, bench thread only.
    double baseline_ = 0.0;
    double result_ = 0.0;
    double lastShown_ = 0.0;
    bool nameConfirmed_ = false;
    QString name_;
    QString confirmedName_;
    ForceTopList list_;
};
