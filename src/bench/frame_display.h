#pragma once
// The decoded display: the shared decoder values, the value displays,
// "Angle:", the raw-frame display, the gauge field spin and the display base
// list.
#include "bench/bench_context.h"

#include <QString>
#include <array>
#include <cstdint>
#include <mutex>

class SettingsEditor;
struct InterfaceSettings;
struct FrameLayout;

FrameLayout frameLayoutOf(const InterfaceSettings& s);

class FrameDisplay {
public:
    FrameDisplay(BenchContext& ctx, SettingsEditor& editor) : ctx_(ctx), editor_(editor) {}

    // Any thread: splits v by the current settings, stores the results and
    // writes the value displays and "Angle:".
    void decodeFrame(std::int64_t v);
    // Any thread: v in the selected base in the raw-frame display.
    void showRawFrame(std::int64_t v);
    // The text value display k (1..10) shows.
    QString valueText(int k) const;
    // Any thread: the value display k as written from elsewhere.
    void setValueText(int k, const QString& text);

    void onGaugeFieldSpin(int direction);
    void onDisplayBaseChosen(int index);

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    mutable std::mutex mutex_;
    std::array<QString, 10> valueTexts_;
};
