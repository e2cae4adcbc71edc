#include "app/result_plot_view.h"

#include <QPainter>
#include <algorithm>

ResultPlotView::ResultPlotView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(320, 220);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ResultPlotView::setPlots(std::vector<ReportPlot> plots, const QString& emptyText)
{
    plots_ = std::move(plots);
    emptyText_ = emptyText;
    update();
}

void ResultPlotView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(190, 190, 190));
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    if (plots_.empty()) {
        p.setPen(QColor(110, 110, 110));
        p.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, emptyText_);
        return;
    }
    // One row: the plots' natural widths share the width, at the one scale
    // the narrower of width and height allows, so that their lettering
    // matches. Each plot draws its own title.
    constexpr double kGap = 12, kMargin = 10;
    double naturalWidth = 0, naturalHeight = 0;
    for (const ReportPlot& plot : plots_) {
        naturalWidth += plot.size.width();
        naturalHeight = std::max(naturalHeight, plot.size.height());
    }
    const double spareWidth = width() - 2 * kMargin - kGap * static_cast<double>(plots_.size() - 1);
    const double spareHeight = height() - 2 * kMargin;
    const double scale = std::max(0.1, std::min(spareWidth / naturalWidth, spareHeight / naturalHeight));
    double x = kMargin + std::max(0.0, (spareWidth - naturalWidth * scale) / 2);
    const double middle = kMargin + spareHeight / 2;
    for (const ReportPlot& plot : plots_) {
        const QRectF r(x, middle - plot.size.height() * scale / 2, plot.size.width() * scale,
                       plot.size.height() * scale);
        p.save();
        plot.paint(p, r);
        p.restore();
        x += r.width() + kGap;
    }
}
