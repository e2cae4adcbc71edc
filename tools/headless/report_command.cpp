#include "headless/report_command.h"

#include "common/file_io.h"
#include "headless/options.h"
#include "headless/results_listing.h"
#include "headless/tool_result.h"
#include "report/test_report.h"

#include <QDateTime>
#include <cstdio>

int runTestReport(const QStringList& args)
{
    ResultsFilter filter;
    QString html, pdf, sinceText;
    try {
        const Options o(args, {"serial", "since", "html", "pdf"}, {"help"});
        if (o.has("help")) {
            std::fputs("Usage: quillmark-tool test-report --serial S [--since WHEN] [--html FILE] [--pdf FILE]\n"
                       "\n"
                       "The test report of one encoder: the interface, every test with its figures,\n"
                       "the plan's limits and both verdicts, and the plots of its traces. From the\n"
                       "line's server when QUILLMARK_RESULTS names one (any station's results), else\n"
                       "from this bench's results.sqlite. WHEN as for 'results'.\n",
                       stdout);
            return kPass;
        }
        filter.serial = o.value("serial");
        if (!o.has("serial") || filter.serial.isEmpty())
            throw UsageError{QStringLiteral("test-report needs --serial S")};
        html = o.value("html");
        pdf = o.value("pdf");
        if (html.isEmpty() && pdf.isEmpty())
            throw UsageError{QStringLiteral("test-report needs --html FILE or --pdf FILE (or both)")};
        if (o.has("since")) {
            sinceText = o.value("since");
            const auto since = parseSince(sinceText, QDateTime::currentDateTimeUtc());
            if (!since)
                throw UsageError{QStringLiteral("--since takes a UTC date (2026-12-09), date and time "
                                                "(2026-12-09T14:30) or an age (90m, 12h, 7d), not '%1'")
                                     .arg(sinceText)};
            filter.since = storedTime(*since);
        }
    } catch (const UsageError& e) {
        say(e.message + QStringLiteral(" (see 'quillmark-tool test-report --help')"));
        return kUsage;
    }

    QString error;
    const std::optional<ResultsLocation> from = resultsSource(&error);
    if (!from) {
        say(error);
        return kUsage;
    }
    std::vector<ResultRow> rows;
    if (!(from->kind == ResultsLocation::Kind::Sqlite && from->path.isEmpty())) {
        ResultsDatabase db(*from);
        if (!db.open()) {
            say(db.error());
            return kFailed;
        }
        rows = db.select(filter);
        if (!db.error().isEmpty()) {
            say(db.error());
            return kFailed;
        }
    }
    const TestReportData data = buildTestReport(filter.serial, sinceText, rows);
    if (data.empty())
        say(QStringLiteral("no test results for serial %1; the report says so").arg(filter.serial));
    if (!html.isEmpty() && !fileio::writeFileSafely(html, testReportHtml(data), &error)) {
        say(error);
        return kFailed;
    }
    if (!pdf.isEmpty()) {
        error = writeTestReportPdf(pdf, data);
        if (!error.isEmpty()) {
            say(error);
            return kFailed;
        }
    }
    int planFailed = 0;
    for (const ReportEntry& e : data.entries)
        planFailed += e.planVerdict == QLatin1String("fail");
    std::printf("%s: %zu results, %d against the plan failed%s\n", filter.serial.toLocal8Bit().constData(),
                data.entries.size(), planFailed, data.simulated ? " (simulated)" : "");
    return data.empty() ? kFailed : kPass;
}
