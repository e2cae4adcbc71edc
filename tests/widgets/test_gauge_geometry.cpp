#include "widgets/gauge_geometry.h"

#include <gtest/gtest.h>

using namespace gauge;

namespace {

const ClientRect k300x200{0, 0, 300, 200};
const ClientRect k400x400{0, 0, 400, 400};

TEST(GaugeGeometry, RadiusAndCentreFromClientRect)
{
    const Frame f = frameFor(angleDial(), k300x200);
    EXPECT_EQ(f.radius, 95);  // 200 / 2.1
    EXPECT_EQ(f.centre, QPoint(150, 103));  // 3 px below the middle

    // Half the width wins when it is larger than the height.
    EXPECT_EQ(frameFor(angleDial(), ClientRect{0, 0, 500, 100}).radius, 119);  // 250 / 2.1
    // Offset rectangles keep the centre in the rectangle.
    EXPECT_EQ(frameFor(angleDial(), ClientRect{10, 20, 310, 220}).centre, QPoint(160, 123));
}

TEST(GaugeGeometry, PerGaugeConstants)
{
    const Frame a = frameFor(angleDial(), k400x400);
    EXPECT_EQ(a.radius, 190);
    EXPECT_EQ(a.needleUnit, 9);  // R / 20
    EXPECT_EQ(a.rings, 1);       // R / 100
    EXPECT_EQ(a.fontHeight, 21); // R / 9

    const Frame f = frameFor(forceDial(), k400x400);
    EXPECT_EQ(f.needleUnit, 4);  // R / 40
    EXPECT_EQ(f.rings, 1);       // R / 150
    EXPECT_EQ(f.fontHeight, 23); // R / 8
}

TEST(GaugeGeometry, RoundingIsHalfAwayFromZero)
{
    EXPECT_EQ(roundHalfAway(2.5), 3);
    EXPECT_EQ(roundHalfAway(-2.5), -3);
    EXPECT_EQ(roundHalfAway(2.4999), 2);
    EXPECT_EQ(roundHalfAway(-0.5), -1);
}

TEST(GaugeGeometry, RimRingColoursTruncateAndShadeOutward)
{
    const Dial a = angleDial();
    // g = 3: ring 1 = 255 - 116/3 = 216.33 -> 216, 255 - 62 = 193, 255 - 78.67 -> 176
    EXPECT_EQ(rimColour(a, 1, 3), QColor(216, 193, 176));
    EXPECT_EQ(rimColour(a, 3, 3), QColor(139, 69, 19));  // outermost, darkest

    const Dial f = forceDial();
    EXPECT_EQ(rimColour(f, 1, 3), QColor(255, 212, 182));  // 255-42.67, 255-73
    EXPECT_EQ(rimColour(f, 3, 3), QColor(255, 127, 36));
}

TEST(GaugeGeometry, TicksOfTheFullCircleScale)
{
    const Dial s = angleDial();
    const Frame f = frameFor(s, k400x400);
    EXPECT_EQ(tickStepHundredths(s), 200);
    const auto ts = ticks(s, f);
    ASSERT_EQ(ts.size(), 181u);

    // First and last coincide at the top.
    EXPECT_DOUBLE_EQ(ts.front().angle, 90.0);
    EXPECT_DOUBLE_EQ(ts.back().angle, -270.0);
    EXPECT_EQ(ts.front().outer, ts.back().outer);
    EXPECT_EQ(ts.front().outer, QPoint(200, f.centre.y() - (190 - 2)));

    // Every fifth tick is major and reaches in to 8R/10; the others stop halfway.
    int majors = 0;
    for (size_t j = 0; j < ts.size(); ++j) {
        EXPECT_EQ(ts[j].major, j % 5 == 0) << j;
        majors += ts[j].major;
    }
    EXPECT_EQ(majors, 37);
    EXPECT_EQ(ts[0].inner, QPoint(200, f.centre.y() - 152));        // 8 * 190 / 10
    EXPECT_EQ(ts[1].inner, dialPoint(f.centre, 170, 88.0));         // (188 - 152) / 2 + 152
    // Clockwise: tick 45 is at 0 degrees, on the right.
    EXPECT_EQ(ts[45].outer, QPoint(200 + 188, f.centre.y()));

    const QPolygon clip = clipPolygon(ts);
    ASSERT_EQ(clip.size(), 181);
    EXPECT_EQ(clip.first(), ts.front().outer);
}

TEST(GaugeGeometry, LabelsStandInsideTheScaleAtTheFourQuarters)
{
    const Dial s = angleDial();
    const Frame f = frameFor(s, k400x400);
    const auto ls = labels(s, f);
    ASSERT_EQ(ls.size(), 4u);
    const int cy = f.centre.y(), half = f.fontHeight / 2;

    EXPECT_EQ(ls[0].text, "0");
    EXPECT_EQ(ls[0].align, LabelAlign::CentreTop);
    EXPECT_EQ(ls[0].anchor, QPoint(200, cy - 152 + half));
    EXPECT_EQ(ls[1].text, "90");
    EXPECT_EQ(ls[1].align, LabelAlign::RightBaseline);
    EXPECT_EQ(ls[1].anchor, QPoint(352, cy + half));
    EXPECT_EQ(ls[2].text, "180");
    EXPECT_EQ(ls[2].align, LabelAlign::CentreBottom);
    EXPECT_EQ(ls[2].anchor, QPoint(200, cy + 152 + half));
    EXPECT_EQ(ls[3].text, "270");
    EXPECT_EQ(ls[3].align, LabelAlign::LeftBaseline);
    EXPECT_EQ(ls[3].anchor, QPoint(48, cy + half));

    QStringList force;
    for (const Label& l : labels(forceDial(), f))
        force << l.text;
    EXPECT_EQ(force, QStringList({"0", "150", "300", "450"}));

    Dial decimals = s;
    decimals.labelDecimals = 2;
    EXPECT_EQ(labels(decimals, f)[1].text, "90.00");
}

TEST(GaugeGeometry, LabelOriginFollowsAlignment)
{
    Label l;
    l.anchor = QPoint(100, 50);
    const int width = 30, ascent = 17, descent = 4;
    l.align = LabelAlign::CentreTop;
    EXPECT_EQ(labelOrigin(l, width, ascent, descent), QPoint(85, 67));
    l.align = LabelAlign::RightBaseline;
    EXPECT_EQ(labelOrigin(l, width, ascent, descent), QPoint(70, 50));
    l.align = LabelAlign::CentreBottom;
    EXPECT_EQ(labelOrigin(l, width, ascent, descent), QPoint(85, 46));
    l.align = LabelAlign::LeftBaseline;
    EXPECT_EQ(labelOrigin(l, width, ascent, descent), QPoint(100, 50));
}

TEST(GaugeGeometry, NeedleAngleAndClamping)
{
    const Dial a = angleDial(), f = forceDial();
    EXPECT_DOUBLE_EQ(needleAngle(a, 90), 0.0);   // right
    EXPECT_DOUBLE_EQ(needleAngle(f, 150), 0.0);  // 150 N, right
    EXPECT_DOUBLE_EQ(needleAngle(a, 0), 90.0);
    EXPECT_DOUBLE_EQ(needleAngle(a, 180), -90.0);
    EXPECT_DOUBLE_EQ(needleAngle(f, 300), -90.0);
    // Out of range: the start and the end of the scale, both at the top.
    EXPECT_DOUBLE_EQ(needleAngle(a, -45), 90.0);
    EXPECT_DOUBLE_EQ(needleAngle(a, 720), -270.0);
    EXPECT_DOUBLE_EQ(needleAngle(f, 601), -270.0);
}

TEST(GaugeGeometry, NeedlePolygonPoints)
{
    const Dial s = angleDial();
    const Frame f = frameFor(s, k400x400);  // R 190, w 9, L 90, centre (200, 206)
    const Needle right = needle(s, f, 90);
    EXPECT_EQ(right.side1, QPoint(200, 206 - 11));  // trunc(90 / 8) across the needle
    EXPECT_EQ(right.side2, QPoint(200, 206 + 11));
    EXPECT_EQ(right.tip, QPoint(200 + 181, 206));   // 0.95 * 190 = 180.5 -> 181
    EXPECT_EQ(right.tail, QPoint(200 - 32, 206));   // 190 / 6 = 31.67 -> 32

    const Needle up = needle(s, f, 0);
    EXPECT_EQ(up.tip, QPoint(200, 26));  // the coordinate rounds: 25.5 -> 26
    EXPECT_EQ(up.side1, QPoint(200 - 11, 206));
    EXPECT_EQ(up.tail, QPoint(200, 206 + 32));

    // 45 degrees: the side offsets truncate, the tip and tail round.
    const Needle diag = needle(s, f, 45);
    EXPECT_DOUBLE_EQ(diag.angle, 45.0);
    EXPECT_EQ(diag.side1, QPoint(200 - 7, 206 - 7));  // 90 * 0.7071 / 8 = 7.95 -> 7
    EXPECT_EQ(diag.tip, QPoint(200 + 128, 206 - 128)); // 180.5 * 0.7071 = 127.6
}

TEST(GaugeGeometry, HubGoesFromDarkRimToWhiteCentre)
{
    Frame f;
    f.needleUnit = 8;  // radii 6..0
    const auto hub = hubRings(f);
    ASSERT_EQ(hub.size(), 7u);
    EXPECT_EQ(hub.front().radius, 6);
    EXPECT_EQ(hub.front().grey, 0);  // 255 - 6 * 1020 / 24
    EXPECT_EQ(hub[1].radius, 5);
    EXPECT_EQ(hub[1].grey, 43);      // 42.5 rounds away from zero
    EXPECT_EQ(hub.back().radius, 0);
    EXPECT_EQ(hub.back().grey, 255);

    f.needleUnit = 9;  // 3 * 9 / 4 = 6: the rim ring is not quite black
    EXPECT_EQ(hubRings(f).front().grey, 28);  // 255 - 226.67
}

}  // namespace
