#include "widgets/meter.h"

#include <QImage>
#include <QPalette>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QColor kRed(255, 0, 0);

QColor pixel(const QImage& img, QPoint p)
{
    return img.pixelColor(p);
}

template <class Gauge>
std::unique_ptr<Gauge> shownGauge(int w, int h, double value)
{
    auto g = std::make_unique<Gauge>();
    g->setAttribute(Qt::WA_DontShowOnScreen);
    g->resize(w, h);
    g->setValue(value);
    g->show();
    return g;
}

TEST(GaugeWidget, NeedlePointsWhereTheValueSays)
{
    auto m = shownGauge<CMeter>(400, 400, 90);
    const QPoint c = m->frame().centre;  // (200, 206)
    QImage img = m->grab().toImage();
    EXPECT_EQ(pixel(img, c + QPoint(100, 0)), kRed);  // right
    EXPECT_NE(pixel(img, c + QPoint(0, -100)), kRed);
    EXPECT_EQ(pixel(img, c + QPoint(-20, 0)), kRed);  // tail, R / 6 = 32 px
    EXPECT_NE(pixel(img, c + QPoint(-40, 0)), kRed);

    m->setValue(180);
    img = m->grab().toImage();
    EXPECT_EQ(pixel(img, c + QPoint(0, 100)), kRed);  // down
    EXPECT_NE(pixel(img, c + QPoint(100, 0)), kRed);

    // Below and above the range: both ends of the full circle are the top.
    for (double v : {-30.0, 1000.0}) {
        m->setValue(v);
        img = m->grab().toImage();
        EXPECT_EQ(pixel(img, c + QPoint(0, -100)), kRed) << v;
        EXPECT_NE(pixel(img, c + QPoint(100, 0)), kRed) << v;
    }

    auto f = shownGauge<CMeter_fprce>(400, 400, 150);
    img = f->grab().toImage();
    EXPECT_EQ(pixel(img, f->frame().centre + QPoint(100, 0)), kRed);
    EXPECT_NE(pixel(img, f->frame().centre + QPoint(0, -100)), kRed);
}

TEST(GaugeWidget, FaceHasBorderTicksAndWhiteHub)
{
    auto m = shownGauge<CMeter>(400, 400, 90);
    const QImage img = m->grab().toImage();
    const QPoint c = m->frame().centre;
    EXPECT_EQ(pixel(img, QPoint(0, 0)), QColor(Qt::black));
    EXPECT_EQ(pixel(img, QPoint(399, 399)), QColor(Qt::black));
    EXPECT_EQ(pixel(img, QPoint(5, 5)), m->palette().color(QPalette::Button));
    // Top major tick runs from R - 2g = 188 to 8R/10 = 152 above the centre.
    EXPECT_EQ(pixel(img, c + QPoint(0, -170)), QColor(Qt::black));
    EXPECT_EQ(pixel(img, c), QColor(Qt::white));  // hub centre
}

TEST(GaugeWidget, FaceIsCachedUntilResize)
{
    auto m = shownGauge<CMeter>(300, 200, 90);
    EXPECT_FALSE(m->hasCachedFace());
    QImage small = m->grab().toImage();
    EXPECT_TRUE(m->hasCachedFace());
    EXPECT_EQ(m->cachedFaceSize(), QSize(300, 200));
    EXPECT_EQ(m->faceBuilds(), 1);

    // Needle-only repaints reuse the face.
    m->setValue(10);
    m->grab();
    m->setValue(300);
    m->grab();
    EXPECT_EQ(m->faceBuilds(), 1);

    m->resize(400, 400);
    EXPECT_FALSE(m->hasCachedFace());
    m->setValue(90);
    const QImage big = m->grab().toImage();
    EXPECT_EQ(m->faceBuilds(), 2);
    EXPECT_EQ(m->cachedFaceSize(), QSize(400, 400));
    ASSERT_EQ(big.size(), QSize(400, 400));
    // The top tick now lies 152..188 px above the centre (200, 206); at the
    // old size the dial (R 95) did not reach there.
    EXPECT_EQ(pixel(big, QPoint(200, 40)), QColor(Qt::black));
    EXPECT_EQ(pixel(big, QPoint(200 + 150, 206)), kRed);
    EXPECT_EQ(pixel(small, QPoint(150 + 60, 103)), kRed);
}

}  // namespace
