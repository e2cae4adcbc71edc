#include "interface/frame_decoder.h"

#include <cmath>

std::uint32_t fieldMaskOf(int width)
{
    // The double -> 64-bit conversion stops being defined from width 63 on;
    // every width of 32 or more keeps all 32 bits anyway.
    if (width >= 32)
        return 0xFFFFFFFFu;
    // A negative width would give a fraction (or -1 once 2^width underflows).
    if (width <= 0)
        return 0;
    const double full = std::ldexp(1.0, width) - 1.0;
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(full));
}

FrameLayout makeFrameLayout(int fieldCount, const std::array<int, kMaxFields>& widths,
                            const ModeFlags& modes, int turnMode, int gaugeField)
{
    FrameLayout layout;
    layout.fieldCount = fieldCount;
    layout.fieldWidth = widths;
    for (int k = 0; k < kMaxFields; ++k)
        layout.fieldMask[k] = fieldMaskOf(widths[k]);
    layout.turnMode = turnMode;
    layout.modes = modes;
    layout.gaugeField = gaugeField;
    return layout;
}

namespace {

// Accessors in the 1-based field numbering of the layout table.
struct Fields {
    const FrameLayout& layout;
    std::array<std::int64_t, kMaxFields>& value;

    std::int64_t width(int k) const { return layout.fieldWidth[k - 1]; }
    std::int64_t mask(int k) const { return widenMask(layout.fieldMask[k - 1]); }
    std::int64_t& f(int k) { return value[k - 1]; }
    // Sum of the widths of fields from..to (empty range = 0). 64-bit so that
    // absurd widths cannot overflow.
    std::int64_t widthSum(int from, int to) const
    {
        std::int64_t sum = 0;
        for (int k = from; k <= to; ++k)
            sum += width(k);
        return sum;
    }
};

void decodeLayout(std::int64_t v, Fields& x, int n)
{
    const ModeFlags& m = x.layout.modes;
    const bool rs485Any = m.rs485Mode || m.rs485AbMode;

    if (n == 1 && m.spiMode) {
        x.f(1) = frameShift(v, 48 - x.width(1));
    } else if (n == 1) {
        x.f(1) = v & x.mask(1);
    } else if (n == 2 && m.incrementalMode) {
        // 24-bit turn counter above a 24-bit position counter; a counter past
        // the position range is a negative count wrapped at 2^24.
        const std::int64_t turns = foldTurnCounter(frameShift(v, 24), x.layout.fieldMask[1]);
        x.f(1) = turns & x.mask(1);
        x.f(2) = v & static_cast<std::int64_t>(x.layout.fieldMask[1] & 0xFFFFFFu);
    } else if (n == 2 && m.spiMode) {
        x.f(1) = frameShift(v, 48 - x.width(1)) & x.mask(1);
        x.f(2) = frameShift(v, 48 - x.width(1) - x.width(2)) & x.mask(2);
    } else if (n == 2) {
        x.f(1) = frameShift(v, x.width(2)) & x.mask(1);
        x.f(2) = v & x.mask(2);
    } else if (m.spiMode) {
        // Fields counted down from bit 47 of the 48-bit SPI word.
        for (int k = 1; k <= n; ++k)
            x.f(k) = frameShift(v, 48 - x.widthSum(1, k)) & x.mask(k);
        if (n == 3 || n == 4)
            x.f(1) = frameShift(v, 48 - x.width(1));
    } else if (n == 3 && rs485Any) {
        x.f(1) = frameShift(v, 32) & x.mask(1);
        x.f(2) = frameShift(v, 8) & x.mask(2);
        x.f(3) = v & x.mask(3);
    } else if (n == 4 && rs485Any) {
        x.f(1) = frameShift(v, 32 + x.width(2)) & x.mask(1);
        x.f(2) = frameShift(v, 32) & x.mask(2);
        x.f(3) = frameShift(v, 8) & x.mask(3);
        x.f(4) = v & x.mask(4);
    } else if (n >= 5 && (m.rs485AbMode || (m.rs485Mode && x.layout.turnMode == 1))) {
        x.f(1) = frameShift(v, 32) & x.mask(1);
        x.f(2) = frameShift(v, 8) & x.mask(2);
        for (int k = 3; k <= n; ++k)
            x.f(k) = frameShift(v, x.widthSum(k + 1, n)) & x.mask(k);
    } else {
        // Field 1 in the highest of the frame's low bits, field n lowest.
        for (int k = 1; k <= n; ++k)
            x.f(k) = frameShift(v, x.widthSum(k + 1, n)) & x.mask(k);
    }
}

double gaugeAngleOf(std::int64_t fieldValue, std::uint32_t storedMask)
{
    const std::int32_t mask = static_cast<std::int32_t>(storedMask);
    if (mask == 0)
        return 0.0;
    if (mask < 0) {
        return static_cast<double>(static_cast<std::uint32_t>(fieldValue)) * 360.0
               / static_cast<double>(storedMask);
    }
    return static_cast<double>(fieldValue) * 360.0 / mask;
}

}  // namespace

DecodedFrame decodeFields(std::int64_t v, const FrameLayout& layout,
                          const std::array<std::int64_t, kMaxFields>& previousFields)
{
    DecodedFrame out;
    out.fieldValue = previousFields;
    Fields x{layout, out.fieldValue};
    const int n = layout.fieldCount;
    const bool countValid = n >= 1 && n <= kMaxFields;

    if (countValid) {
        decodeLayout(v, x, n);
        out.fieldsDecoded = n;
        if (layout.modes.spiMode)
            out.spiCrcField = static_cast<int>(frameShift(v, 42 - x.widthSum(1, n)) & 0x3F);
    }

    const int g = layout.gaugeField;
    if (g >= 1 && g <= kMaxFields)
        out.gaugeAngle = gaugeAngleOf(out.fieldValue[g - 1], layout.fieldMask[g - 1]);
    return out;
}

DecodedFrame decodeFields(std::int64_t v, const FrameLayout& layout)
{
    return decodeFields(v, layout, {});
}

QString fieldValueText(std::int64_t fieldValue)
{
    return QString::number(static_cast<std::int32_t>(fieldValue));
}

QString angleText(double degrees)
{
    return QString::asprintf("%.3f", degrees);
}

QString rawFrameText(std::int64_t v, DisplayBase base)
{
    switch (base) {
    case DisplayBase::Hex:
        return QString::number(static_cast<quint64>(v), 16).toUpper();
    case DisplayBase::Decimal:
        return QString::number(static_cast<qlonglong>(v));
    case DisplayBase::Binary:
        return QString::number(static_cast<quint64>(v), 2);
    }
    return {};
}
