// The ellipse fit on any samples: volts from 16-bit steps (what a track
// gives) or raw doubles (infinities and NaN included). It must not crash, and
// a result it calls finite must be.
#include "fuzz_input.h"
#include "sincos/sincos_ellipse_fit.h"

#include <cmath>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t mode = in.u8();
    std::vector<double> c, s;
    if (mode & 1) {
        while (in.left() >= 16 && c.size() < 2000) {
            double a, b;
            const std::uint64_t x = in.u64(), y = in.u64();
            std::memcpy(&a, &x, 8);
            std::memcpy(&b, &y, 8);
            c.push_back(a);
            s.push_back(b);
        }
    } else {
        // A few sample pairs repeated round a whole track, as a scope sees it.
        std::vector<std::pair<double, double>> base;
        while (in.left() >= 4 && base.size() < 400) {
            const double a = static_cast<std::int16_t>(in.u8() << 8 | in.u8()) / 6553.6;
            const double b = static_cast<std::int16_t>(in.u8() << 8 | in.u8()) / 6553.6;
            base.emplace_back(a, b);
        }
        for (std::size_t k = 0; !base.empty() && k < 1600; ++k) {
            c.push_back(base[k % base.size()].first);
            s.push_back(base[k % base.size()].second);
        }
    }
    const EllipseFitResult r = SinCosEllipseFit::fit(c, s);
    const bool finite = std::isfinite(r.cosCentre) && std::isfinite(r.sinCentre) && std::isfinite(r.majorAxis)
                        && std::isfinite(r.minorAxis) && std::isfinite(r.phaseDegrees);
    FUZZ_CHECK(r.allFinite() == finite);
    return 0;
}
