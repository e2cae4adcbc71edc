#pragma once
// "Clicking setting": sends the interface settings to the box and checks
// that it answers.
#include "bench/bench_context.h"

class FrameDisplay;
class SettingsEditor;

class ConfigurationCommand {
public:
    ConfigurationCommand(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }
    void run();

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
};
