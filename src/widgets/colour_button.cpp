#include "widgets/colour_button.h"

#include <QPainter>

QColor inverseColour(const QColor& c)
{
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

CColourButton::CColourButton(QWidget* parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CColourButton::setPressedColour(const QColor& c)
{
    pressed_ = c;
    update();
}

void CColourButton::setNormalColour(const QColor& c)
{
    normal_ = c;
    update();
}

void CColourButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    const bool down = isDown();
    p.fillRect(r, down ? pressed_ : normal_);

    p.setPen(palette().color(QPalette::ButtonText));
    p.setFont(font());
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text());

    // Held down: an inverse frame marks the press. Released: the frame takes
    // the fill colour, which wipes the inverse frame out.
    p.setPen(QPen(down ? inverseColour(normal_) : normal_, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
}
