#include "widgets/meter.h"

#include "widgets/widget_fonts.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

using namespace gauge;

namespace {

// Windows' 3D shadow (button shadow) corresponds to QPalette::Dark; the
// highlight to QPalette::Light; the face to QPalette::Button.
QColor shadowColour(const QPalette& pal) { return pal.color(QPalette::Dark); }
QColor highlightColour(const QPalette& pal) { return pal.color(QPalette::Light); }

}  // namespace

QPixmap drawGaugeFace(const Dial& dial, QSize size, const QPalette& palette,
                      qreal devicePixelRatio, QRegion* clip)
{
    QPixmap face(size * devicePixelRatio);
    face.setDevicePixelRatio(devicePixelRatio);
    const Frame f = frameFor(dial, ClientRect{0, 0, size.width(), size.height()});

    QPainter p(&face);
    p.fillRect(QRect(QPoint(0, 0), size), palette.color(QPalette::Button));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, size.width() - 1, size.height() - 1);

    // Rim: widest, darkest ring first, so that the narrower, paler ones
    // leave a shaded edge on both sides of a pale middle line.
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int k = f.rings; k >= 1; --k) {
        p.setPen(QPen(rimColour(dial, k, f.rings), 2 * k));
        p.drawEllipse(QPointF(f.centre), f.radius, f.radius);
    }
    p.setRenderHint(QPainter::Antialiasing, false);

    const std::vector<Tick> ts = ticks(dial, f);
    p.setPen(QPen(Qt::black, 1));
    for (const Tick& t : ts)
        p.drawLine(t.outer, t.inner);
    if (clip)
        *clip = QRegion(clipPolygon(ts));

    const QFont font = arialFont(f.fontHeight, true);
    const QFontMetrics fm(font);
    p.setFont(font);
    p.setPen(Qt::black);
    for (const Label& l : labels(dial, f))
        p.drawText(labelOrigin(l, fm.horizontalAdvance(l.text), fm.ascent(), fm.descent()), l.text);
    return face;
}

void drawGaugeNeedle(QPainter& p, const Dial& dial, const Frame& frame, double value,
                     const QRegion& clip, const QPalette& palette)
{
    const Needle n = needle(dial, frame, value);
    const QPoint body[4] = {n.side1, n.tip, n.side2, n.tail};

    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    if (!clip.isEmpty())
        p.setClipRegion(clip);
    p.setPen(QPen(dial.needleColour, 1));
    p.setBrush(dial.needleColour);
    p.drawPolygon(body, 4);
    p.setClipping(false);

    // Light falls from the upper left: the lower edge is in shadow.
    const QPoint edge1[3] = {n.tip, n.side1, n.tail};
    const QPoint edge2[3] = {n.tip, n.side2, n.tail};
    const bool lowerIsSide2 = n.angle <= 90;
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(shadowColour(palette), 2));
    p.drawPolyline(lowerIsSide2 ? edge2 : edge1, 3);
    p.setPen(QPen(highlightColour(palette), 1));
    p.drawPolyline(lowerIsSide2 ? edge1 : edge2, 3);

    // Hub: concentric discs from black at the rim to white in the middle.
    for (const HubRing& h : hubRings(frame)) {
        const QColor grey(h.grey, h.grey, h.grey);
        p.setPen(QPen(grey, 1));
        if (h.radius == 0) {
            p.drawPoint(frame.centre);
        } else {
            p.setBrush(grey);
            p.drawEllipse(frame.centre, h.radius, h.radius);
        }
    }
    p.restore();
}

CGauge::CGauge(const Dial& dial, QWidget* parent) : QWidget(parent), dial_(dial)
{
    // Every pixel comes from the off-screen surface; no background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

Frame CGauge::frame() const
{
    return frameFor(dial_, ClientRect{0, 0, width(), height()});
}

QSize CGauge::cachedFaceSize() const
{
    return face_.isNull() ? QSize() : face_.deviceIndependentSize().toSize();
}

void CGauge::paintEvent(QPaintEvent*)
{
    const qreal dpr = devicePixelRatioF();
    if (face_.isNull() || cachedFaceSize() != size() || face_.devicePixelRatio() != dpr) {
        face_ = drawGaugeFace(dial_, size(), palette(), dpr, &clip_);
        ++faceBuilds_;
    }
    if (back_.isNull() || back_.size() != face_.size() || back_.devicePixelRatio() != dpr) {
        back_ = QPixmap(face_.size());
        back_.setDevicePixelRatio(dpr);
    }
    {
        QPainter off(&back_);
        off.drawPixmap(0, 0, face_);
        drawGaugeNeedle(off, dial_, frame(), value_, clip_, palette());
    }
    QPainter(this).drawPixmap(0, 0, back_);
}

void CGauge::resizeEvent(QResizeEvent* e)
{
    face_ = QPixmap();
    clip_ = QRegion();
    back_ = QPixmap();
    QWidget::resizeEvent(e);
    update();
}

CMeter::CMeter(QWidget* parent) : CGauge(angleDial(), parent) {}

CMeter_fprce::CMeter_fprce(QWidget* parent) : CGauge(forceDial(), parent) {}
