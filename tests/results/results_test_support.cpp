#include "results_test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
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

PrivateServer::PrivateServer()
{
    if (qEnvironmentVariable("QUILLMARK_TEST_PG_CTL").isEmpty() || !dir_.isValid())
        return;
    // The server runs as the postgres user when the tests run as root.
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup);
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        port_ = 40000 + static_cast<int>(QRandomGenerator::global()->bounded(10000));
        running_ = control("start");
    }
}

PrivateServer::~PrivateServer()
{
    if (running_)
        control("stop");
}

QString PrivateServer::url() const
{
    return running_ ? QStringLiteral("postgresql://postgres@127.0.0.1:%1/postgres").arg(port_) : QString();
}

bool PrivateServer::stop()
{
    running_ = !control("stop");
    return !running_;
}

bool PrivateServer::start()
{
    running_ = control("start");
    return running_;
}

bool PrivateServer::control(const char* action)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("bash"), {qEnvironmentVariable("QUILLMARK_TEST_PG_CTL"), QString::fromLatin1(action),
                                     dir_.filePath("data"), QString::number(port_)});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
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
