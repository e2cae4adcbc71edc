#pragma once
// What the "Results" window shows, without the widgets: the recent results
// to choose from (those of this session that the store may not have written
// yet, and the stored ones), one result as the report words it, the report
// of a serial and the accuracy trace as CSV.
#include "report/test_report.h"
#include "results/result_row.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>
#include <vector>

// The results this window's bench finished, newest last; any thread.
class RecentResults {
public:
    explicit RecentResults(std::size_t capacity = 200) : capacity_(capacity) {}
    void add(ResultRow row);
    std::vector<ResultRow> rows() const;

private:
    mutable std::mutex mutex_;
    std::vector<ResultRow> rows_;
    std::size_t capacity_;
};

// The results to choose from, newest first: `session` and `stored` merged
// (one row per uid), configuration runs left out (they have nothing to
// show), only `serial`'s when it is not empty, at most `limit`.
std::vector<ResultRow> resultChoices(const std::vector<ResultRow>& session, const std::vector<ResultRow>& stored,
                                     const QString& serial, int limit);
// A row of the choice list: local time, serial, test, verdict, plan verdict
// ("–" without one).
QStringList choiceColumns(const ResultRow& row);

// The stored results of the bench's SQLite file at `path`, `serial`'s only
// when not empty, newest `limit`. A missing file is no results, not an error.
std::vector<ResultRow> storedResults(const QString& path, const QString& serial, int limit, QString* error);

// One result as the report has it: figures and limits in words, both
// verdicts, the decoded trace (entryPlots() draws it).
ReportEntry resultEntry(const ResultRow& row);

// The accuracy trace for a spreadsheet, one line per sample:
//   sample,step,angle_deg,jump,jump_deg
//   0,0,11.700,0,
//   412,103,38.705,1,27.002
// `jump` is 1 on the sample that arrived by a jump, `jump_deg` the jump's
// size (the distance on the circle from the sample before).
QByteArray accuracyTraceCsv(const AccuracyTrace& trace);
// The CSV of a stored result; nothing, with `error`, when the result is not
// an accuracy test or kept no trace.
std::optional<QByteArray> accuracyCsvOf(const ResultRow& row, QString* error);

enum class ReportFormat { Html, Pdf };
// Writes `serial`'s report from `rows` to `path`; an error text, empty on
// success. No results is an error: an empty report is not worth a file
// from the window.
QString writeSerialReport(const QString& serial, const std::vector<ResultRow>& rows, ReportFormat format,
                          const QString& path);

// Every result of `serial` for its report: the stored ones and those of
// this session the store has not written yet.
std::vector<ResultRow> serialRows(const std::vector<ResultRow>& session, const QString& storePath,
                                  const QString& serial, QString* error);

// A file name for `serial`'s files: "report-QM-1.html"; characters a file
// name should not hold become '_'.
QString fileNameFor(const QString& prefix, const QString& serial, const QString& suffix);
