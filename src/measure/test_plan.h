#pragma once
// A test plan: the limits the encoders of one configuration must meet, kept
// beside the configuration as config/NAME.plan.json. It adds a second
// verdict to a result, against its limits; the test's own verdict stays as
// the test gave it.
//
//   {
//     "schema": 1,
//     "abs-test":    {"max_jumps": 0},                  // or with "max_jump_deg": D
//     "resolution":  {"min": 131000},                   // or {"bits": 17}: exactly 2^17 - 1
//     "sincos":      {"cos_offset": {"nominal": 2.50, "tolerance": 0.10}, ...,
//                     "phase": {"min": 89, "max": 91}},
//     "eeprom":      {"verified": true},
//     "capture":     {"nothing_dropped": true},
//     "calibration": {"every_step": true}
//   }
//
// A section left out puts no limit on that test; its results carry no plan
// verdict.
#include "measure/result_trace.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

inline constexpr int kTestPlanSchema = 1;

// A value's window: nominal ± tolerance, or min..max; both ends included.
struct PlanWindow {
    double min = 0, max = 0;
    std::optional<double> nominal, tolerance;  // as the plan wrote it
    bool contains(double v) const { return v >= min && v <= max; }
    QString text() const;  // "2.50 ± 0.10" or "89 .. 91"
};

struct TestPlan {
    struct Accuracy {
        int maxJumps = 0;
        std::optional<double> maxJumpDeg;
    };
    struct Resolution {
        std::optional<std::int64_t> min;
        std::optional<int> bits;
    };
    struct SinCos {
        std::optional<PlanWindow> cosOffset, sinOffset, cosPp, sinPp, phase;
    };
    std::optional<Accuracy> accuracy;
    std::optional<Resolution> resolution;
    std::optional<SinCos> sincos;
    bool eepromVerified = false;  // "eeprom": {"verified": true}
    bool captureComplete = false; // "capture": {"nothing_dropped": true}
    bool calibrationEveryStep = false;
    QString name;                  // the file's base name, for the report

    // Whether the plan puts limits on results of `command` (the results
    // store's command names: "abs-test", "sincos", ...).
    bool covers(const QString& command) const;
    // The section of `command` as the plan's JSON has it (for the record).
    QJsonObject limits(const QString& command) const;
    QJsonObject toJson() const;
};

struct PlanParse {
    std::optional<TestPlan> plan;
    QString error;  // "line 7: ..." when the plan cannot be read
};

PlanParse parseTestPlan(const QByteArray& text);
// Reads a user-named file: a regular file of at most 64 kB; the error starts
// with the quoted path.
PlanParse readTestPlanFile(const QString& path);
// Writes it beside and renames; an error text, empty on success.
QString writeTestPlanFile(const QString& path, const TestPlan& plan);

// The plan's verdict on one result: {"verdict": "pass"|"fail", "limits":
// {...}, "failed": ["what missed", ...]} — empty when the plan does not
// cover the command. `passed` and `figures` are the result's own; `trace`
// what was kept with it (the sizes of accuracy jumps come from there).
QJsonObject judgeAgainstPlan(const TestPlan& plan, const QString& command, bool passed, const QJsonObject& figures,
                             const std::optional<ResultTrace>& trace);
