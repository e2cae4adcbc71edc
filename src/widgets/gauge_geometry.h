#pragma once
// Geometry of the analog gauge: pure functions of the control's client
// rectangle and the gauge's constants, shared by the angle gauge and the force
// gauge. Integer quantities truncate toward zero; points on the dial round
// halves away from zero, as GDI-era drawing code of this dial did, so that the
// ticks land on the same pixels at every size.
#include <QColor>
#include <QPoint>
#include <QPolygon>
#include <QString>
#include <vector>

namespace gauge {

// Constants fixed at construction. The two instances differ in value range,
// needle width, rim width and colour, and label size.
struct Dial {
    double minValue = 0;
    double maxValue = 360;
    int startAngle = 90;  // degrees, anticlockwise from +x
    int endAngle = 90;
    int majorTicks = 36;
    int minorTicks = 5;   // per major division
    int labelDecimals = 0;
    QColor needleColour{255, 0, 0};
    int needleDivisor = 20;  // needle unit w = R / needleDivisor
    int ringDivisor = 100;   // rim ring count g = R / ringDivisor
    int fontDivisor = 9;     // label cell height = R / fontDivisor
    // Ring k of g is 255 - rimDarkening * k / g per component: the outermost,
    // widest ring gets the full darkening.
    int rimDarkening[3] = {116, 186, 236};
};

// Angle gauge of the main window (degrees) and force gauge (newtons).
Dial angleDial();
Dial forceDial();

// Windows-style client rectangle: right and bottom are exclusive.
struct ClientRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Rounds to the nearest integer, halves away from zero.
int roundHalfAway(double v);

// Scale span in degrees, clockwise from startAngle.
int span(const Dial& s);

struct Frame {
    int radius = 0;  // R
    QPoint centre;
    int needleUnit = 0;  // w
    int rings = 0;       // g
    int fontHeight = 0;  // label cell height
};
Frame frameFor(const Dial& s, const ClientRect& r);

// Point at radius r and dial angle `degrees` around `centre`, screen y down.
QPoint dialPoint(QPoint centre, double r, double degrees);

// Colour of rim ring k, 1 <= k <= g.
QColor rimColour(const Dial& s, int k, int g);

struct Tick {
    double angle = 0;  // degrees
    bool major = false;
    QPoint outer;
    QPoint inner;
};
// Tick step in hundredths of a degree.
int tickStepHundredths(const Dial& s);
std::vector<Tick> ticks(const Dial& s, const Frame& f);
// Outer tick ends in tick order: the needle's clip polygon.
QPolygon clipPolygon(const std::vector<Tick>& ticks);

// How a label's text is placed relative to its anchor.
enum class LabelAlign {
    CentreTop,      // centred, text top at the anchor
    RightBaseline,  // right end and baseline at the anchor
    CentreBottom,   // centred, text bottom at the anchor
    LeftBaseline,   // left end and baseline at the anchor
};
struct Label {
    int division = 0;  // major division m
    QString text;
    QPoint anchor;
    LabelAlign align = LabelAlign::CentreTop;
};
std::vector<Label> labels(const Dial& s, const Frame& f);
// Baseline-left origin of a label's text of the given advance width and
// font ascent/descent.
QPoint labelOrigin(const Label& l, int textWidth, int ascent, int descent);

// Needle angle in degrees for a value, clamped to the scale.
double needleAngle(const Dial& s, double value);

struct Needle {
    double angle = 0;  // degrees, clamped
    QPoint side1, tip, side2, tail;
};
Needle needle(const Dial& s, const Frame& f, double value);

struct HubRing {
    int radius = 0;
    int grey = 0;
};
// From the outermost ring (darkest) to radius 0 (white).
std::vector<HubRing> hubRings(const Frame& f);

}  // namespace gauge
