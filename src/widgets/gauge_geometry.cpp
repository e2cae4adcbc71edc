#include "widgets/gauge_geometry.h"

#include <algorithm>
#include <cmath>

namespace gauge {

namespace {
const double kPi = 4.0 * std::atan(1.0);
}

Dial angleDial()
{
    return Dial{};
}

Dial forceDial()
{
    Dial s;
    s.maxValue = 600;
    s.needleDivisor = 40;
    s.ringDivisor = 150;
    s.fontDivisor = 8;
    s.rimDarkening[0] = 0;
    s.rimDarkening[1] = 128;
    s.rimDarkening[2] = 219;
    return s;
}

int roundHalfAway(double v)
{
    return static_cast<int>(std::lround(v));
}

int span(const Dial& s)
{
    return s.startAngle + 360 - s.endAngle;
}

Frame frameFor(const Dial& s, const ClientRect& r)
{
    const int height = r.bottom - r.top;
    const int halfWidth = (r.right - r.left) / 2;
    Frame f;
    f.radius = static_cast<int>(std::max(height, halfWidth) / 2.1);
    f.centre = QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2 + f.radius / 30);
    f.needleUnit = f.radius / s.needleDivisor;
    f.rings = f.radius / s.ringDivisor;
    f.fontHeight = f.radius / s.fontDivisor;
    return f;
}

QPoint dialPoint(QPoint centre, double r, double degrees)
{
    const double phi = degrees * kPi / 180.0;
    return QPoint(roundHalfAway(centre.x() + r * std::cos(phi)),
                  roundHalfAway(centre.y() - r * std::sin(phi)));
}

QColor rimColour(const Dial& s, int k, int g)
{
    auto component = [&](int i) {
        return static_cast<int>(255.0 - static_cast<double>(s.rimDarkening[i]) * k / g);
    };
    return QColor(component(0), component(1), component(2));
}

int tickStepHundredths(const Dial& s)
{
    return 100 * span(s) / (s.majorTicks * s.minorTicks);
}

std::vector<Tick> ticks(const Dial& s, const Frame& f)
{
    std::vector<Tick> out;
    const int step = tickStepHundredths(s);
    if (step <= 0)
        return out;
    const int outerR = f.radius - 2 * f.rings;
    const int majorInnerR = 8 * f.radius / 10;
    const int minorInnerR = (outerR - majorInnerR) / 2 + majorInnerR;
    int j = 0;
    for (int a = 100 * s.startAngle; a >= 100 * (s.endAngle - 360); a -= step, ++j) {
        Tick t;
        t.angle = a / 100.0;
        t.major = j % s.minorTicks == 0;
        t.outer = dialPoint(f.centre, outerR, t.angle);
        t.inner = dialPoint(f.centre, t.major ? majorInnerR : minorInnerR, t.angle);
        out.push_back(t);
    }
    return out;
}

QPolygon clipPolygon(const std::vector<Tick>& ticks)
{
    QPolygon p;
    p.reserve(static_cast<int>(ticks.size()));
    for (const Tick& t : ticks)
        p << t.outer;
    return p;
}

std::vector<Label> labels(const Dial& s, const Frame& f)
{
    std::vector<Label> out;
    const int sp = span(s);
    const int majorInnerR = 8 * f.radius / 10;
    for (int m = 0; m <= s.majorTicks; ++m) {
        const double a = s.startAngle - static_cast<double>(m) * sp / s.majorTicks;
        LabelAlign align;
        if (m == 0 && a > 80 && a <= 100)
            align = LabelAlign::CentreTop;
        else if (m == 9 && a > -10 && a <= 10)
            align = LabelAlign::RightBaseline;
        else if (m == 18 && a > -180 && a <= -10)
            align = LabelAlign::CentreBottom;
        else if (m == 27 && a <= -180)
            align = LabelAlign::LeftBaseline;
        else
            continue;
        const double v = s.minValue + (s.maxValue - s.minValue) * m / s.majorTicks;
        Label l;
        l.division = m;
        l.text = QString::asprintf("%.*f", s.labelDecimals, v);
        l.anchor = dialPoint(f.centre, majorInnerR, a) + QPoint(0, f.fontHeight / 2);
        l.align = align;
        out.push_back(l);
    }
    return out;
}

QPoint labelOrigin(const Label& l, int textWidth, int ascent, int descent)
{
    const QPoint a = l.anchor;
    switch (l.align) {
    case LabelAlign::CentreTop:
        return QPoint(a.x() - textWidth / 2, a.y() + ascent);
    case LabelAlign::RightBaseline:
        return QPoint(a.x() - textWidth, a.y());
    case LabelAlign::CentreBottom:
        return QPoint(a.x() - textWidth / 2, a.y() - descent);
    case LabelAlign::LeftBaseline:
        return a;
    }
    return a;
}

double needleAngle(const Dial& s, double value)
{
    double a = s.startAngle - span(s) * (value - s.minValue) / (s.maxValue - s.minValue);
    if (a >= s.startAngle)
        a = s.startAngle;
    if (a <= s.endAngle - 360)
        a = s.endAngle - 360;
    return a;
}

Needle needle(const Dial& s, const Frame& f, double value)
{
    Needle n;
    n.angle = needleAngle(s, value);
    const double theta = n.angle * kPi / 180.0;
    const double len = 10 * f.needleUnit;
    const double c = std::cos(theta), sn = std::sin(theta);
    const int cx = f.centre.x(), cy = f.centre.y();
    const int dx = static_cast<int>(len * sn / 8), dy = static_cast<int>(len * c / 8);
    n.side1 = QPoint(cx - dx, cy - dy);
    n.tip = QPoint(roundHalfAway(cx + 0.95 * f.radius * c), roundHalfAway(cy - 0.95 * f.radius * sn));
    n.side2 = QPoint(cx + dx, cy + dy);
    n.tail = QPoint(roundHalfAway(cx - f.radius * c / 6), roundHalfAway(cy + f.radius * sn / 6));
    return n;
}

std::vector<HubRing> hubRings(const Frame& f)
{
    std::vector<HubRing> out;
    const int w = f.needleUnit;
    if (w <= 0) {
        out.push_back({0, 255});
        return out;
    }
    for (int r = 3 * w / 4; r >= 0; --r)
        out.push_back({r, roundHalfAway(255.0 - r * 255.0 * 4.0 / (3.0 * w))});
    return out;
}

}  // namespace gauge
