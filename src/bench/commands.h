#pragma once
// The commands of the main window's buttons and menus that start work on the
// box or on files. Only commands whose operations exist are listed.
enum class Command {
    ClickingSetting,
    ReadData,
    ResetAngle,
    ResetMultiTurn,
    PowerControl,
    SaveConfigFile,
    LoadConfigFile,
    EncoderCalibration,  // "Encoder's calibration"
    SincosTest,
    SaveFile,
    AbsTest,
    Resolution,
    WriteEeprom,
    ForceTest,
};
