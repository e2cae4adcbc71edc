#pragma once
// Splitting a raw position frame into the user's declared fields, the gauge
// angle of one of them, and the texts the value displays show. Pure functions:
// the main window keeps the shared results (fieldValue, gaugeAngle,
// spiCrcField) and writes the displays.

#include "interface/mode_flags.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

inline constexpr int kMaxFields = 10;

// 2^width - 1 the way the box's settings have always produced it: computed in
// double, converted to a 64-bit integer, low 32 bits kept. Width 0 gives 0, a
// width of 32 or more gives 0xFFFFFFFF, a negative width (a fraction below 1)
// gives 0.
std::uint32_t fieldMaskOf(int width);

// Arithmetic right shift of a signed 64-bit frame value with the count taken
// as the box software's 8-bit unsigned shift count: any count outside 0..63
// (64 or more, or negative) shifts every bit out, giving 0 for a non-negative
// value and -1 for a negative one. Counts below -192 or above 255 are not
// wrapped modulo 256; they shift everything out like the rest. The capture
// report splits fields with this same rule, so a report line always equals
// what the window showed for the same record; counts are sums of widths,
// taken in 64 bits so that no width the user types can overflow them.
inline std::int64_t frameShift(std::int64_t v, std::int64_t count)
{
    if (count < 0 || count >= 64)
        return v < 0 ? -1 : 0;
    return v >> count;
}

// The largest turn count of a TTL/HTL frame (a 24-bit turn counter above a
// 24-bit position counter) that is taken as it is; a larger one is a negative
// count wrapped at 2^24. The limit is the position field's stored mask plus 2,
// added in 32 bits and sign-extended, as the box software has always done.
// Shared by the window's decoder and the capture report.
inline std::int64_t turnCounterLimit(std::uint32_t positionMask)
{
    return static_cast<std::int32_t>(positionMask + 2u);
}

// The turn count shown for the counter t of such a frame.
inline std::int64_t foldTurnCounter(std::int64_t t, std::uint32_t positionMask)
{
    if (t > turnCounterLimit(positionMask)) {
        t -= std::int64_t{1} << 24;
        return t < 0 ? -t : t;
    }
    return t;
}

// A stored 32-bit mask as it is applied to a 64-bit value: sign-extended, so
// 0xFFFFFFFF keeps all 64 bits.
inline std::int64_t widenMask(std::uint32_t mask)
{
    return static_cast<std::int32_t>(mask);
}

// What the decoder needs from the interface settings. Index 0 is field 1.
struct FrameLayout {
    int fieldCount = 0;
    std::array<int, kMaxFields> fieldWidth{};
    std::array<std::uint32_t, kMaxFields> fieldMask{};
    int turnMode = 0;  // 0 single turn, 1 multiturn
    ModeFlags modes;
    int gaugeField = 0;  // 0 = none, 1..10 = field shown on the gauge
};

// Builds a layout with fieldMask[k] = fieldMaskOf(fieldWidth[k]).
FrameLayout makeFrameLayout(int fieldCount, const std::array<int, kMaxFields>& widths,
                            const ModeFlags& modes, int turnMode = 0, int gaugeField = 0);

struct DecodedFrame {
    // Fields written by this decode: fieldCount when it is 1..10, else 0.
    int fieldsDecoded = 0;
    // Entries at and above fieldsDecoded are carried over from the previous
    // fields passed to decodeFields (zero when none were passed).
    std::array<std::int64_t, kMaxFields> fieldValue{};
    // The 6 bits after the data fields of a 48-bit SPI word; set when
    // spiMode is on and the field count is 1..10.
    std::optional<int> spiCrcField;
    // Degrees; set when the gauge field is 1..10. The caller leaves its shown
    // angle unchanged when this is empty.
    //
    // The angle is fieldValue[g] * 360 / Mg with Mg the field's mask as a
    // signed 32-bit number. Two masks cannot divide that way:
    //  - Mg = 0 (width 0): the field has no range, so the angle is 0.0 rather
    //    than a non-finite quotient; the gauge rests at zero.
    //  - Mg < 0 (width 32 or more reads as -1): the field spans the full
    //    32-bit range, so the angle is the low 32 bits of the field, taken
    //    unsigned, times 360 / 0xFFFFFFFF.
    std::optional<double> gaugeAngle;
};

// Decodes v by the first matching layout row for the layout's field count and
// mode flags. previousFields supplies the entries that a decode with a smaller
// field count leaves untouched; the gauge may point at one of them.
DecodedFrame decodeFields(std::int64_t v, const FrameLayout& layout,
                          const std::array<std::int64_t, kMaxFields>& previousFields);
DecodedFrame decodeFields(std::int64_t v, const FrameLayout& layout);

// Value display of one field: its low 32 bits as a signed decimal number.
QString fieldValueText(std::int64_t fieldValue);

// "Angle:" display, three decimals.
QString angleText(double degrees);

enum class DisplayBase { Hex, Decimal, Binary };

// The raw-frame display. Hex: upper-case digits, a negative value as its 64-bit
// two's complement. Decimal: signed. Binary: most significant digit first, no
// leading zeros, "0" for 0, a negative value as all 64 bits.
QString rawFrameText(std::int64_t v, DisplayBase base);
