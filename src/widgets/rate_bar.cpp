#include "widgets/rate_bar.h"

#include <QPainter>
#include <QPixmap>

namespace ratebar {

int fillWidth(int left, int right, int minimum, int maximum, int value)
{
    if (maximum == minimum)
        return 0;
    const double f = static_cast<double>(value - minimum) / (maximum - minimum);
    return static_cast<int>((right - left) * f);
}

}  // namespace ratebar

CRate::CRate(QWidget* parent) : QProgressBar(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setTextVisible(false);
}

void CRate::setBarColour(const QColor& c)
{
    bar_ = c;
    update();
}

void CRate::setBackgroundColour(const QColor& c)
{
    background_ = c;
    update();
}

void CRate::paintEvent(QPaintEvent*)
{
    const qreal dpr = devicePixelRatioF();
    QPixmap off(size() * dpr);
    off.setDevicePixelRatio(dpr);
    {
        QPainter p(&off);
        const int w = width(), h = height();
        // Flat sunken edge: a 1-pixel shadow line outside a 1-pixel face line.
        p.fillRect(0, 0, w, h, palette().color(QPalette::Button));
        p.setPen(palette().color(QPalette::Dark));
        p.setBrush(Qt::NoBrush);
        p.drawRect(0, 0, w - 1, h - 1);

        const int left = 2, top = 2, right = w - 2, bottom = h - 2;
        if (right > left && bottom > top) {
            p.fillRect(left, top, right - left, bottom - top, background_);
            const int fill = ratebar::fillWidth(left, right, minimum(), maximum(), value());
            if (fill > 0)
                p.fillRect(left, top, fill, bottom - top, bar_);
        }
    }
    QPainter(this).drawPixmap(0, 0, off);
}
