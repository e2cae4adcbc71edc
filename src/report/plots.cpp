#include "report/plots.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

const QColor kInk(40, 40, 40);
const QColor kGrid(222, 222, 222);
const QColor kTrace(31, 90, 168);
const QColor kJump(204, 32, 32);
const QColor kFit(230, 130, 20);

QFont plotFont(double pixels, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    f.setBold(bold);
    return f;
}

QString tickText(double v, double step)
{
    const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    return QString::number(v, 'f', decimals);
}

double niceStep(double span, int ticks)
{
    if (!(span > 0))
        return 1;
    const double raw = span / ticks;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (raw <= m * mag)
            return m * mag;
    return 10 * mag;
}

// Data ranges onto a rectangle, with the frame, grid and tick labels drawn
// around the plotting area it keeps.
class Axes {
public:
    Axes(QPainter& p, const QRectF& r, const QString& title, double x0, double x1, double y0, double y1,
         const QString& xLabel, const QString& yLabel)
        : p_(p), x0_(x0), x1_(x1 > x0 ? x1 : x0 + 1), y0_(y0), y1_(y1 > y0 ? y1 : y0 + 1)
    {
        const double u = std::clamp(r.height() / 22.0, 7.0, 13.0);  // the text size
        area_ = r.adjusted(u * 4.6, u * 2.0, -u * 0.8, -u * 3.0);
        p.save();
        p.setFont(plotFont(u * 1.05, true));
        p.setPen(kInk);
        p.drawText(QRectF(r.left(), r.top(), r.width(), u * 1.8), Qt::AlignCenter, title);
        p.setFont(plotFont(u * 0.85));
        const double xs = niceStep(x1_ - x0_, 6), ys = niceStep(y1_ - y0_, 5);
        for (double x = std::ceil(x0_ / xs) * xs; x <= x1_ + xs * 1e-9; x += xs) {
            p.setPen(QPen(kGrid, 0));
            p.drawLine(QPointF(px(x), area_.top()), QPointF(px(x), area_.bottom()));
            p.setPen(kInk);
            p.drawText(QRectF(px(x) - u * 4, area_.bottom() + u * 0.2, u * 8, u * 1.2), Qt::AlignHCenter | Qt::AlignTop,
                       tickText(x, xs));
        }
        // Without a label the vertical axis carries no scale.
        for (double y = std::ceil(y0_ / ys) * ys; !yLabel.isEmpty() && y <= y1_ + ys * 1e-9; y += ys) {
            p.setPen(QPen(kGrid, 0));
            p.drawLine(QPointF(area_.left(), py(y)), QPointF(area_.right(), py(y)));
            p.setPen(kInk);
            p.drawText(QRectF(r.left(), py(y) - u * 0.7, area_.left() - r.left() - u * 0.3, u * 1.4),
                       Qt::AlignRight | Qt::AlignVCenter, tickText(y, ys));
        }
        p.setPen(kInk);
        p.drawText(QRectF(area_.left(), r.bottom() - u * 1.5, area_.width(), u * 1.4), Qt::AlignCenter, xLabel);
        p.translate(r.left() + u * 0.2, area_.center().y());
        p.rotate(-90);
        p.drawText(QRectF(-area_.height() / 2, 0, area_.height(), u * 1.3), Qt::AlignCenter, yLabel);
        p.restore();
        p.save();
        p.setPen(QPen(kInk, 0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(area_);
        p.restore();
    }
    double px(double x) const { return area_.left() + (x - x0_) / (x1_ - x0_) * area_.width(); }
    double py(double y) const { return area_.bottom() - (y - y0_) / (y1_ - y0_) * area_.height(); }
    QPointF at(double x, double y) const { return {px(x), py(y)}; }
    const QRectF& area() const { return area_; }
    double unit() const { return std::clamp(area_.height() / 18.0, 7.0, 13.0); }

private:
    QPainter& p_;
    QRectF area_;
    double x0_, x1_, y0_, y1_;
};

void emptyPlot(QPainter& p, const QRectF& r, const QString& title, const QString& why)
{
    p.save();
    p.setPen(kInk);
    p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setFont(plotFont(std::clamp(r.height() / 20.0, 7.0, 13.0)));
    p.drawText(r, Qt::AlignCenter, title + '\n' + why);
    p.restore();
}

double volts(std::uint8_t code)
{
    return code * 5.0 / 256.0;
}

}  // namespace

void paintAccuracyAngle(QPainter& p, const QRectF& r, const AccuracyTrace& t)
{
    const QString title = QStringLiteral("Angle over the test's steps");
    if (t.points.empty())
        return emptyPlot(p, r, title, QStringLiteral("no samples"));
    const int last = std::max(t.points.back().step, 1);
    Axes a(p, r, title, 0, last, 0, 360, QStringLiteral("step"), QStringLiteral("angle (°)"));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(a.area());
    // A line between samples, broken at the wrap and at a jump, so neither
    // draws a stroke across the plot.
    QPainterPath path;
    for (std::size_t i = 0; i < t.points.size(); ++i) {
        const QPointF q = a.at(t.points[i].step, t.points[i].angle);
        const bool broken = i == 0 || t.points[i].jump ||
                            std::fabs(t.points[i].angle - t.points[i - 1].angle) > 180;
        broken ? path.moveTo(q) : path.lineTo(q);
    }
    p.setPen(QPen(kTrace, 1.4));
    p.drawPath(path);
    p.setPen(QPen(kJump, 1.6));
    p.setBrush(kJump);
    for (std::size_t i = 1; i < t.points.size(); ++i) {
        if (!t.points[i].jump)
            continue;
        const QPointF from = a.at(t.points[i].step, t.points[i - 1].angle);
        const QPointF to = a.at(t.points[i].step, t.points[i].angle);
        p.drawLine(from, to);
        p.drawEllipse(to, 2.5, 2.5);
    }
    p.restore();
}

void paintJumpMap(QPainter& p, const QRectF& r, const AccuracyTrace& t)
{
    const double u = std::clamp(r.height() / 22.0, 7.0, 13.0);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(kInk);
    p.setFont(plotFont(u * 1.05, true));
    p.drawText(QRectF(r.left(), r.top(), r.width(), u * 1.8), Qt::AlignCenter, QStringLiteral("Jumps on the turn"));
    const double radius = std::min(r.width(), r.height() - u * 2.4) / 2 - u * 2.2;
    const QPointF c(r.center().x(), r.top() + u * 2.0 + radius + u * 1.6);
    const double ring = radius * 0.62, band = radius * 0.12;
    auto polar = [&](double deg, double rad) {
        // 0° at the top, clockwise, as the encoder's shaft is seen.
        const double a = deg * std::numbers::pi / 180.0;
        return QPointF(c.x() + rad * std::sin(a), c.y() - rad * std::cos(a));
    };
    // The strip: one thin tick per sample where the turn was covered.
    p.setPen(QPen(QColor(170, 190, 220), 1.0));
    for (const AccuracyTracePoint& s : t.points)
        p.drawLine(polar(s.angle, ring - band), polar(s.angle, ring + band));
    p.setPen(QPen(kInk, 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, ring - band, ring - band);
    p.drawEllipse(c, ring + band, ring + band);
    p.setFont(plotFont(u * 0.85));
    for (int deg = 0; deg < 360; deg += 90) {
        const QPointF q = polar(deg, radius + u * 1.1);
        p.drawText(QRectF(q.x() - u * 2, q.y() - u * 0.7, u * 4, u * 1.4), Qt::AlignCenter,
                   QStringLiteral("%1°").arg(deg));
        p.drawLine(polar(deg, ring + band), polar(deg, ring + band + u * 0.5));
    }
    // Each jump a spoke out from the angle it left, its length the jump's size.
    const std::vector<double> sizes = traceJumpSizes(t);
    std::size_t k = 0;
    p.setPen(QPen(kJump, 2.0, Qt::SolidLine, Qt::RoundCap));
    for (std::size_t i = 1; i < t.points.size(); ++i) {
        if (!t.points[i].jump)
            continue;
        const double size = k < sizes.size() ? sizes[k++] : 0;
        const double length = band + (radius - ring - band) * std::min(1.0, size / 90.0) + u * 0.4;
        p.drawLine(polar(t.points[i - 1].angle, ring - band), polar(t.points[i - 1].angle, ring + length));
    }
    p.setPen(kInk);
    p.drawText(QRectF(c.x() - ring, c.y() - u, ring * 2, u * 2), Qt::AlignCenter,
               sizes.empty() ? QStringLiteral("no jump") : QStringLiteral("%1 jump%2").arg(sizes.size()).arg(sizes.size() == 1 ? "" : "s"));
    p.restore();
}

void paintLissajous(QPainter& p, const QRectF& r, const QString& title, const std::vector<std::uint8_t>& cosCodes,
                    const std::vector<std::uint8_t>& sinCodes, const std::optional<PairFit>& fit)
{
    const std::size_t n = std::min(cosCodes.size(), sinCodes.size());
    if (n == 0)
        return emptyPlot(p, r, title, QStringLiteral("no samples"));
    // Square axes in volts around what was seen and fitted.
    double lo = 5, hi = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (double v : {volts(cosCodes[i]), volts(sinCodes[i])}) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    const double pad = std::max(0.1, (hi - lo) * 0.08);
    lo = std::max(0.0, lo - pad);
    hi = std::min(5.0, hi + pad);
    const double side = std::min(r.width(), r.height());
    const QRectF square(r.center().x() - side / 2, r.top(), side, side);
    Axes a(p, square, title, lo, hi, lo, hi, QStringLiteral("cos (V)"), QStringLiteral("sin (V)"));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(a.area());
    if (fit) {
        QPainterPath e;
        const double ph = fit->phase * std::numbers::pi / 180.0;
        for (int k = 0; k <= 180; ++k) {
            const double th = 2 * std::numbers::pi * k / 180;
            const QPointF q = a.at(fit->cosOffset + fit->cosPp / 2 * std::cos(th),
                                   fit->sinOffset + fit->sinPp / 2 * std::cos(th - ph));
            k == 0 ? e.moveTo(q) : e.lineTo(q);
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(kFit.red(), kFit.green(), kFit.blue(), 150), 3.0));
        p.drawPath(e);
        // The centre at the offsets, with dashed lines out to the axes.
        const QPointF c = a.at(fit->cosOffset, fit->sinOffset);
        p.setPen(QPen(kFit, 1.0, Qt::DashLine));
        p.drawLine(c, QPointF(c.x(), a.area().bottom()));
        p.drawLine(c, QPointF(a.area().left(), c.y()));
        p.setPen(QPen(kFit, 1.6));
        p.drawLine(c + QPointF(-5, 0), c + QPointF(5, 0));
        p.drawLine(c + QPointF(0, -5), c + QPointF(0, 5));
        p.setPen(kInk);
        p.setFont(plotFont(a.unit() * 0.9));
        p.drawText(c + QPointF(6, -6), QStringLiteral("(%1, %2) V").arg(fit->cosOffset, 0, 'f', 3).arg(fit->sinOffset, 0, 'f', 3));
        p.drawText(QRectF(a.area().left() + 4, a.area().top() + 2, a.area().width() - 8, a.unit() * 1.4),
                   Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("pp %1 / %2 V, phase %3°").arg(fit->cosPp, 0, 'f', 3).arg(fit->sinPp, 0, 'f', 3).arg(fit->phase, 0, 'f', 2));
    }
    // The samples over the fit, so that where they leave it shows.
    p.setPen(Qt::NoPen);
    p.setBrush(kTrace);
    for (std::size_t i = 0; i < n; ++i)
        p.drawEllipse(a.at(volts(cosCodes[i]), volts(sinCodes[i])), 1.3, 1.3);
    p.restore();
}

void paintReadSeries(QPainter& p, const QRectF& r, const ReadTrace& t)
{
    const QString title = QStringLiteral("Values read");
    if (t.points.empty())
        return emptyPlot(p, r, title, QStringLiteral("no values"));
    double lo = static_cast<double>(t.points[0].raw), hi = lo;
    for (const ReadTracePoint& s : t.points) {
        lo = std::min(lo, static_cast<double>(s.raw));
        hi = std::max(hi, static_cast<double>(s.raw));
    }
    if (hi - lo < 1) {
        lo -= 1;
        hi += 1;
    }
    const double end = std::max(t.points.back().ms, 1.0);
    Axes a(p, r, title, 0, end, lo, hi, QStringLiteral("time since the start (ms)"), QStringLiteral("raw value"));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(a.area());
    QPainterPath path;
    for (std::size_t i = 0; i < t.points.size(); ++i) {
        const QPointF q = a.at(t.points[i].ms, static_cast<double>(t.points[i].raw));
        i == 0 ? path.moveTo(q) : path.lineTo(q);
    }
    p.setPen(QPen(kTrace, 1.2));
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(kTrace);
    if (t.points.size() <= 400)
        for (const ReadTracePoint& s : t.points)
            p.drawEllipse(a.at(s.ms, static_cast<double>(s.raw)), 1.6, 1.6);
    p.restore();
}

void paintResolutionSpan(QPainter& p, const QRectF& r, const ResolutionTrace& t)
{
    const double lo = static_cast<double>(t.minimum), hi = static_cast<double>(std::max(t.maximum, t.minimum + 1));
    Axes a(p, r, QStringLiteral("Positions of the resolution walk"), lo, hi, 0, 1, QStringLiteral("position (LSB)"),
           QString());
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double y = a.area().center().y();
    p.setPen(QPen(kTrace, 6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(a.px(lo), y), QPointF(a.px(hi), y));
    p.setFont(plotFont(a.unit()));
    const double h = a.area().height();
    for (auto [v, label, dy] : {std::tuple{t.first, "first", -1.0}, std::tuple{t.last, "last", 1.0}}) {
        const QPointF q(a.px(static_cast<double>(v)), y);
        p.setPen(QPen(kJump, 2));
        p.drawLine(q + QPointF(0, -h * 0.22), q + QPointF(0, h * 0.22));
        p.setPen(kInk);
        const double w = a.unit() * 12;
        const double x = std::clamp(q.x() - w / 2, a.area().left() + 2, a.area().right() - w - 2);
        p.drawText(QRectF(x, y + dy * h * 0.33 - a.unit() * 0.7, w, a.unit() * 1.4), Qt::AlignCenter,
                   QStringLiteral("%1 %2").arg(QLatin1String(label)).arg(v));
    }
    p.drawText(QRectF(a.area().left() + 4, a.area().top() + 2, a.area().width() - 8, a.unit() * 1.4),
               Qt::AlignLeft | Qt::AlignTop, QStringLiteral("span %1 LSB").arg(t.maximum - t.minimum));
    p.restore();
}

QByteArray plotSvg(const QSizeF& size, const PlotPainter& paint)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size.toSize());
    svg.setViewBox(QRectF(QPointF(0, 0), size));
    svg.setResolution(96);
    {
        QPainter p(&svg);
        p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
        paint(p, QRectF(QPointF(0, 0), size));
    }
    QByteArray out = buffer.data();
    // Inline in HTML: the element alone, without the XML prolog.
    const qsizetype at = out.indexOf("<svg");
    return at >= 0 ? out.mid(at) : out;
}

QImage plotImage(const QSize& size, const PlotPainter& paint)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    paint(p, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}
