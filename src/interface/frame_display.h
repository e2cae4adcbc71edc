#pragma once
// The window's side of frame decoding: the shared decoder values, the value
// displays, "Angle:", the raw-frame display, the gauge field spin and the
// display base list.
#include <cstdint>

class Bench;
struct InterfaceSettings;
struct FrameLayout;

FrameLayout frameLayoutOf(const InterfaceSettings& s);

class FrameDisplay {
public:
    explicit FrameDisplay(Bench& bench) : bench_(bench) {}

    // Any thread: splits v by the current settings, stores the results and
    // writes the value displays and "Angle:".
    void decodeFrame(std::int64_t v);
    // Any thread: v in the selected base in the raw-frame display.
    void showRawFrame(std::int64_t v);

    void onGaugeFieldSpin(int direction);
    void onDisplayBaseChanged();

private:
    Bench& bench_;
};
