#include "widgets/data_show.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace datashow;

TEST(DataShowGeometry, MarginRules)
{
    EXPECT_EQ(margins(90, 300).hm, 0.0);   // 9 is below 10: no horizontal inset
    EXPECT_EQ(margins(300, 300).hm, 15.0); // 30 is above 20: capped at 15
    EXPECT_EQ(margins(150, 300).hm, 15.0);
    EXPECT_EQ(margins(200, 300).hm, 20.0); // 20 is neither above 20 nor below 10
    EXPECT_EQ(margins(300, 300).vm, 3.0);  // 30 above 10
    EXPECT_EQ(margins(300, 80).vm, 8.0);
    EXPECT_EQ(margins(300, 40).vm, 3.0);   // 4 below 5
    EXPECT_EQ(margins(125, 300).hm, 12.5);
}

TEST(DataShowGeometry, LayoutAxesAndScalesOf600By300)
{
    const Layout l = layout(600, 300);
    EXPECT_EQ(l.plot.left, 15);
    EXPECT_EQ(l.plot.right, 585);
    EXPECT_EQ(l.plot.top, 3);
    EXPECT_EQ(l.plot.bottom, 297);
    const Axes a = axes(l.plot);
    EXPECT_EQ(a.x0, 35);
    EXPECT_EQ(a.yB, 277);
    EXPECT_EQ(a.xR, 575);
    EXPECT_EQ(a.yT, 13);
    EXPECT_EQ(usableHeight(l), 288);
    const Scales s = scales(l, Ranges{});
    EXPECT_DOUBLE_EQ(s.x, 1600.0 / 570.0);
    EXPECT_DOUBLE_EQ(s.y, 4.0 / 288.0);
    // Fractional margins are truncated with the edges.
    const Layout f = layout(125, 300);
    EXPECT_EQ(f.plot.left, 12);
    EXPECT_EQ(f.plot.right, 112);
}

TEST(DataShowGeometry, InsideTestIncludesEdges)
{
    const PlotRect r{15, 3, 585, 297};
    EXPECT_TRUE(inside(r, {15, 3}));
    EXPECT_TRUE(inside(r, {585, 297}));
    EXPECT_TRUE(inside(r, {585, 3}));
    EXPECT_FALSE(inside(r, {586, 100}));
    EXPECT_FALSE(inside(r, {14, 100}));
    EXPECT_FALSE(inside(r, {100, 2}));
    EXPECT_FALSE(inside(r, {100, 298}));
}

TEST(DataShowGeometry, ScreenPositionTruncatesAndRejectsNonFinite)
{
    const Axes a{35, 277, 575, 13};
    EXPECT_EQ(screenPosition({10.9f, 5.5f}, a), QPoint(45, 271));
    EXPECT_FALSE(screenPosition({NAN, 1.0f}, a).has_value());
    EXPECT_FALSE(screenPosition({1.0f, INFINITY}, a).has_value());
    EXPECT_FALSE(screenPosition({3e10f, 1.0f}, a).has_value());
}

namespace {

std::vector<OffsetPoint> offsets(const std::vector<double>& ys, const Layout& l)
{
    const Scales s = scales(l, Ranges{});
    std::vector<OffsetPoint> out;
    for (std::size_t i = 0; i < ys.size(); ++i)
        out.push_back(toOffset(100.0 * static_cast<double>(i), ys[i], Ranges{}, s));
    return out;
}

}  // namespace

TEST(DataShowGeometry, SeriesOneSkipsAndSeriesTwoStopsAbovetheUsableHeight)
{
    const Layout l = layout(600, 300);
    const Axes a = axes(l.plot);
    // 4.0 V is 288 px above the x axis at 277: y = -11, above the plot.
    const std::vector<OffsetPoint> pts = offsets({1.0, 2.0, 4.0, 3.9, 1.5, 0.5}, l);
    const std::vector<QPoint> one = seriesPolyline(pts, l.plot, a, SeriesRule::SkipOutside);
    const std::vector<QPoint> two = seriesPolyline(pts, l.plot, a, SeriesRule::StopAtOutside);
    ASSERT_EQ(one.size(), 4u);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(one[1], two[1]);
    EXPECT_EQ(one[2].y(), 277 - static_cast<int>(1.5 / (4.0 / 288.0)));

    // Both start at the first inside point, whatever lies before it.
    const std::vector<OffsetPoint> late = offsets({4.0, 3.95, 1.0, 1.0}, l);
    EXPECT_EQ(seriesPolyline(late, l.plot, a, SeriesRule::SkipOutside).size(), 2u);
    EXPECT_EQ(seriesPolyline(late, l.plot, a, SeriesRule::StopAtOutside).size(), 2u);
}

TEST(DataShowGeometry, PointOnTheEdgeIsDrawnAndTheLast20PixelsAreNot)
{
    const Layout l = layout(600, 300);
    const Axes a = axes(l.plot);
    // x offset 550 lands on the right edge (35 + 550 = 585); 551 is beyond.
    const std::vector<OffsetPoint> pts{{0.0f, 0.0f}, {550.0f, 0.0f}, {551.0f, 0.0f}};
    EXPECT_EQ(seriesPolyline(pts, l.plot, a, SeriesRule::StopAtOutside).size(), 2u);
    // x = 1600 converts to the whole plot width, 20 px right of the plot.
    const OffsetPoint end = toOffset(1600.0, 1.0, Ranges{}, scales(l, Ranges{}));
    EXPECT_FLOAT_EQ(end.x, 570.0f);
    EXPECT_FALSE(inside(l.plot, *screenPosition(end, a)));
}

