#pragma once
// The samples behind a result's figures, kept with it in the results store
// so that its plots can be drawn later: the accuracy test's angle at each
// sample with the jumps marked, the four sin/cos tracks of the fitted
// transfer, the values a reading showed, the resolution walk's positions.
//
// Stored form: "QT" and a format byte, then the zlib-compressed payload.
// Numbers in the payload are delta-coded zig-zag varints, so a slowly
// turning shaft costs one or two bytes a sample before compression.
#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

struct AccuracyTracePoint {
    int step = 0;        // the test's step when the sample came (0..680)
    double angle = 0.0;  // degrees
    bool jump = false;   // the change from the previous sample was a jump
};

struct AccuracyTrace {
    std::vector<AccuracyTracePoint> points;
};

// The fitted pairs' tracks as 8-bit ADC codes, index for index.
struct SinCosTrace {
    enum Track { CosPlus, SinPlus, CosMinus, SinMinus };
    std::array<std::vector<std::uint8_t>, 4> codes;
};

struct ReadTracePoint {
    double ms = 0.0;       // since the reading started
    std::int64_t raw = 0;  // the frame shown
};

struct ReadTrace {
    std::vector<ReadTracePoint> points;
};

struct ResolutionTrace {
    std::int64_t first = 0, last = 0;      // the walk's first and last positions
    std::int64_t minimum = 0, maximum = 0;  // the span
};

using ResultTrace = std::variant<std::monostate, AccuracyTrace, SinCosTrace, ReadTrace, ResolutionTrace>;

// Angles are kept to a thousandth of a degree, reading times to a microsecond.
inline constexpr double kTraceAngleUnit = 0.001;

QByteArray encodeTrace(const ResultTrace& trace);  // empty for no trace
// Nothing for bytes that are not a trace of a known format (a later
// program's, or damaged).
std::optional<ResultTrace> decodeTrace(const QByteArray& bytes);

// The size of each jump of an accuracy trace (the distance on the circle
// from the sample before), degrees.
std::vector<double> traceJumpSizes(const AccuracyTrace& t);
