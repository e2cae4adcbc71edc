#pragma once
// The calibration dialog as the calibration operation sees it: its buttons,
// indicators, combos and information fields by role. The window implements
// it over the open dialog's widgets (nothing happens while no dialog is
// open); tests implement it with a recorder. Callable from any thread.
#include <QString>

enum class CalControl : int {
    // Encoder-1 pane
    Direction,   // combo "CCW/CW:"
    PolePairs,   // combo "极对数:"
    Carrier,     // combo "载波频率:"
    Access,      // "校准权限"
    Start,       // "启动校准"
    CoarseEcc,   // "粗圈偏心"
    FineAdc,     // "细圈ADC"
    CoarseAdc,   // "粗圈ADC"
    FineRadius,  // "细圈半径"
    Zero1,       // "零点对齐" (encoder 1)
    Info1,       // "获取校准信息" (encoder 1)
    Home,        // "返回主页"
    // Encoder-2 pane
    Wake,        // "唤醒"
    AirCal,      // "对空气校准"
    Zero2,       // "零点对齐" (encoder 2)
    B1B2,        // "B1B2校正"
    Info2,       // "获取校准信息" (encoder 2)

    // Indicators
    AccessLamp,
    StartLamp,
    CoarseEccLamp,
    FineAdcLamp,
    CoarseAdcLamp,
    FineRadiusLamp,
    Zero1Lamp,
    WakeLamp,
    Wake2Lamp,  // second stage of the wake step
    AirCalLamp,
    Zero2Lamp,
    B1Lamp,
    B2Lamp,

    // Encoder-1 information, in the order of Encoder1InfoTexts
    Info1CoarseZero,
    Info1FineZero,
    Info1CoarseSin,
    Info1CoarseCos,
    Info1FineRadius,
    Info1UserZero,
    Info1Temperature,
    Info1FineSin,
    Info1FineCos,
    Info1EccentricitySin,
    Info1EccentricityCos,
    Info1FirmwareCode,
    Info1FirmwareText,
    Info1CoarseAdc,
    Info1FineAdc,

    // Encoder-2 information, in the order of Encoder2InfoTexts
    Info2CoarseSin,
    Info2CoarseCos,
    Info2FineSin,
    Info2FineCos,
    Info2ZeroOffset,
    Info2B1Angle,
    Info2B2Angle,
    Info2Serial,

    Count
};

inline constexpr int kCalControlCount = static_cast<int>(CalControl::Count);
inline constexpr int kInfo1FieldCount = 15;
inline constexpr int kInfo2FieldCount = 8;

inline CalControl calControlAt(CalControl first, int offset)
{
    return static_cast<CalControl>(static_cast<int>(first) + offset);
}

// The three states of a step's indicator.
enum class CalIndicator { Idle, Success, Failure };

class CalibrationView {
public:
    virtual ~CalibrationView() = default;
    virtual void setEnabled(CalControl c, bool on) = 0;
    // A button's caption or an information field's text.
    virtual void setText(CalControl c, const QString& text) = 0;
    virtual void setIndicator(CalControl c, CalIndicator state) = 0;
    // Selects entry `index` of a combo.
    virtual void selectItem(CalControl combo, int index) = 0;
};
