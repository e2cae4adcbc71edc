#include "widgets/colour_button.h"
#include "widgets/lamp_images.h"
#include "widgets/rate_bar.h"
#include "widgets/screenshot_scenes.h"
#include "widgets/meter.h"

#include <QImage>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QColor kPressed(205, 205, 180);
const QColor kGreen(127, 255, 0);

std::vector<std::function<CColourButton*()>> allButtonClasses()
{
    return {[] { return new CMyColor; }, [] { return new CMyButton; },
            [] { return new CMyColor_force; }, [] { return new CMyGetID; }};
}

TEST(ColourButton, HeldDownShowsPressedFillInInverseFrame)
{
    for (const auto& make : allButtonClasses()) {
        std::unique_ptr<CColourButton> b(make());
        b->setText("Power control");
        b->resize(160, 30);
        b->setPressedColour(kPressed);
        b->setNormalColour(kGreen);
        b->setDown(true);
        QImage img = b->grab().toImage();
        const QColor frame(128, 0, 255);
        EXPECT_EQ(img.pixelColor(0, 0), frame) << b->metaObject()->className();
        EXPECT_EQ(img.pixelColor(80, 0), frame);
        EXPECT_EQ(img.pixelColor(159, 29), frame);
        EXPECT_EQ(img.pixelColor(0, 15), frame);
        EXPECT_EQ(img.pixelColor(3, 3), kPressed);
        EXPECT_EQ(img.pixelColor(156, 26), kPressed);

        // Released: normal fill right to the edge, no inverse frame left.
        b->setDown(false);
        img = b->grab().toImage();
        EXPECT_EQ(img.pixelColor(0, 0), kGreen);
        EXPECT_EQ(img.pixelColor(159, 29), kGreen);
        EXPECT_EQ(img.pixelColor(3, 3), kGreen);
    }
}

TEST(ColourButton, OwnerSwitchesColoursAndCaptionIsCentred)
{
    CMyButton b;
    b.resize(160, 30);
    b.setText("Clicking setting");
    EXPECT_EQ(b.pressedColour(), kPressed);  // defaults of the main window
    EXPECT_EQ(b.normalColour(), QColor(210, 105, 30));
    QImage img = b.grab().toImage();
    EXPECT_EQ(img.pixelColor(3, 3), QColor(210, 105, 30));

    b.setNormalColour(kGreen);  // settings applied
    img = b.grab().toImage();
    EXPECT_EQ(img.pixelColor(3, 3), kGreen);

    // Caption pixels lie around the middle and are symmetric within a few
    // pixels; the corners stay in the fill colour.
    int minX = 160, maxX = -1, minY = 30, maxY = -1;
    for (int y = 1; y < 29; ++y)
        for (int x = 1; x < 159; ++x)
            if (img.pixelColor(x, y) != kGreen) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    ASSERT_GE(maxX, 0) << "no caption drawn";
    EXPECT_NEAR(minX + maxX, 159, 4);
    EXPECT_NEAR(minY + maxY, 29, 5);
    EXPECT_EQ(inverseColour(QColor(210, 105, 30)), QColor(45, 150, 225));
}

QImage rateImage(int width, int value)
{
    CRate r;
    r.resize(width, 16);
    r.setRange(0, 60);
    r.setValue(value);
    return r.grab().toImage();
}

