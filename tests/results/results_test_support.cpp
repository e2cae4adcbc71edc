#include "results_test_support.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

// Runs a statement on the server's maintenance database.
bool onServer(const QString& sql)
{
    QString error;
    const auto server = ResultsLocation::parse(testServerUrl(), &error);
    return server && execOn(*server, sql);
}

// QUILLMARK_TEST_PG_CTL is the throwaway script, QUILLMARK_TEST_PG_DIR its
// cluster; the port is the URL's.
bool control(const char* action)
{
    const QString script = qEnvironmentVariable("QUILLMARK_TEST_PG_CTL");
    QString error;
    const auto server = ResultsLocation::parse(testServerUrl(), &error);
    if (script.isEmpty() || !server)
        return false;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("bash"), {script, QString::fromLatin1(action), qEnvironmentVariable("QUILLMARK_TEST_PG_DIR"),
                                     QString::number(server->port)});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

bool execOn(const ResultsLocation& where, const QString& sql)
{
    const QString name = QStringLiteral("quillmark-test-raw");
    bool ok = false;
    {
        const bool sqlite = where.kind == ResultsLocation::Kind::Sqlite;
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", name);
        db.setHostName(where.host);
        db.setPort(where.port);
        db.setUserName(where.user);
        db.setDatabaseName(sqlite ? where.path : where.database);
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QString testServerUrl()
{
    return qEnvironmentVariable("QUILLMARK_TEST_PG_URL");
}

bool stopTestServer()
{
    return control("stop");
}

bool startTestServer()
{
    return control("start");
}

TestDatabases::TestDatabases() = default;

TestDatabases::~TestDatabases()
{
    for (const QString& name : created_)
        onServer(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
}

std::optional<TestDatabase> TestDatabases::make(ResultsLocation::Kind kind)
{
    if (kind == ResultsLocation::Kind::Sqlite) {
        const QString path = tmp_.filePath(QUuid::createUuid().toString(QUuid::Id128) + ".sqlite");
        return TestDatabase{ResultsLocation::sqlite(path), path};
    }
    if (testServerUrl().isEmpty())
        return std::nullopt;
    const QString name = QStringLiteral("qm_") + QUuid::createUuid().toString(QUuid::Id128);
    if (!onServer(QStringLiteral("CREATE DATABASE %1").arg(name))) {
        ADD_FAILURE() << "no database could be made on " << testServerUrl().toStdString();
        return std::nullopt;
    }
    created_ << name;
    QString url = testServerUrl();
    url = url.left(url.lastIndexOf('/') + 1) + name;
    QString error;
    return TestDatabase{*ResultsLocation::parse(url, &error), url};
}
