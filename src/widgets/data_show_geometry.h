#pragma once
// Geometry of the waveform chart: margins, plot rectangle, axis corners,
// scales, conversion of data points to pixel offsets and the inside test.
// Pure functions, so the layout rules can be checked without painting.
#include <QPoint>
#include <optional>
#include <span>
#include <vector>

namespace datashow {

struct Margins {
    double hm = 0.0;  // horizontal inset of the plot rectangle
    double vm = 0.0;  // vertical inset
};

// Plot rectangle in client coordinates; right and bottom are exclusive
// client edges inset by the margins, as in the client rectangle.
struct PlotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct Layout {
    Margins margins;
    PlotRect plot;
};

// Where the axes meet and where they end.
struct Axes {
    int x0 = 0;  // the y axis: plot left + 20
    int yB = 0;  // the x axis: plot bottom - 20
    int xR = 0;  // end of the x axis: plot right - 10
    int yT = 0;  // top of the y axis: plot top + 10
};

struct Ranges {
    double xMin = 0.0;
    double xMax = 1600.0;
    double yMin = 0.0;
    double yMax = 4.0;
};

// Data units per pixel.
struct Scales {
    double x = 0.0;
    double y = 0.0;
};

// A stored point: pixel offsets from the origin.
struct OffsetPoint {
    float x = 0.0f;
    float y = 0.0f;
};

enum class SeriesRule {
    SkipOutside,    // series 1: points outside are skipped, the line goes on
    StopAtOutside,  // series 2: the line ends at the first point outside
};

Margins margins(int width, int height);
Layout layout(int width, int height);
Axes axes(const PlotRect& plot);

// Usable height Q: plot height minus both vertical margins, truncated.
int usableHeight(const Layout& layout);
Scales scales(const Layout& previous, const Ranges& ranges);

OffsetPoint toOffset(double x, double y, const Ranges& ranges, const Scales& scales);

// Screen position of a stored point; nothing for offsets that are not finite
// or do not fit a pixel coordinate (such points are never inside).
std::optional<QPoint> screenPosition(OffsetPoint p, const Axes& axes);

// Edges included.
bool inside(const PlotRect& plot, QPoint p);

// Vertices of the polyline drawn for one series: starts at the first point
// inside the plot rectangle, then follows the series' rule.
std::vector<QPoint> seriesPolyline(std::span<const OffsetPoint> points, const PlotRect& plot,
                                   const Axes& axes, SeriesRule rule);

}  // namespace datashow
