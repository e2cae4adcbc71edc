#include "widgets/data_show.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

using namespace datashow;

CDataShow::CDataShow(QWidget* parent)
    : QWidget(parent)
{
    for (Series* s : {&m_series1, &m_series2}) {
        s->points = std::make_unique<std::array<OffsetPoint, kCapacity>>();
        s->pen = QPen(QColor(255, 255, 0), 1, Qt::SolidLine);
    }
    // The paint covers every pixel; no background erase is needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CDataShow::~CDataShow() = default;

bool CDataShow::setSeries1(const double* y, const double* x, int n)
{
    return setSeries(m_series1, y, x, n);
}

bool CDataShow::setSeries2(const double* y, const double* x, int n)
{
    return setSeries(m_series2, y, x, n);
}

void CDataShow::ensurePreviousLayout()
{
    // Before the first paint there is no previous layout; take the current
    // size so that data set early is converted sensibly.
    if (!m_havePrevious) {
        m_previous = datashow::layout(width(), height());
        m_scales = scales(m_previous, m_ranges);
        m_havePrevious = true;
    }
}

bool CDataShow::setSeries(Series& series, const double* y, const double* x, int n)
{
    if (n < 0 || n > kCapacity || (n > 0 && (!x || !y)))
        return false;
    ensurePreviousLayout();
    // Converted once per update, not per paint.
    for (int i = 0; i < n; ++i)
        (*series.points)[i] = toOffset(x[i], y[i], m_ranges, m_scales);
    series.count = n;
    update();
    return true;
}

void CDataShow::setSeriesColour(int series, const QColor& colour)
{
    if (series != 1 && series != 2)
        return;
    Series& s = series == 1 ? m_series1 : m_series2;
    s.pen = QPen(colour, s.pen.width(), Qt::SolidLine);
}

void CDataShow::setSeriesPenWidth(int series, int width)
{
    if (series != 1 && series != 2)
        return;
    Series& s = series == 1 ? m_series1 : m_series2;
    s.pen.setWidth(std::max(1, width));
}

int CDataShow::seriesCount(int series) const
{
    return series == 1 ? m_series1.count : series == 2 ? m_series2.count : 0;
}

void CDataShow::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void CDataShow::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void CDataShow::paintEvent(QPaintEvent*)
{
    ++m_paints;
    const QImage image = renderImage();
    QPainter screen(this);
    screen.drawImage(0, 0, image);
}

QImage CDataShow::renderImage()
{
    const int w = std::max(1, width());
    const int h = std::max(1, height());
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(font());

    // Scales come from the previous paint's layout, before this one's.
    ensurePreviousLayout();
    m_scales = scales(m_previous, m_ranges);

    p.fillRect(0, 0, w, h, m_background);
    const Layout l = datashow::layout(width(), height());
    const PlotRect& r = l.plot;
    if (r.right > r.left && r.bottom > r.top)
        p.fillRect(r.left, r.top, r.right - r.left, r.bottom - r.top, m_plotFill);
    const Axes a = axes(r);
    drawAxes(p, l, a, usableHeight(l));
    drawSeries(p, m_series1, r, a, SeriesRule::SkipOutside);
    drawSeries(p, m_series2, r, a, SeriesRule::StopAtOutside);
    p.end();

    m_previous = l;
    return image;
}

void CDataShow::drawAxes(QPainter& p, const Layout& l, const Axes& a, int q)
{
    const QFontMetrics fm(p.font());
    auto text = [&](int x, int y, const QString& s) {
        // Positions name the text's top-left corner; the background stays.
        p.setPen(m_textColour);
        p.drawText(x, y + fm.ascent(), s);
    };
    const QPen axisPen(m_axisColour, 1, Qt::SolidLine);
    p.setPen(axisPen);
    const QPoint axisLine[] = {{a.x0, a.yT}, {a.x0, a.yB}, {a.xR, a.yB}};
    p.drawPolyline(axisLine, 3);

    // x labels: ten steps of the range, then the maximum.
    const int step = std::max(1, (a.xR - a.x0) / 10);
    const double span = m_ranges.xMax - m_ranges.xMin;
    for (int i = 0; i < 10; ++i)
        text(a.x0 + i * step, a.yB + 3, QString::asprintf("%.0f", m_ranges.xMin + i * span / 10));
    text(a.x0 + 10 * step, a.yB + 3, QString::asprintf("%.0f", m_ranges.xMax));

    // x ticks: long on even, short on odd half-steps.
    p.setPen(axisPen);
    const int w = (l.plot.right - l.plot.left) / 10;
    for (int k = 1; k <= 19; ++k) {
        const int x = a.x0 + (k * w) / 2;
        p.drawLine(x, a.yB, x, a.yB + (k % 2 ? 3 : 8));
    }

    const QPoint xArrow[] = {{a.xR - 5, a.yB - 5}, {a.xR, a.yB}, {a.xR - 5, a.yB + 5}};
    p.drawPolyline(xArrow, 3);
    const QPoint yArrow[] = {{a.x0 - 5, a.yT + 5}, {a.x0, a.yT}, {a.x0 + 5, a.yT + 5}};
    p.drawPolyline(yArrow, 3);

    const int n = (q - 20) / 3;
    for (int v = 1; v <= 3; ++v)
        text(a.x0 - 28, a.yB - v * n, QString::asprintf("%.1f ", static_cast<double>(v)));
    text(a.x0, static_cast<int>(a.yB - 3.2 * n), QStringLiteral("V"));

    p.setPen(axisPen);
    for (int i = 0; i < 3; ++i) {
        const int y = a.yT + 5 + i * n;
        p.drawLine(a.x0, y, a.x0 - 8, y);
    }
}

void CDataShow::drawSeries(QPainter& p, const Series& s, const PlotRect& plot, const Axes& a,
                           SeriesRule rule)
{
    const std::vector<QPoint> line =
        seriesPolyline(std::span<const OffsetPoint>(s.points->data(), s.count), plot, a, rule);
    if (line.size() < 2)
        return;
    p.setPen(s.pen);
    p.drawPolyline(line.data(), static_cast<int>(line.size()));
}
