#pragma once
// "Clicking setting": sends the interface settings to the box and checks
// that it answers.
#include "bench/bench_context.h"

#include <functional>

class FrameDisplay;
class SettingsEditor;

class ConfigurationCommand {
public:
    ConfigurationCommand(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }
    void run();
    // What settings that took with the sin/cos protocol start (the bench
    // wires the sin/cos test).
    void setSinCosStart(std::function<void()> start) { sinCosStart_ = std::move(start); }

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
    std::function<void()> sinCosStart_;
};
