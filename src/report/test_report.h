#pragma once
// One encoder's test report ("protocol"): where and when it was tested, its
// interface in words, every test with its figures, the plan's limits and
// both verdicts, and the plots of what was kept with each result. Built from
// the results store's rows; written as one self-contained HTML file (plots
// inline as SVG) or as a PDF.
#include "measure/result_trace.h"
#include "results/result_row.h"

#include <QDateTime>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QPainter;

struct ReportEntry {
    ResultRow row;
    std::optional<ResultTrace> trace;  // decoded; none when nothing was kept
    QString test;                      // "Absolute accuracy", ...
    QString figures;                   // the figures in words
    QString limits;                    // the plan's limits in words; empty without a plan verdict
    QString planVerdict;               // "pass", "fail" or empty
    QStringList planFailed;            // what missed the limits
    bool simulated = false;
};

struct TestReportData {
    QString serial;
    QString since;  // as asked, empty for all
    QDateTime generated;
    std::vector<ReportEntry> entries;  // in time order, configuration runs left out
    QStringList stations, versions;
    QDateTime first, last;
    QStringList configuration;  // the interface in words, from the latest result
    int configurations = 0;     // distinct configuration records among the results
    bool simulated = false;     // any result came from the simulated box

    bool empty() const { return entries.empty(); }
};

// The report of `serial` from its rows (any order, any commands).
TestReportData buildTestReport(const QString& serial, const QString& since, const std::vector<ResultRow>& rows,
                               const QDateTime& generated = QDateTime::currentDateTimeUtc());

// The 512-byte configuration record in words: protocol, fields with labels
// and widths, clock, code, turn mode. One line each; a record that cannot be
// read says so.
QStringList configurationInWords(const QByteArray& record);

// The test's name in the report ("Absolute accuracy") for a command.
QString testTitle(const QString& command);

// The plots an entry has, each as its painter and its size in the report.
struct ReportPlot {
    QString caption;
    QSizeF size;  // CSS pixels
    std::function<void(QPainter&, const QRectF&)> paint;
};
std::vector<ReportPlot> entryPlots(const ReportEntry& e);

QByteArray testReportHtml(const TestReportData& data);
// Writes the PDF (A4); an error text, empty on success.
QString writeTestReportPdf(const QString& path, const TestReportData& data);
