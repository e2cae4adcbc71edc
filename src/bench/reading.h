#pragma once
// "Read data", the continuous reader worker and the two reset buttons of
// RS485 encoders.
#include "bench/bench_context.h"

#include <QString>
#include <cstdint>

class FrameDisplay;
class SettingsEditor;

inline const QString kMsgSpiCrcError = QStringLiteral("spi crc error ");

// The frame mask of the reader: 2^bits − 1, exact (all ones from 64 bits up).
std::int64_t readFrameMaskOf(int totalBits);

class Reading {
public:
    Reading(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }

    void readData();
    // "Reset of angle" (ResetAngleCmd) or "Reset of multi turn" (ResetTurnsCmd).
    void reset(Flag flag, Control button);

    // The worker's body; runs until its run flags drop.
    void runReader();

private:
    bool startReader();
    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
};