TEST(DataShowGeometry, ZeroSizeGivesNonFiniteScalesAndNothingInside)
{
    const Layout l = layout(0, 0);
    const Scales s = scales(l, Ranges{});
    const OffsetPoint p = toOffset(800.0, 2.0, Ranges{}, s);
    EXPECT_TRUE(seriesPolyline(std::vector<OffsetPoint>{p, p}, l.plot, axes(l.plot), SeriesRule::SkipOutside)
                    .empty());
}

namespace {

int countColour(const QImage& img, QRgb colour, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

void fillWave(std::vector<double>& x, std::vector<double>& y, double phase)
{
    x.clear();
    y.clear();
    for (int i = 0; i < 1600; ++i) {
        x.push_back(i);
        y.push_back(2.0 + 1.5 * std::sin(6.283185307179586 * i / 400.0 + phase));
    }
}

}  // namespace

TEST(DataShowWidget, EmptyChartDrawsFrameAndAxesOnly)
{
    CDataShow chart;
    chart.resize(600, 300);
    const QImage img = chart.renderImage();
    EXPECT_EQ(img.pixel(2, 2) & 0xFFFFFF, 0x006464u);       // background
    EXPECT_EQ(img.pixel(300, 150) & 0xFFFFFF, 0x000000u);   // plot area
    EXPECT_EQ(img.pixel(35, 150) & 0xFFFFFF, 0xFFFF00u);    // y axis
    EXPECT_EQ(img.pixel(300, 277) & 0xFFFFFF, 0xFFFF00u);   // x axis
    EXPECT_EQ(countColour(img, qRgb(255, 0, 0), img.rect()), 0);
    // Nothing yellow inside the plot away from the axes.
    EXPECT_EQ(countColour(img, qRgb(255, 255, 0), QRect(60, 40, 480, 200)), 0);
}

TEST(DataShowWidget, SeriesAreDrawnInTheirColoursAndCapacityIsEnforced)
{
    CDataShow chart;
    chart.resize(600, 300);
    chart.renderImage();
    std::vector<double> x, y;
    fillWave(x, y, 0.0);
    ASSERT_TRUE(chart.setSeries1(y.data(), x.data(), 1600));
    chart.setSeriesColour(1, QColor(255, 0, 0));
    const QImage img = chart.renderImage();
    EXPECT_GT(countColour(img, qRgb(255, 0, 0), QRect(60, 40, 480, 200)), 500);

    std::vector<double> many(CDataShow::kCapacity + 1, 1.0);
    EXPECT_FALSE(chart.setSeries2(many.data(), many.data(), CDataShow::kCapacity + 1));
    EXPECT_EQ(chart.seriesCount(2), 0);
    EXPECT_FALSE(chart.setSeries1(many.data(), many.data(), -1));
    EXPECT_EQ(chart.seriesCount(1), 1600);
    EXPECT_TRUE(chart.setSeries2(many.data(), many.data(), CDataShow::kCapacity));
    EXPECT_EQ(chart.seriesCount(2), CDataShow::kCapacity);
}

TEST(DataShowWidget, ConversionUsesTheScalesOfThePreviousPaint)
{
    CDataShow chart;
    chart.resize(600, 300);
    chart.renderImage();  // plot width 570
    chart.resize(300, 150);
    // Converted with 1600/570 per pixel: x = 800 lands 285 px right of the
    // axis, which is outside the new, narrower plot.
    const double x[] = {0.0, 800.0};
    const double y[] = {1.0, 1.0};
    chart.setSeries1(y, x, 2);
    chart.setSeriesColour(1, QColor(255, 0, 0));
    const QImage img = chart.renderImage();
    EXPECT_EQ(countColour(img, qRgb(255, 0, 0), img.rect()), 0);
}

TEST(DataShowWidget, MousePressesAndReleasesAreSwallowed)
{
    struct Parent : QWidget {
        int presses = 0;
        void mousePressEvent(QMouseEvent*) override { ++presses; }
        void mouseReleaseEvent(QMouseEvent*) override { ++presses; }
    } parent;
    auto* chart = new CDataShow(&parent);
    chart->resize(200, 100);
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(50, 50), b, b, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(50, 50), QPointF(50, 50), b, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(chart, &press);
        QApplication::sendEvent(chart, &release);
    }
    EXPECT_EQ(parent.presses, 0);
}

TEST(DataShowWidget, RendersTheAnalysisChartToPng)
{
    CDataShow chart;
    chart.resize(600, 300);
    chart.show();
    chart.renderImage();
    std::vector<double> x, y1, y2;
    fillWave(x, y1, 0.0);
    // Series 2 reaches above the usable height and stops there.
    fillWave(x, y2, 1.6);
    for (std::size_t i = 0; i < y2.size(); ++i)
        y2[i] = 1.5 + (y2[i] - 2.0) * 0.6 + 0.0012 * static_cast<double>(i);
    chart.setSeries1(y1.data(), x.data(), 1600);
    chart.setSeries2(y2.data(), x.data(), 1600);
    chart.setSeriesColour(1, QColor(255, 0, 0));
    chart.setSeriesColour(2, QColor(255, 255, 0));
    const QPixmap shot = chart.grab();
    // Written beside the test program, not into the sources; docs/screens
    // holds a copy made with the screenshot tool.
    const QString dir = QCoreApplication::applicationDirPath() + "/screens";
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(shot.save(dir + "/chart.png"));
    EXPECT_EQ(shot.width(), 600);
}
