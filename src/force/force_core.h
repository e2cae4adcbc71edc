#pragma once
// Arithmetic of the force test and its top list. The force comes from the
// encoder's deflection: 27.863 N per degree of the first field's turn.
#include <QString>
#include <array>
#include <cstdint>

constexpr double kNewtonsPerDegree = 27.863;

// The first field's width must give a positive 32-bit mask: 0 bits would
// divide by zero, 32 and more turn the mask negative.
constexpr bool forceFieldWidthUsable(int width)
{
    return width >= 1 && width <= 31;
}
// Shown when the force test refuses to start on such a width.
inline const char* const kForceWidthMessage = "The force test needs a first field of 1 to 31 bits";

// The first field's mask, 2^width − 1, for a usable width.
constexpr std::int32_t forceFieldMask(int width)
{
    return static_cast<std::int32_t>((std::int64_t{1} << width) - 1);
}

// Force of one raw reading, truncated toward zero to three decimals. The
// reading's bits 8 and up are the deflection in counts of `fieldMask`; above
// half a turn (65536) it folds back from the other side (131072 − v).
double forceNewtons(std::int64_t raw, std::int32_t fieldMask);

struct ForceSample {
    double forceNow = 0.0;
    double peak = 0.0;
};

// The reader's force step for one new raw value: the force now and the peak
// of the run. Without a running attempt the peak starts again from 0.
ForceSample forceFromReading(std::int64_t raw, std::int32_t fieldMask, bool runSeen, double previousPeak);

// An attempt's result: its peak above the force at "START".
constexpr double forceResult(double peak, double baseline)
{
    return peak - baseline;
}

// "%.3f", for the live and record fields.
QString forceText(double newtons);

struct ForceTopRow {
    QString name;
    double power = 0.0;  // N; 0 in an empty row
};

// "HERCULES TOP LIST": ten rows in descending power, one row per name with
// its best result. Powers are kept as numbers; cells are only drawn from them.
class ForceTopList {
public:
    static constexpr int kRows = 10;

    const std::array<ForceTopRow, kRows>& rows() const { return m_rows; }

    // Offers a confirmed contestant's result. It enters only above row 10's
    // power; a name already listed keeps the better of its two results. An
    // entry equal in power to listed ones goes below them. Returns true when
    // the list changed.
    bool offer(const QString& name, double result);

    // A power cell: up to 15 significant digits, no trailing zeros, "0" for
    // an empty row.
    static QString powerText(double power);

private:
    std::array<ForceTopRow, kRows> m_rows{};
};
