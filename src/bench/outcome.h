#pragma once
// How an operation ended, as one value: its verdict with its figures, or the
// reason it could not run. The window's lamps and messages, quillmark-tool's
// exit status and JSON, the results store and the tests all take this value;
// none of them reads a verdict off the screen.
#include "measure/accuracy_tracker.h"
#include "measure/result_trace.h"
#include "sincos/sincos_analysis.h"

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// The operations that end with an outcome, by the names the results store
// and the command line know them.
enum class Operation { Configure, Read, Capture, AbsTest, Resolution, Eeprom, SinCos, Calibration, Force };
inline constexpr int kOperationCount = static_cast<int>(Operation::Force) + 1;
QString operationName(Operation op);  // "configure", "read", "capture", "abs-test", ...

enum class Ending {
    Verdict,   // ran to its end; `passed` says how
    Refused,   // did not start: a guard or a bad parameter; `message` as shown (empty: a silent guard)
    Stopped,   // ended before its verdict: pressed again, stop-all, the box removed
    BoxFault,  // the box failed it: a transfer failed, no answer; `message` says what
};
QString endingName(Ending e);  // "verdict", "refused", "stopped", "box-fault"

struct ConfigureResult {
    bool applied = false;
};

struct ReadResult {
    enum class End { Stopped, BoxRemoved, BoxSilent, CrcError };
    End end = End::Stopped;
    std::int64_t values = 0;     // new values shown
    std::int64_t lastRaw = 0;    // the last frame shown
    std::vector<std::int64_t> fields;
    std::optional<double> angle; // with a gauge field
    std::vector<ReadTracePoint> series;  // each value shown, with its time
};

struct CaptureResult {
    // Ok: acknowledged and kept; NotSaved: the user cancelled the dialog;
    // TransmissionError: a bad acknowledgement, nothing kept; WriteError: the
    // file could not be written. The box faults keep what came before them
    // and offer it as a finished capture: Unacknowledged (no acknowledgement
    // after the stop), Unplugged, BoxSilent (no transfer completed for the
    // limit), BoxFailed (failing transfers, no endpoint).
    enum class Status { Ok, NotSaved, TransmissionError, WriteError, Unacknowledged, Unplugged, BoxSilent, BoxFailed };
    Status status = Status::Ok;
    QString file;         // where the capture landed (absolute); empty when nothing was kept
    std::int64_t bytes = 0;
    bool decimal = false; // kept as a decimal report
    int ackStatus = -1;   // the stop acknowledgement's status byte; -1 without one
};

struct AccuracyResult {
    AccuracyVerdict verdict = AccuracyVerdict::NotTurning;
    std::vector<double> errors;  // error angles, degrees
    double travel = 0;           // degrees
    std::vector<AccuracyTracePoint> trace;  // the samples, jumps marked
};

struct ResolutionResult {
    std::int32_t value = 0;
    std::int64_t bytes = 0;
    int truncateBits = 0;
    std::int64_t records = 0;
    bool complete = true;  // every record of the transfer was walked
    std::optional<ResolutionTrace> span;  // the positions the walk found
};

struct EepromResult {
    int value = 0;
    bool verified = false;  // the encoder read the value back
};

struct SinCosResult {
    SinCosPairTexts plus;
    std::optional<SinCosPairTexts> minus;
    std::optional<SinCosZTexts> zPlus, zMinus;
    std::shared_ptr<const SinCosTrace> tracks;  // the fitted transfer's samples
};

// One calibration step's indicator: success or failure, with the info
// records' fields where the step reads them.
struct CalibrationStepResult {
    QString step;  // "wake", "start", "zero-1", "info-1", ...
    bool ok = false;
    std::vector<QString> fields;
};

struct ForceResult {
    double result = 0;    // N, the peak above the baseline
    double baseline = 0;  // N
    QString name;         // the confirmed name; empty without one
};

using OutcomeDetail = std::variant<std::monostate, ConfigureResult, ReadResult, CaptureResult, AccuracyResult,
                                   ResolutionResult, EepromResult, SinCosResult, CalibrationStepResult, ForceResult>;

struct Outcome {
    Operation operation = Operation::Configure;
    Ending ending = Ending::Verdict;
    bool passed = false;
    QString message;
    OutcomeDetail detail;
    // The test plan's verdict on it, when a plan covers the operation
    // ({"verdict", "limits", "failed"}); the verdict above stays the test's own.
    QJsonObject plan;

    static Outcome verdict(Operation op, bool passed, OutcomeDetail detail)
    {
        return {op, Ending::Verdict, passed, {}, std::move(detail), {}};
    }
    static Outcome refused(Operation op, const QString& message)
    {
        return {op, Ending::Refused, false, message, {}, {}};
    }
    static Outcome stopped(Operation op) { return {op, Ending::Stopped, false, {}, {}, {}}; }
    static Outcome boxFault(Operation op, const QString& message)
    {
        return {op, Ending::BoxFault, false, message, {}, {}};
    }

    template <typename T>
    const T* as() const
    {
        return std::get_if<T>(&detail);
    }
    // The figures as the results store keeps them and the tool prints them
    // (empty without a detail), with "plan" when the plan judged it.
    QJsonObject figures() const;
    // The samples a plot of it needs; none for most operations.
    ResultTrace trace() const;
};
