#include "widgets/lamp_images.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

QImage drawLamp(Lamp lamp)
{
    const qreal s = kLampSize;
    QImage pm(kLampSize, kLampSize, QImage::Format_ARGB32_Premultiplied);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(s / 2, s / 2);

    switch (lamp) {
    case Lamp::Unlit: {
        // White ring with a thin grey outline so that it reads on a light
        // dialog background.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(128, 128, 128), 5.0));
        p.drawEllipse(c, s * 0.30, s * 0.30);
        p.setPen(QPen(Qt::white, 3.0));
        p.drawEllipse(c, s * 0.30, s * 0.30);
        break;
    }
    case Lamp::Lit: {
        // Eight short rays round a glowing red bulb.
        p.setPen(QPen(QColor(230, 30, 30), 1.6, Qt::SolidLine, Qt::RoundCap));
        const double pi = 4.0 * std::atan(1.0);
        for (int i = 0; i < 8; ++i) {
            const double a = i * pi / 4 + pi / 8;
            const QPointF d(std::cos(a), std::sin(a));
            p.drawLine(c + d * (s * 0.36), c + d * (s * 0.48));
        }
        QRadialGradient g(c - QPointF(s * 0.08, s * 0.08), s * 0.30);
        g.setColorAt(0.0, QColor(255, 190, 190));
        g.setColorAt(0.45, QColor(255, 30, 30));
        g.setColorAt(1.0, QColor(150, 0, 0));
        p.setPen(QPen(QColor(110, 0, 0), 1.0));
        p.setBrush(g);
        p.drawEllipse(c, s * 0.28, s * 0.28);
        break;
    }
    case Lamp::Passed: {
        QPainterPath tick;
        tick.moveTo(s * 0.18, s * 0.52);
        tick.lineTo(s * 0.42, s * 0.76);
        tick.lineTo(s * 0.84, s * 0.24);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 90, 0), 5.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
        p.setPen(QPen(QColor(30, 190, 30), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
        break;
    }
    }
    return pm;
}

}  // namespace

QPixmap lampPixmap(Lamp lamp)
{
    // Kept as images: a static QPixmap would outlive the application object.
    static const QImage images[3] = {drawLamp(Lamp::Unlit), drawLamp(Lamp::Lit),
                                     drawLamp(Lamp::Passed)};
    return QPixmap::fromImage(images[static_cast<int>(lamp)]);
}

CLamp::CLamp(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setPixmap(lampPixmap(lamp_));
}

void CLamp::setLamp(Lamp lamp)
{
    lamp_ = lamp;
    setPixmap(lampPixmap(lamp));
}