TEST(RateBar, FillsTruncatedShareOfTheInsetWidth)
{
    const QColor bar(128, 128, 255), bg(235, 235, 235);
    // Inset 2 px: 200 px wide, half is 100 px, x = 2..101.
    QImage img = rateImage(204, 30);
    EXPECT_EQ(img.pixelColor(2, 8), bar);
    EXPECT_EQ(img.pixelColor(101, 8), bar);
    EXPECT_EQ(img.pixelColor(102, 8), bg);
    EXPECT_EQ(img.pixelColor(201, 8), bg);
    EXPECT_EQ(img.pixelColor(101, 2), bar);   // full inset height
    EXPECT_EQ(img.pixelColor(101, 13), bar);
    EXPECT_NE(img.pixelColor(101, 1), bar);   // the edge is not covered
    EXPECT_NE(img.pixelColor(202, 8), bg);

    // Odd inset width 201: trunc(100.5) = 100.
    img = rateImage(205, 30);
    EXPECT_EQ(img.pixelColor(101, 8), bar);
    EXPECT_EQ(img.pixelColor(102, 8), bg);

    // At 0 only the background shows.
    img = rateImage(204, 0);
    for (int x = 2; x < 202; ++x)
        ASSERT_EQ(img.pixelColor(x, 8), bg) << x;

    // Full and a third (66.67 -> 66).
    img = rateImage(204, 60);
    EXPECT_EQ(img.pixelColor(201, 8), bar);
    img = rateImage(204, 20);
    EXPECT_EQ(img.pixelColor(67, 8), bar);
    EXPECT_EQ(img.pixelColor(68, 8), bg);

    EXPECT_EQ(ratebar::fillWidth(2, 202, 0, 60, 30), 100);
    EXPECT_EQ(ratebar::fillWidth(2, 202, 10, 10, 10), 0);  // empty range
    EXPECT_EQ(ratebar::fillWidth(2, 202, 0, 60, -1), -3);  // reset bar draws nothing
}

TEST(Lamps, ThreeDistinctImagesAndLabelFollowsState)
{
    const QImage unlit = lampPixmap(Lamp::Unlit).toImage();
    const QImage lit = lampPixmap(Lamp::Lit).toImage();
    const QImage passed = lampPixmap(Lamp::Passed).toImage();
    for (const QImage* img : {&unlit, &lit, &passed})
        ASSERT_EQ(img->size(), QSize(kLampSize, kLampSize));
    EXPECT_NE(unlit, lit);
    EXPECT_NE(lit, passed);

    const QPoint c(kLampSize / 2, kLampSize / 2);
    EXPECT_EQ(unlit.pixelColor(c).alpha(), 0);  // a ring: hollow middle
    EXPECT_EQ(unlit.pixelColor(c.x() + 7, c.y()), QColor(Qt::white));
    const QColor bulb = lit.pixelColor(c);
    EXPECT_GT(bulb.red(), 200);
    EXPECT_LT(bulb.green(), 120);
    int green = 0;
    for (int y = 0; y < kLampSize; ++y)
        for (int x = 0; x < kLampSize; ++x) {
            const QColor p = passed.pixelColor(x, y);
            green += p.alpha() == 255 && p.green() > 150 && p.red() < 80;
        }
    EXPECT_GT(green, 20);

    CLamp lamp;
    EXPECT_EQ(lamp.lamp(), Lamp::Unlit);
    lamp.setLamp(Lamp::Passed);
    EXPECT_EQ(lamp.lamp(), Lamp::Passed);
    EXPECT_EQ(lamp.pixmap().toImage(), passed);
}

TEST(ScreenshotScenes, RegistryHoldsOwnScenesAndTakesNewOnes)
{
    const QStringList names = sceneNames();
    for (const char* n : {"gauge", "force-gauge", "buttons"})
        EXPECT_TRUE(names.contains(n)) << n;
    EXPECT_EQ(createScene("no-such-scene"), nullptr);

    std::unique_ptr<QWidget> g(createScene("gauge"));
    auto* meter = qobject_cast<CMeter*>(g.get());
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->size(), QSize(400, 400));
    EXPECT_EQ(meter->value(), 90);

    registerScene("test-scene", [] { return new CRate; });
    EXPECT_TRUE(sceneNames().contains("test-scene"));
    std::unique_ptr<QWidget> r(createScene("test-scene"));
    EXPECT_NE(qobject_cast<CRate*>(r.get()), nullptr);

    std::unique_ptr<QWidget> b(createScene("buttons"));
    EXPECT_EQ(b->findChildren<CColourButton*>().size(), 4);
    EXPECT_EQ(b->findChildren<CLamp*>().size(), 3);
}

}  // namespace
