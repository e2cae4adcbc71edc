#pragma once
// The box on the bus and its power: the search for the box, device changes
// and "Power control".
#include "bench/bench_context.h"

#include <QString>
#include <array>

class FrameDisplay;
class SettingsEditor;

class BoxSetup {
public:
    BoxSetup(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display)
        : ctx_(ctx), editor_(editor), display_(display)
    {
    }

    // Runs the box search, sets the title and tells the user when a device
    // refused access (the udev rule is missing).
    void searchBox();
    void onDeviceChange(const DeviceChangeEvent& event);
    void powerControl();

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
};
