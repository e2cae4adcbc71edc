#pragma once
// "Read data", the continuous reader worker and the two reset buttons of
// RS485 encoders.
#include "bench/bench_context.h"

#include <QString>
#include <cstdint>
#include <vector>

class FrameDisplay;
class SettingsEditor;

inline const QString kMsgSpiCrcError = QStringLiteral("spi crc error ");

// Takes each new raw value the continuous reader assembles while the force
// test streams (ForceActive), instead of the decoder and the displays. Called
// on the reader's thread.
class ForceReadingSink {
public:
    virtual ~ForceReadingSink() = default;
    virtual void onForceReading(std::int64_t raw) = 0;
};

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

    // The worker's body; runs until its run flags drop, then reports a read
    // that showed values or ended on a fault.
    void runReader();
    // Starts the worker; it runs while any of its run flags is up (the force
    // test starts it with ForceActive). False when it could not be started.
    bool startReader();
    // Where readings go while ForceActive is up; set before any reader runs.
    void setForceSink(ForceReadingSink* sink) { forceSink_ = sink; }

private:
    // What a read showed and how it ended.
    // Values kept for the plot: over ten minutes of a new value every 10 ms.
    static constexpr std::size_t kReadTraceMax = 65536;
    struct ReadTally {
        enum class End { Stopped, BoxRemoved, BoxSilent, CrcError };
        bool reading = false;  // "Read data" was on
        int values = 0;
        std::int64_t lastShown = 0;
        End end = End::Stopped;
        double startMs = 0;                  // bench time the reader started
        std::vector<ReadTracePoint> series;  // the first kReadTraceMax values shown
        void shown(std::int64_t v, double nowMs)
        {
            ++values;
            lastShown = v;
            if (series.size() < kReadTraceMax)
                series.push_back({nowMs - startMs, v});
        }
        void ended(End e)
        {
            if (end == End::Stopped)
                end = e;
        }
    };
    void readUntilStopped(ReadTally& tally);

    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
    ForceReadingSink* forceSink_ = nullptr;
};
