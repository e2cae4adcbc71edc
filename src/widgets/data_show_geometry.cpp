#include "widgets/data_show_geometry.h"

#include <cmath>
#include <limits>

namespace datashow {

Margins margins(int width, int height)
{
    Margins m{width / 10.0, height / 10.0};
    if (m.hm > 20)
        m.hm = 15;
    if (m.vm > 10)
        m.vm = 3;
    if (m.hm < 10)
        m.hm = 0;
    if (m.vm < 5)
        m.vm = 3;
    return m;
}

Layout layout(int width, int height)
{
    Layout l;
    l.margins = margins(width, height);
    l.plot.left = static_cast<int>(0 + l.margins.hm);
    l.plot.right = static_cast<int>(width - l.margins.hm);
    l.plot.top = static_cast<int>(0 + l.margins.vm);
    l.plot.bottom = static_cast<int>(height - l.margins.vm);
    return l;
}

Axes axes(const PlotRect& plot)
{
    return Axes{plot.left + 20, plot.bottom - 20, plot.right - 10, plot.top + 10};
}

int usableHeight(const Layout& layout)
{
    return static_cast<int>((layout.plot.bottom - layout.plot.top) - 2 * layout.margins.vm);
}

Scales scales(const Layout& previous, const Ranges& ranges)
{
    const int p = previous.plot.right - previous.plot.left;
    const int q = usableHeight(previous);
    // A zero width or height gives infinite scales; the points converted with
    // them are not finite and fail the inside test.
    return Scales{(ranges.xMax - ranges.xMin) / p, (ranges.yMax - ranges.yMin) / q};
}

OffsetPoint toOffset(double x, double y, const Ranges& ranges, const Scales& scales)
{
    return OffsetPoint{static_cast<float>((x - ranges.xMin) / scales.x),
                       static_cast<float>((y - ranges.yMin) / scales.y)};
}

std::optional<QPoint> screenPosition(OffsetPoint p, const Axes& axes)
{
    // Float arithmetic, then truncation toward zero.
    const float sx = static_cast<float>(axes.x0) + p.x;
    const float sy = static_cast<float>(axes.yB) - p.y;
    constexpr float lo = static_cast<float>(std::numeric_limits<int>::min());
    constexpr float hi = 2147483520.0f;  // largest float below 2^31
    if (!std::isfinite(sx) || !std::isfinite(sy) || sx < lo || sx > hi || sy < lo || sy > hi)
        return std::nullopt;
    return QPoint(static_cast<int>(sx), static_cast<int>(sy));
}

bool inside(const PlotRect& plot, QPoint p)
{
    return p.x() >= plot.left && p.x() <= plot.right && p.y() >= plot.top && p.y() <= plot.bottom;
}

std::vector<QPoint> seriesPolyline(std::span<const OffsetPoint> points, const PlotRect& plot,
                                   const Axes& axes, SeriesRule rule)
{
    std::vector<QPoint> out;
    bool started = false;
    for (const OffsetPoint& op : points) {
        const std::optional<QPoint> sp = screenPosition(op, axes);
        const bool in = sp && inside(plot, *sp);
        if (!started) {
            if (in) {
                out.push_back(*sp);
                started = true;
            }
            continue;
        }
        if (in)
            out.push_back(*sp);
        else if (rule == SeriesRule::StopAtOutside)
            break;
    }
    return out;
}

}  // namespace datashow
