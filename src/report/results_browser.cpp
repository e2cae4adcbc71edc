#include "report/results_browser.h"

#include "common/file_io.h"
#include "results/results_database.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>

void RecentResults::add(ResultRow row)
{
    std::lock_guard lock(mutex_);
    rows_.push_back(std::move(row));
    if (rows_.size() > capacity_)
        rows_.erase(rows_.begin());
}

std::vector<ResultRow> RecentResults::rows() const
{
    std::lock_guard lock(mutex_);
    return rows_;
}

std::vector<ResultRow> resultChoices(const std::vector<ResultRow>& session, const std::vector<ResultRow>& stored,
                                     const QString& serial, int limit)
{
    std::vector<ResultRow> all;
    QSet<QString> seen;
    for (const std::vector<ResultRow>* from : {&session, &stored}) {
        for (const ResultRow& r : *from) {
            if (r.command == QLatin1String("configure") || (!serial.isEmpty() && r.serial != serial))
                continue;
            if (seen.contains(r.uid))
                continue;
            seen.insert(r.uid);
            all.push_back(r);
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const ResultRow& a, const ResultRow& b) { return a.timeUtc > b.timeUtc; });
    if (limit > 0 && all.size() > static_cast<std::size_t>(limit))
        all.resize(static_cast<std::size_t>(limit));
    return all;
}

QStringList choiceColumns(const ResultRow& row)
{
    const QString plan = row.figures["plan"].toObject()["verdict"].toString();
    return {row.timeUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), row.serial,
            testTitle(row.command), row.verdict, plan.isEmpty() ? QStringLiteral("–") : plan};
}

std::vector<ResultRow> storedResults(const QString& path, const QString& serial, int limit, QString* error)
{
    if (!QFileInfo::exists(path))
        return {};
    ResultsDatabase db(ResultsLocation::sqlite(path));
    if (!db.open()) {
        *error = db.error();
        return {};
    }
    ResultsFilter filter;
    filter.serial = serial;
    filter.skipCommands = {QStringLiteral("configure")};
    filter.limit = limit;
    filter.newest = true;
    std::vector<ResultRow> rows = db.select(filter);
    if (!db.error().isEmpty())
        *error = db.error();
    return rows;
}

ReportEntry resultEntry(const ResultRow& row)
{
    TestReportData d = buildTestReport(row.serial, {}, {row});
    if (d.entries.empty()) {
        ReportEntry e;
        e.row = row;
        e.test = testTitle(row.command);
        return e;
    }
    return std::move(d.entries.front());
}

QByteArray accuracyTraceCsv(const AccuracyTrace& trace)
{
    const std::vector<double> sizes = traceJumpSizes(trace);
    QByteArray csv = "sample,step,angle_deg,jump,jump_deg\n";
    std::size_t jump = 0;
    for (std::size_t i = 0; i < trace.points.size(); ++i) {
        const AccuracyTracePoint& p = trace.points[i];
        csv += QByteArray::number(static_cast<qulonglong>(i)) + ',' + QByteArray::number(p.step) + ',' +
               QByteArray::number(p.angle, 'f', 3) + ',' + (p.jump ? "1," : "0,");
        if (p.jump && i > 0 && jump < sizes.size())  // as traceJumpSizes counts them
            csv += QByteArray::number(sizes[jump++], 'f', 3);
        csv += '\n';
    }
    return csv;
}

std::optional<QByteArray> accuracyCsvOf(const ResultRow& row, QString* error)
{
    if (row.command != QLatin1String("abs-test")) {
        *error = QStringLiteral("Only an absolute accuracy test has an accuracy trace; this result is a %1.")
                     .arg(testTitle(row.command).toLower());
        return std::nullopt;
    }
    const std::optional<ResultTrace> trace = row.trace.isEmpty() ? std::nullopt : decodeTrace(row.trace);
    const AccuracyTrace* t = trace ? std::get_if<AccuracyTrace>(&*trace) : nullptr;
    if (!t) {
        *error = row.trace.isEmpty() ? QStringLiteral("This accuracy test kept no trace.")
                                     : QStringLiteral("This accuracy test's trace cannot be read (damaged, or from a "
                                                      "later program).");
        return std::nullopt;
    }
    return accuracyTraceCsv(*t);
}

QString writeSerialReport(const QString& serial, const std::vector<ResultRow>& rows, ReportFormat format,
                          const QString& path)
{
    const TestReportData data = buildTestReport(serial, {}, rows);
    if (data.empty())
        return serial.isEmpty() ? QStringLiteral("The results have no serial: type it under \"Description:\" before the tests.")
                                : QStringLiteral("There are no test results for serial %1.").arg(serial);
    if (format == ReportFormat::Pdf)
        return writeTestReportPdf(path, data);
    QString error;
    if (!fileio::writeFileSafely(path, testReportHtml(data), &error))
        return error;
    return {};
}

std::vector<ResultRow> serialRows(const std::vector<ResultRow>& session, const QString& storePath,
                                  const QString& serial, QString* error)
{
    std::vector<ResultRow> rows;
    if (!storePath.isEmpty() && QFileInfo::exists(storePath)) {
        ResultsDatabase db(ResultsLocation::sqlite(storePath));
        if (!db.open()) {
            *error = db.error();
        } else {
            ResultsFilter filter;
            filter.serial = serial;
            rows = db.select(filter);
            if (!db.error().isEmpty())
                *error = db.error();
        }
    }
    QSet<QString> stored;
    for (const ResultRow& r : rows)
        stored.insert(r.uid);
    for (const ResultRow& r : session)
        if (r.serial == serial && !stored.contains(r.uid))
            rows.push_back(r);
    return rows;
}

QString fileNameFor(const QString& prefix, const QString& serial, const QString& suffix)
{
    QString name = serial.trimmed();
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() || c == '-' || c == '_' || c == '.'))
            c = '_';
    if (name.isEmpty() || name.startsWith('.'))
        name.prepend(QStringLiteral("no-serial"));
    return prefix + '-' + name + suffix;
}
