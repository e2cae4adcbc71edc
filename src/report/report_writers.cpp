// The report's two forms: one HTML file that needs nothing beside it, and a
// PDF of A4 pages drawn with the same plots.
#include "common/file_io.h"
#include "report/plots.h"
#include "report/test_report.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

namespace {

const char* const kSimulatedNote = "simulated: these results come from the simulated box, not from an encoder";

QString esc(const QString& s)
{
    return s.toHtmlEscaped().replace('\n', QStringLiteral("<br>"));
}

QString shownTime(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QString verdictCell(const QString& v)
{
    if (v.isEmpty())
        return QStringLiteral("<td class=\"none\">–</td>");
    return QStringLiteral("<td class=\"%1\">%1</td>").arg(esc(v));
}

// The page's header lines: serial, stations, times, versions.
QStringList headerLines(const TestReportData& d)
{
    QStringList l;
    l << QStringLiteral("Serial: %1").arg(d.serial);
    l << QStringLiteral("Station%1: %2").arg(d.stations.size() == 1 ? "" : "s", d.stations.join(QStringLiteral(", ")));
    if (d.first.isValid())
        l << QStringLiteral("Tested: %1 to %2").arg(shownTime(d.first), shownTime(d.last));
    if (!d.since.isEmpty())
        l << QStringLiteral("Results since: %1").arg(d.since);
    l << QStringLiteral("Program version%1: %2").arg(d.versions.size() == 1 ? "" : "s", d.versions.join(QStringLiteral(", ")));
    l << QStringLiteral("Report made: %1").arg(shownTime(d.generated));
    return l;
}

QString ownVerdict(const ReportEntry& e)
{
    return e.row.verdict;
}

}  // namespace

QByteArray testReportHtml(const TestReportData& d)
{
    QString h;
    h += QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Test report %1</title>\n"
        "<style>\n"
        "body{font-family:'Liberation Sans',Arial,sans-serif;font-size:13px;color:#222;margin:24px;max-width:1000px}\n"
        "h1{font-size:20px;margin:0 0 6px} h2{font-size:15px;margin:22px 0 6px;border-bottom:1px solid #ccc}\n"
        "table{border-collapse:collapse;width:100%} td,th{border:1px solid #ccc;padding:3px 6px;vertical-align:top;text-align:left}\n"
        "th{background:#f0f0f0} td.pass{color:#11772e;font-weight:bold} td.fail{color:#b31b1b;font-weight:bold}\n"
        ".sim{background:#fff1c2;border:1px solid #d9a400;padding:4px 8px;margin:6px 0;font-weight:bold}\n"
        ".plots{display:flex;flex-wrap:wrap;gap:8px;margin:6px 0 14px} .missed{color:#b31b1b}\n"
        "@media print{.sim{position:running(header)}}\n"
        "</style></head><body>\n")
             .arg(esc(d.serial));
    if (d.simulated)
        h += QStringLiteral("<div class=\"sim\">%1</div>\n").arg(QLatin1String(kSimulatedNote));
    h += QStringLiteral("<h1>Encoder test report: %1</h1>\n<p>").arg(esc(d.serial));
    h += headerLines(d).join(QStringLiteral("<br>\n")).toHtmlEscaped().replace(QStringLiteral("&lt;br&gt;"), QStringLiteral("<br>"));
    h += QStringLiteral("</p>\n<h2>Configuration</h2>\n<p>");
    QStringList config;
    for (const QString& line : d.configuration)
        config << esc(line);
    h += config.join(QStringLiteral("<br>\n"));
    if (d.configurations > 1)
        h += QStringLiteral("<br>\n<b>The results were taken with %1 different configurations; the latest is shown.</b>")
                 .arg(d.configurations);
    h += QStringLiteral("</p>\n<h2>Tests</h2>\n");
    if (d.empty()) {
        h += QStringLiteral("<p>No test results for this serial.</p>\n");
    } else {
        h += QStringLiteral("<table><tr><th>Time</th><th>Station</th><th>Test</th><th>Figures</th><th>Limits (plan)</th>"
                            "<th>Test verdict</th><th>Plan verdict</th></tr>\n");
        for (const ReportEntry& e : d.entries) {
            QString limits = esc(e.limits.isEmpty() ? QStringLiteral("no plan") : e.limits);
            for (const QString& f : e.planFailed)
                limits += QStringLiteral("<br><span class=\"missed\">%1</span>").arg(esc(f));
            h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3%4</td><td>%5</td><td>%6</td>%7%8</tr>\n")
                     .arg(esc(shownTime(e.row.timeUtc)), esc(e.row.station), esc(e.test),
                          e.simulated ? QStringLiteral(" (simulated)") : QString(), esc(e.figures), limits,
                          verdictCell(ownVerdict(e)), verdictCell(e.planVerdict));
        }
        h += QStringLiteral("</table>\n");
    }
    bool plotsHeader = false;
    for (const ReportEntry& e : d.entries) {
        const std::vector<ReportPlot> plots = entryPlots(e);
        if (plots.empty())
            continue;
        if (!plotsHeader) {
            h += QStringLiteral("<h2>Plots</h2>\n");
            plotsHeader = true;
        }
        h += QStringLiteral("<h3>%1, %2%3</h3>\n<div class=\"plots\">")
                 .arg(esc(e.test), esc(shownTime(e.row.timeUtc)), e.simulated ? QStringLiteral(" (simulated)") : QString());
        for (const ReportPlot& p : plots)
            h += QString::fromUtf8(plotSvg(p.size, p.paint));
        h += QStringLiteral("</div>\n");
    }
    if (d.simulated)
        h += QStringLiteral("<div class=\"sim\">%1</div>\n").arg(QLatin1String(kSimulatedNote));
    h += QStringLiteral("</body></html>\n");
    return h.toUtf8();
}

