#pragma once
// "Encoder's calibration": opens the calibration dialog, keeps its state
// (access, step buttons, indicators, information fields), drives the
// calibration engine on timer 3 and runs its reply reader.
//
// The dialog only forwards presses, combo choices and its 500 ms display
// tick; the engine (calibration/cal_engine) holds the requests, waits and
// results under one lock. The reply reader is a worker of which at most one
// runs: it reads in bounded 81920-byte transfers while a reply is awaited,
// ends when no wait is left, and is cancelled by stop-all and by closing the
// dialog (both lower every wait).
#include "bench/bench_context.h"
#include "bench/calibration_view.h"
#include "calibration/cal_engine.h"

#include <QString>
#include <atomic>
#include <mutex>

// Length of one reply transfer.
inline constexpr int kCalReplyTransferLength = 81920;

class EncoderCalibration {
public:
    explicit EncoderCalibration(BenchContext& ctx);

    // The menu item "Encoder's calibration".
    void open();

    // --- Inputs of the calibration dialog ---
    // A button; `CalControl::Home` is also the dialog's close box.
    void onButton(CalControl button);
    // The user chose entry `index` of one of the three combos.
    void onCombo(CalControl combo, int index);
    // The dialog's 500 ms display timer.
    void onDisplayTick();

    // The access dialog's confirm ("确认" or Enter) with the typed code.
    void onAccessCode(const QString& typed, bool enterKey);

    // --- Timer 3 ---
    // True from the opening until stop-all.
    bool running() const { return alive_.load(); }
    void tick();

    // Stop-all: every wait, follow-up and request drops, so a pending reply
    // read ends; the dialog closes at its next display tick.
    void stopAll();

    // For tests and the screen: the engine's state.
    const CalibrationEngine& engine() const { return engine_; }
    bool readerRunning() const { return readerActive_.load(); }
    // The parameter byte the combos select (the 0x39 packet's).
    int calibParam() const { return calibParam_.load(); }

private:
    CalibrationView& view();
    void resetSteps();
    void closeDialog();
    void ensureReader();
    void runReader();
    bool keepReading() const;
    void showResults();

    BenchContext& ctx_;
    CalibrationEngine engine_;

    // Raised by the opening, lowered by stop-all (the dialog watches it).
    std::atomic<bool> alive_{false};
    std::atomic<bool> readerActive_{false};
    // The drain read of the wake sequence waits while this is up.
    std::atomic<bool> wakeDrainArmed_{false};
    std::atomic<int> calibParam_{4};  // the selection the next parameter packet carries
    // Raised by a right code, consumed by the display tick.
    std::atomic<bool> accessGranted_{false};
    std::atomic<bool> accessOpen_{false};

    // Dialog state (bench thread).
    int displayTicks_ = 0;
    bool wakeSeen_ = false;
    bool reenableStart_ = false;
    int selection_[3] = {0, 0, 0};  // direction, pole pairs, carrier
};
