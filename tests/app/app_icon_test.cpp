// The embedded window icon: each theme size comes from its own picture, and
// the resource survives linking from the static library.
#include "app/quillmark_app.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

TEST(ApplicationIcon, EverySizeIsItsOwnPicture)
{
    const QIcon icon = CQuillmarkApp::applicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {48, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(size, size));
        // Transparent outside the disc, the light hub in the middle.
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        const QColor hub = image.pixelColor(size / 2, size / 2);
        EXPECT_EQ(hub.alpha(), 255);
        EXPECT_GT(hub.lightness(), 200);
    }
}