namespace {

// Lays the report out down A4 pages: a header on each (with the simulated
// note when it applies), text blocks that wrap, a table whose rows never
// split, plots scaled to the page's width.
class PdfPages {
public:
    PdfPages(QPdfWriter& writer, const TestReportData& d) : writer_(writer), d_(d), p_(&writer)
    {
        page_ = QRectF(QPointF(0, 0), QSizeF(p_.device()->width(), p_.device()->height()));
        // Everything below is laid out in CSS pixels (96 per inch).
        scale_ = writer.resolution() / 96.0;
        p_.scale(scale_, scale_);
        width_ = page_.width() / scale_;
        height_ = page_.height() / scale_;
        header();
    }
    bool ok() const { return p_.isActive(); }

    void text(const QString& s, double px, bool bold = false, QColor colour = QColor(34, 34, 34))
    {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(static_cast<int>(px));
        f.setBold(bold);
        p_.setFont(f);
        const QRectF need = p_.boundingRect(QRectF(0, 0, width_, 1e6), Qt::TextWordWrap, s);
        room(need.height() + 4);
        p_.setPen(colour);
        p_.drawText(QRectF(0, y_, width_, need.height()), Qt::TextWordWrap, s);
        y_ += need.height() + 4;
    }
    void gap(double px) { y_ += px; }

    // One table row: cells of the given widths (fractions of the page),
    // all wrapped to the tallest.
    void row(const QStringList& cells, const std::vector<double>& widths, bool head,
             const std::vector<QColor>& colours = {})
    {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(10);
        f.setBold(head);
        p_.setFont(f);
        double tallest = 0;
        for (qsizetype i = 0; i < cells.size(); ++i)
            tallest = std::max(tallest, p_.boundingRect(QRectF(0, 0, widths[i] * width_ - 6, 1e6), Qt::TextWordWrap,
                                                        cells[i])
                                            .height());
        const double h = tallest + 6;
        if (room(h) && !head)
            row(headCells_, widths_, true);  // a new page repeats the table's head
        p_.setFont(f);
        double x = 0;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const QRectF cell(x, y_, widths[i] * width_, h);
            if (head)
                p_.fillRect(cell, QColor(240, 240, 240));
            p_.setPen(QPen(QColor(190, 190, 190), 0.6));
            p_.drawRect(cell);
            p_.setPen(i < static_cast<qsizetype>(colours.size()) && colours[i].isValid() ? colours[i] : QColor(34, 34, 34));
            p_.drawText(cell.adjusted(3, 3, -3, -3), Qt::TextWordWrap, cells[i]);
            x += cell.width();
        }
        y_ += h;
    }
    void tableHead(const QStringList& cells, const std::vector<double>& widths)
    {
        headCells_ = cells;
        widths_ = widths;
        row(cells, widths, true);
    }

    // Plots side by side, scaled down together to fit the width.
    void plots(const std::vector<ReportPlot>& plots, const QString& caption)
    {
        double total = 0, tallest = 0;
        for (const ReportPlot& p : plots) {
            total += p.size.width();
            tallest = std::max(tallest, p.size.height());
        }
        const double k = std::min(1.0, (width_ - 8.0 * (plots.size() - 1)) / total);
        room(tallest * k + 26);
        text(caption, 12, true);
        double x = 0;
        for (const ReportPlot& p : plots) {
            const QRectF r(x, y_, p.size.width() * k, p.size.height() * k);
            p_.save();
            p_.setClipRect(r);
            p.paint(p_, r);
            p_.restore();
            x += r.width() + 8;
        }
        y_ += tallest * k + 10;
    }

