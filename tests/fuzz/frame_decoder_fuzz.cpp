// The frame decoder on any value and layout, checked against the layout
// table restated plainly, and its texts against the value.
#include "fuzz_input.h"
#include "interface/frame_decoder.h"

#include <cmath>
#include <cstdlib>

namespace {

std::int64_t plainShift(std::int64_t v, std::int64_t count)
{
    if (count < 0 || count > 63)
        return v < 0 ? -1 : 0;
    return v >> count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::int64_t v = static_cast<std::int64_t>(in.u64());
    const int n = static_cast<std::int8_t>(in.u8()) % 12;
    std::array<int, kMaxFields> widths{};
    const bool wide = in.bit();
    for (int& w : widths)
        w = wide ? static_cast<int>(in.u32()) : static_cast<std::int8_t>(in.u8()) % 70;
    const std::uint8_t f = in.u8();
    ModeFlags m;
    m.syncSerialMode = f & 1;
    m.spiMode = f & 2;
    m.incrementalMode = f & 4;
    m.rs485Mode = f & 8;
    m.rs485AbMode = f & 16;
    const int turnMode = (f >> 5) & 1;
    const int gauge = static_cast<std::int8_t>(in.u8()) % 12;
    const FrameLayout layout = makeFrameLayout(n, widths, m, turnMode, gauge);
    std::array<std::int64_t, kMaxFields> previous{};
    for (auto& p : previous)
        p = static_cast<std::int64_t>(in.u64());

    const DecodedFrame d = decodeFields(v, layout, previous);
    FUZZ_CHECK(d.fieldsDecoded == (n >= 1 && n <= kMaxFields ? n : 0));
    for (int k = d.fieldsDecoded; k < kMaxFields; ++k)
        FUZZ_CHECK(d.fieldValue[k] == previous[k]);
    if (d.spiCrcField)
        FUZZ_CHECK(*d.spiCrcField >= 0 && *d.spiCrcField <= 63);
    FUZZ_CHECK(d.gaugeAngle.has_value() == (gauge >= 1 && gauge <= kMaxFields));
    if (d.gaugeAngle)
        FUZZ_CHECK(std::isfinite(*d.gaugeAngle));

    // The ordinary layout and the incremental turn counter, plainly.
    const auto mask = [&](int k) { return static_cast<std::int64_t>(static_cast<std::int32_t>(fieldMaskOf(widths[k - 1]))); };
    if (n >= 3 && n <= kMaxFields && !m.spiMode && !m.rs485Mode && !m.rs485AbMode) {
        for (int k = 1; k <= n; ++k) {
            std::int64_t below = 0;
            for (int j = k + 1; j <= n; ++j)
                below += widths[j - 1];
            FUZZ_CHECK(d.fieldValue[k - 1] == (plainShift(v, below) & mask(k)));
        }
    }
    if (n == 2 && m.incrementalMode) {
        std::int64_t t = plainShift(v, 24);
        const std::int64_t limit = static_cast<std::int32_t>(fieldMaskOf(widths[1]) + 2u);
        if (t > limit)
            t = std::llabs(t - (std::int64_t{1} << 24));
        FUZZ_CHECK(d.fieldValue[0] == (t & mask(1)));
    }
    const std::int64_t count = static_cast<std::int32_t>(in.u32());
    FUZZ_CHECK(frameShift(v, count) == plainShift(v, count));

    // Texts.
    FUZZ_CHECK(fieldValueText(v).toInt() == static_cast<std::int32_t>(v));
    bool ok = false;
    FUZZ_CHECK(rawFrameText(v, DisplayBase::Hex).toULongLong(&ok, 16) == static_cast<std::uint64_t>(v) && ok);
    FUZZ_CHECK(rawFrameText(v, DisplayBase::Decimal).toLongLong(&ok) == v && ok);
    FUZZ_CHECK(rawFrameText(v, DisplayBase::Binary).toULongLong(&ok, 2) == static_cast<std::uint64_t>(v) && ok);
    return 0;
}
