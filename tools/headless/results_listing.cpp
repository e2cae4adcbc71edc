#include "headless/results_listing.h"
#include "headless/tool_result.h"

#include "headless/options.h"
#include "results/results_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int kFiguresWidth = 60;

QString shownTime(const ResultRow& r)
{
    return r.timeUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString compactFigures(const ResultRow& r)
{
    return QString::fromUtf8(QJsonDocument(r.figures).toJson(QJsonDocument::Compact));
}

QString csvField(const QString& s)
{
    if (!s.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return s;
    QString q = s;
    q.replace('"', QStringLiteral("\"\""));
    return '"' + q + '"';
}

}  // namespace

std::optional<QDateTime> parseSince(const QString& text, const QDateTime& now)
{
    const QString t = text.trimmed();
    static const QRegularExpression age(QStringLiteral("^(\\d{1,6})([mhd])$"));
    if (const QRegularExpressionMatch m = age.match(t); m.hasMatch()) {
        const qint64 n = m.captured(1).toLongLong();
        const qint64 unit = m.captured(2) == "m" ? 60 : m.captured(2) == "h" ? 3600 : 86400;
        return now.toUTC().addSecs(-n * unit);
    }
    QString iso = t;
    if (iso.endsWith('Z'))
        iso.chop(1);
    iso.replace(' ', 'T');
    for (const char* format : {"yyyy-MM-dd", "yyyy-MM-ddTHH:mm", "yyyy-MM-ddTHH:mm:ss"}) {
        QDateTime d = QDateTime::fromString(iso, QLatin1String(format));
        if (d.isValid()) {
            d.setTimeSpec(Qt::UTC);
            return d;
        }
    }
    return std::nullopt;
}

QByteArray resultsTable(const std::vector<ResultRow>& rows)
{
    const QStringList header{"TIME (UTC)", "STATION", "SERIAL", "COMMAND", "VERDICT", "FIGURES"};
    std::vector<QStringList> lines{header};
    for (const ResultRow& r : rows) {
        QString figures = compactFigures(r);
        if (figures.size() > kFiguresWidth)
            figures = figures.left(kFiguresWidth - 3) + QStringLiteral("...");
        lines.push_back({shownTime(r), r.station, r.serial.isEmpty() ? QStringLiteral("-") : r.serial, r.command,
                         r.verdict, figures});
    }
    std::vector<int> width(header.size(), 0);
    for (const QStringList& l : lines)
        for (int i = 0; i < l.size(); ++i)
            width[i] = std::max(width[i], static_cast<int>(l[i].size()));
    QString out;
    for (const QStringList& l : lines) {
        QString line;
        for (int i = 0; i < l.size(); ++i)
            line += i + 1 < l.size() ? l[i].leftJustified(width[i] + 2) : l[i];
        out += line + '\n';
    }
    return out.toUtf8();
}

QByteArray resultsCsv(const std::vector<ResultRow>& rows)
{
    QString out = QStringLiteral("time_utc,station,serial,command,verdict,figures,config,version,uid\r\n");
    for (const ResultRow& r : rows) {
        const QStringList f{storedTime(r.timeUtc), r.station, r.serial, r.command, r.verdict, compactFigures(r),
                            QString::fromLatin1(r.config.toHex()), r.version, r.uid};
        QStringList quoted;
        for (const QString& s : f)
            quoted << csvField(s);
        out += quoted.join(',') + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

QByteArray resultsJson(const std::vector<ResultRow>& rows)
{
    QJsonArray a;
    for (const ResultRow& r : rows)
        a << QJsonObject{{"time", storedTime(r.timeUtc)}, {"station", r.station}, {"serial", r.serial},
                         {"command", r.command}, {"verdict", r.verdict}, {"figures", r.figures},
                         {"config", QString::fromLatin1(r.config.toHex())}, {"version", r.version}, {"uid", r.uid}};
    return QJsonDocument(a).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<ResultsLocation> resultsSource(QString* error)
{
    const ResultsStoreOptions options = configuredResultsStore(error);
    if (!error->isEmpty())
        return std::nullopt;
    ResultsLocation from = ResultsLocation::sqlite(options.localPath);
    if (options.server) {
        // Results of this bench that wait for the server go first.
        bool reachable = false;
        {
            ResultsStore store(options);
            store.flush(15000);
            reachable = store.status().serverReachable;
        }
        if (reachable)
            from = *options.server;
        else
            say(QStringLiteral("the results server %1 cannot be reached; using this bench's results")
                    .arg(options.server->describe()));
    }
    if (!options.server && !QFileInfo::exists(options.localPath))
        from.path.clear();  // nothing kept yet: no file made for it
    return from;
}

int runResults(const QStringList& args, bool json)
{
    enum { kOk = 0, kFailed = 1, kUsage = 2 };
    ResultsFilter filter;
    bool csv = false;
    try {
        QStringList given = args;
        given.replaceInStrings(QRegularExpression(QStringLiteral("^-h$")), QStringLiteral("--help"));
        const Options o(given, {"since", "serial", "verdict", "station"}, {"csv", "json", "help"});
        if (o.has("help")) {
            std::fputs("Usage: quillmark-tool results [--since WHEN] [--serial S] [--verdict pass|fail]\n"
                       "                              [--station HOST] [--csv | --json]\n"
                       "\n"
                       "Lists the kept results, oldest first: this bench's results.sqlite, or the\n"
                       "server QUILLMARK_RESULTS names (after sending this bench's waiting results).\n"
                       "WHEN is a UTC date (2026-12-09), date and time (2026-12-09T14:30) or an age\n"
                       "(90m, 12h, 7d).\n",
                       stdout);
            return kOk;
        }
        csv = o.has("csv");
        json = json || o.has("json");
        if (csv && json)
            throw UsageError{QStringLiteral("--csv and --json exclude each other")};
        if (o.has("since")) {
            const auto since = parseSince(o.value("since"), QDateTime::currentDateTimeUtc());
            if (!since)
                throw UsageError{QStringLiteral("--since takes a UTC date (2026-12-09), date and time "
                                                "(2026-12-09T14:30) or an age (90m, 12h, 7d), not '%1'")
                                     .arg(o.value("since"))};
            filter.since = storedTime(*since);
        }
        filter.serial = o.value("serial");
        filter.station = o.value("station");
        filter.verdict = o.value("verdict");
        if (o.has("verdict") && filter.verdict != kVerdictPass && filter.verdict != kVerdictFail)
            throw UsageError{QStringLiteral("--verdict is pass or fail")};
    } catch (const UsageError& e) {
        say(e.message + QStringLiteral(" (see 'quillmark-tool results --help')"));
        return kUsage;
    }

    QString error;
    const std::optional<ResultsLocation> source = resultsSource(&error);
    if (!source) {
        say(error);
        return kUsage;
    }
    const ResultsLocation& from = *source;
    const std::vector<ResultRow> none;
    ResultsDatabase db(from);
    if (from.kind == ResultsLocation::Kind::Sqlite && from.path.isEmpty()) {
        const QByteArray out = json ? resultsJson(none) : csv ? resultsCsv(none) : resultsTable(none);
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
        return kOk;
    }
    if (!db.open()) {
        say(db.error());
        return kFailed;
    }
    const std::vector<ResultRow> rows = db.select(filter);
    if (!db.error().isEmpty()) {
        say(db.error());
        return kFailed;
    }
    const QByteArray out = json ? resultsJson(rows) : csv ? resultsCsv(rows) : resultsTable(rows);
    if (std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) != static_cast<std::size_t>(out.size()) ||
        std::fflush(stdout) != 0) {
        say(QStringLiteral("the listing could not be written"));
        return kFailed;
    }
    return kOk;
}
