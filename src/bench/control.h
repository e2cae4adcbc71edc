#pragma once
// Every control of the main window the operations speak to, by role.
// Field columns are contiguous so that column k (1..10) is `base + k − 1`.

enum class Control : int {
    // Interface settings (top frame)
    Protocols,
    ContentCount,
    FieldLabel1, FieldLabel2, FieldLabel3, FieldLabel4, FieldLabel5,
    FieldLabel6, FieldLabel7, FieldLabel8, FieldLabel9, FieldLabel10,
    FieldWidth1, FieldWidth2, FieldWidth3, FieldWidth4, FieldWidth5,
    FieldWidth6, FieldWidth7, FieldWidth8, FieldWidth9, FieldWidth10,
    CrcList,
    TurnList,
    GrayBinaryText,
    FrequencyText,
    ClickingSetting,

    // Decoded frame
    FieldValue1, FieldValue2, FieldValue3, FieldValue4, FieldValue5,
    FieldValue6, FieldValue7, FieldValue8, FieldValue9, FieldValue10,
    GaugeField,
    DisplayBase,
    RawFrame,
    Gauge,
    Angle,
    Frozen1, Frozen2, Frozen3,
    Description,

    // "Control" group
    ReadData,
    SincosTest,
    ResetAngle,
    ResetMultiTurn,
    SaveFile,
    TimedCapture,      // the caption-less check box of the capture row
    CaptureSeconds,
    CaptureLamp,
    SaveAsDecimal,
    AutomaticSave,
    WriteEeprom,
    EepromValue,
    EepromLamp,

    // "Absolute Testing" group
    AbsTest,
    AbsProgress,
    AbsLamp,
    ErrorAngle,
    ErrorIndex,
    AbsRowCheck,       // the caption-less check box of the "Abs test" row
    Resolution,
    ResolutionProgress,
    TruncateBits,
    CycleCount,
    ResolutionResult,
    PowerControl,

    // Menu items
    MenuLoadConfig,
    MenuSaveConfig,
    MenuClock9_6,
    MenuClock4_8,
    MenuClock2_4,
    MenuClock1_2,
    MenuBinary,
    MenuGray,
    MenuCalibration,
    MenuForce,
    MenuAbout,

    Count
};

inline constexpr int kControlCount = static_cast<int>(Control::Count);
inline constexpr int kFieldColumns = 10;

inline Control fieldLabelControl(int k) { return static_cast<Control>(static_cast<int>(Control::FieldLabel1) + k - 1); }
inline Control fieldWidthControl(int k) { return static_cast<Control>(static_cast<int>(Control::FieldWidth1) + k - 1); }
inline Control fieldValueControl(int k) { return static_cast<Control>(static_cast<int>(Control::FieldValue1) + k - 1); }

// Images of the lamp picture controls.
enum class LampImage { Unlit, Lit, Passed };
