#include "results/results_location.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

ResultsLocation ResultsLocation::sqlite(const QString& path)
{
    ResultsLocation l;
    l.kind = Kind::Sqlite;
    l.path = path;
    return l;
}

std::optional<ResultsLocation> ResultsLocation::parse(const QString& text, QString* error)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    auto fail = [&](const QString& why) -> std::optional<ResultsLocation> {
        if (error)
            *error = QStringLiteral("'%1' is no results database: %2").arg(text, why);
        return std::nullopt;
    };
    if (!url.isValid())
        return fail(url.errorString());
    if (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres"))
        return fail(QStringLiteral("expected postgresql://user@host/database"));
    ResultsLocation l;
    l.kind = Kind::Postgres;
    l.host = url.host();
    l.port = url.port(5432);
    l.user = url.userName();
    l.password = url.password();
    l.database = url.path().mid(1);
    if (l.host.isEmpty())
        return fail(QStringLiteral("no host"));
    if (l.database.isEmpty() || l.database.contains('/'))
        return fail(QStringLiteral("no database name after the host"));
    return l;
}

QString ResultsLocation::describe() const
{
    if (kind == Kind::Sqlite)
        return path;
    QString s = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        s += user + '@';
    s += host;
    if (port != 5432)
        s += ':' + QString::number(port);
    return s + '/' + database;
}

QString defaultResultsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("results.sqlite"));
}

QString configuredResultsUrl()
{
    const QString env = qEnvironmentVariable("QUILLMARK_RESULTS").trimmed();
    if (!env.isEmpty())
        return env;
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmark"),
                       QStringLiteral("Quillmark"));
    return settings.value(QStringLiteral("results/database")).toString().trimmed();
}
