#pragma once
// The box commands of quillmark-tool, each on a started headless bench:
// it starts the operation with its parameters and turns the operation's
// outcome into the command's status, JSON and summary.
#include "bench/capture.h"
#include "headless/tool_result.h"

#include <QString>
#include <optional>

class HeadlessBench;

ToolResult runConfigure(HeadlessBench& hb);
// With `csv` the summary is the values as CSV: milliseconds since the
// reading started, the raw value, each field under its label, the angle.
ToolResult runRead(HeadlessBench& hb, int count, bool csv = false);
ToolResult runEeprom(HeadlessBench& hb, int value);
ToolResult runResolution(HeadlessBench& hb, int cycles, std::optional<int> truncate);
ToolResult runAbsTest(HeadlessBench& hb);
// The accuracy test alone, on a box runConfigure has configured.
ToolResult runAbsTestOnConfiguredBox(HeadlessBench& hb);
ToolResult runCapture(HeadlessBench& hb, const CaptureStart& start);
// The dialogs' operations.
ToolResult runSinCos(HeadlessBench& hb, std::optional<int> seconds);
struct ForceRun {
    double seconds = 3;   // the attempt's length
    QString name;         // confirmed before the attempt; empty: none
    bool live = true;     // each live value on stdout as it comes
};
// Writes each force value of the attempt as a JSON line (or "t force"
// text) on stdout as it comes.
ToolResult runForce(HeadlessBench& hb, const ForceRun& run, bool json);
struct CalibrationRun {
    QString accessCode;
    QStringList steps;  // step names in order: see calibrationStepNames()
};
QStringList calibrationStepNames();
ToolResult runCalibration(HeadlessBench& hb, const CalibrationRun& run);
