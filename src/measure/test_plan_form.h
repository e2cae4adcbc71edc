#pragma once
// The "Test plan" dialog's fields without the widgets: what the user typed,
// as text, and the switches of each section. planForm() fills them from a
// plan; planFromForm() checks them and gives the plan, or names the field
// that is wrong. The dialog only copies text to and from its controls.
#include "measure/test_plan.h"

#include <QString>
#include <optional>

struct PlanForm {
    // A sin/cos figure's window: "nominal ± tolerance" for the offsets and
    // peak-to-peaks, "min .. max" for the phase.
    struct Window {
        bool on = false;
        QString low, high;  // nominal and tolerance, or min and max
    };
    enum class ResolutionLimit { AtLeast, ExactBits };

    bool accuracy = false;
    QString maxJumps = QStringLiteral("0");
    QString maxJumpDeg;  // empty: jumps of any size count only by number

    bool resolution = false;
    ResolutionLimit resolutionLimit = ResolutionLimit::ExactBits;
    QString resolutionValue;  // LSB, or bits

    bool sincos = false;
    Window cosOffset, sinOffset, cosPp, sinPp;  // nominal ± tolerance, volts
    Window phase;                               // min .. max, degrees

    bool eepromVerified = false;
    bool captureComplete = false;
    bool calibrationEveryStep = false;
};

// The fields of `plan`. A window the file gave as min/max shows as its
// middle ± half its width (the phase the other way round): the same limits.
PlanForm planForm(const TestPlan& plan);

struct PlanFormCheck {
    std::optional<TestPlan> plan;
    QString error;  // says which field and what it needs
    QString field;  // the field's key: "abs.max_jumps", "sincos.phase.min", ...
};
// Numbers are read with a point or a comma as the decimal sign.
PlanFormCheck planFromForm(const PlanForm& form);

// The plan kept beside a configuration file: FileName.cfg -> FileName.plan.json.
QString planPathFor(const QString& configPath);
