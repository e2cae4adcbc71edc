#include "app/about_dialog.h"

#include "ui_about_dialog.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui_->pictureLabel->setPixmap(encoderDiscPixmap(ui_->pictureLabel->width(), devicePixelRatioF()));
}

CAboutDlg::~CAboutDlg() = default;

QPixmap encoderDiscPixmap(int size, qreal devicePixelRatio)
{
    QPixmap pm(QSize(size, size) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);

    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(size / 2.0, size / 2.0);
    const qreal outer = size / 2.0 - 1;

    // Glass disc with a steel rim.
    p.setPen(QPen(QColor(90, 90, 96), 1.5));
    p.setBrush(QColor(226, 232, 238));
    p.drawEllipse(c, outer, outer);

    // Gray-code tracks: track t (outermost = least significant) has 2^(t+1)
    // sectors, opaque where the Gray code bit is set.
    constexpr int kTracks = 5;
    const qreal trackWidth = outer * 0.62 / kTracks;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 44, 52));
    constexpr int kSectors = 1 << kTracks;
    for (int t = 0; t < kTracks; ++t) {
        const qreal r1 = outer - 3 - t * trackWidth;
        const qreal r0 = r1 - trackWidth + 1;
        const int bit = t;
        for (int s = 0; s < kSectors; ++s) {
            const int gray = s ^ (s >> 1);
            if (!(gray >> bit & 1))
                continue;
            const qreal a0 = 90.0 - 360.0 * s / kSectors;
            const qreal sweep = -360.0 / kSectors;
            QPainterPath sector;
            sector.arcMoveTo(QRectF(c.x() - r1, c.y() - r1, 2 * r1, 2 * r1), a0);
            sector.arcTo(QRectF(c.x() - r1, c.y() - r1, 2 * r1, 2 * r1), a0, sweep);
            sector.arcTo(QRectF(c.x() - r0, c.y() - r0, 2 * r0, 2 * r0), a0 + sweep, -sweep);
            sector.closeSubpath();
            p.drawPath(sector);
        }
    }

    // Thin rings between the tracks.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(150, 156, 164), 0.6));
    for (int t = 0; t <= kTracks; ++t) {
        const qreal r = outer - 3 - t * trackWidth + 0.5;
        p.drawEllipse(c, r, r);
    }

    // Hub and shaft.
    const qreal hub = outer - 3 - kTracks * trackWidth - 2;
    p.setBrush(QColor(170, 176, 184));
    p.setPen(QPen(QColor(90, 90, 96), 1));
    p.drawEllipse(c, hub, hub);
    p.setBrush(QColor(70, 74, 80));
    p.drawEllipse(c, hub * 0.35, hub * 0.35);

    // The read head over the top of the tracks.
    p.setBrush(QColor(200, 40, 40, 200));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(c.x() - 2, c.y() - outer + 1, 4, kTracks * trackWidth + 2));
    return pm;
}
