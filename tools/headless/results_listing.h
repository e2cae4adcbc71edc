#pragma once
// "quillmark-tool results": the filter as the command line gives it, and the
// rows as a table, CSV or JSON.
#include "results/results_database.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

// --since: a date or date and time in UTC ("2026-12-09", "2026-12-09T14:30",
// "2026-12-09 14:30:05", a trailing "Z" allowed), or an age ("90m", "12h",
// "7d") before `now`. Empty when the text is neither.
std::optional<QDateTime> parseSince(const QString& text, const QDateTime& now);

// Aligned columns for a person: time, station, serial, command, verdict and
// the figures (long figures cut to the width, with "...").
QByteArray resultsTable(const std::vector<ResultRow>& rows);
// RFC 4180 with a header line; every column, the record in hex.
QByteArray resultsCsv(const std::vector<ResultRow>& rows);
// One array of objects; figures as objects, the record in hex.
QByteArray resultsJson(const std::vector<ResultRow>& rows);

// Where kept results are read: the line's server when one is set and
// reachable (after sending this bench's outbox on), else the bench's file; a
// SQLite location with an empty path when nothing was kept yet. Nothing, with
// *error, when the configured server cannot be read.
std::optional<ResultsLocation> resultsSource(QString* error);

// Runs the command: lists from the line's server when one is set (after
// sending this bench's outbox on), else from the bench's file. Exit status.
int runResults(const QStringList& args, bool json);