    void finish() { p_.end(); }

private:
    // A new page when `h` does not fit; true when one was begun.
    bool room(double h)
    {
        if (y_ + h <= height_)
            return false;
        writer_.newPage();
        header();
        return true;
    }
    void header()
    {
        ++pageNumber_;
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(9);
        p_.setFont(f);
        p_.setPen(QColor(110, 110, 110));
        p_.drawText(QRectF(0, 0, width_, 14), Qt::AlignLeft | Qt::AlignVCenter,
                    QStringLiteral("Quillmark encoder test report, serial %1").arg(d_.serial));
        p_.drawText(QRectF(0, 0, width_, 14), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("page %1").arg(pageNumber_));
        y_ = 18;
        if (d_.simulated) {
            const QRectF band(0, y_, width_, 18);
            p_.fillRect(band, QColor(255, 241, 194));
            p_.setPen(QColor(150, 100, 0));
            f.setBold(true);
            f.setPixelSize(10);
            p_.setFont(f);
            p_.drawText(band.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter, QLatin1String(kSimulatedNote));
            y_ += 24;
        }
    }

    QPdfWriter& writer_;
    const TestReportData& d_;
    QPainter p_;
    QRectF page_;
    double scale_ = 1, width_ = 0, height_ = 0, y_ = 0;
    int pageNumber_ = 0;
    QStringList headCells_;
    std::vector<double> widths_;
};

}  // namespace

QString writeTestReportPdf(const QString& path, const TestReportData& d)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(14, 12, 14, 12), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Test report %1").arg(d.serial));
        writer.setCreator(QStringLiteral("Quillmark"));
        PdfPages pages(writer, d);
        if (!pages.ok())
            return QStringLiteral("The PDF cannot be drawn");
        pages.text(QStringLiteral("Encoder test report: %1").arg(d.serial), 18, true);
        pages.text(headerLines(d).join('\n'), 11);
        pages.gap(6);
        pages.text(QStringLiteral("Configuration"), 14, true);
        QString config = d.configuration.join('\n');
        if (d.configurations > 1)
            config += QStringLiteral("\nThe results were taken with %1 different configurations; the latest is shown.")
                          .arg(d.configurations);
        pages.text(config, 11);
        pages.gap(6);
        pages.text(QStringLiteral("Tests"), 14, true);
        if (d.empty()) {
            pages.text(QStringLiteral("No test results for this serial."), 11);
        } else {
            const std::vector<double> widths{0.13, 0.12, 0.30, 0.25, 0.10, 0.10};
            pages.tableHead({QStringLiteral("Time (UTC)"), QStringLiteral("Test"), QStringLiteral("Figures"),
                             QStringLiteral("Limits (plan)"), QStringLiteral("Test verdict"), QStringLiteral("Plan verdict")},
                            widths);
            auto colour = [](const QString& v) {
                return v == QLatin1String("pass") ? QColor(17, 119, 46) : v == QLatin1String("fail") ? QColor(179, 27, 27) : QColor();
            };
            for (const ReportEntry& e : d.entries) {
                QString limits = e.limits.isEmpty() ? QStringLiteral("no plan") : e.limits;
                for (const QString& f : e.planFailed)
                    limits += QStringLiteral("\nmissed: ") + f;
                pages.row({e.row.timeUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + '\n' + e.row.station,
                           e.test + (e.simulated ? QStringLiteral("\n(simulated)") : QString()), e.figures, limits,
                           ownVerdict(e), e.planVerdict.isEmpty() ? QStringLiteral("–") : e.planVerdict},
                          widths, false, {QColor(), QColor(), QColor(), QColor(), colour(ownVerdict(e)), colour(e.planVerdict)});
            }
        }
        pages.gap(10);
        for (const ReportEntry& e : d.entries) {
            const std::vector<ReportPlot> plots = entryPlots(e);
            if (!plots.empty())
                pages.plots(plots, QStringLiteral("%1, %2").arg(e.test, shownTime(e.row.timeUtc)));
        }
        pages.finish();
    }
    QString error;
    if (!fileio::writeFileSafely(path, buffer.data(), &error))
        return error;
    return {};
}
