#include "results/results_database.h"

#include <QFileInfo>
#include <QDir>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <algorithm>

namespace {

bool isSqlite(const ResultsLocation& l)
{
    return l.kind == ResultsLocation::Kind::Sqlite;
}

// Each step brings the schema from version i to i + 1.
QStringList migrationStep(int from, bool sqlite)
{
    const QString blob = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    switch (from) {
    case 0:
        return {QStringLiteral("CREATE TABLE results ("
                               " uid VARCHAR(36) PRIMARY KEY,"
                               " time_utc VARCHAR(24) NOT NULL,"
                               " station TEXT NOT NULL,"
                               " serial TEXT NOT NULL,"
                               " command TEXT NOT NULL,"
                               " verdict TEXT NOT NULL,"
                               " figures TEXT NOT NULL,"
                               " config %1,"
                               " version TEXT NOT NULL)")
                    .arg(blob),
                QStringLiteral("CREATE INDEX results_by_time ON results (time_utc)"),
                QStringLiteral("CREATE INDEX results_by_serial ON results (serial)"),
                QStringLiteral("CREATE TABLE outbox (uid VARCHAR(36) PRIMARY KEY, queued_at VARCHAR(24) NOT NULL)")};
    case 1:
        // The samples behind the figures (the plots' data), compressed.
        return {QStringLiteral("ALTER TABLE results ADD COLUMN trace %1").arg(blob)};
    default:
        return {};
    }
}

ResultRow rowOf(const QSqlQuery& q)
{
    ResultRow r;
    r.uid = q.value(0).toString();
    r.timeUtc = timeFromStored(q.value(1).toString());
    r.station = q.value(2).toString();
    r.serial = q.value(3).toString();
    r.command = q.value(4).toString();
    r.verdict = q.value(5).toString();
    r.figures = QJsonDocument::fromJson(q.value(6).toString().toUtf8()).object();
    r.config = q.value(7).toByteArray();
    r.version = q.value(8).toString();
    r.trace = q.value(9).toByteArray();
    return r;
}

// Text columns are NOT NULL; a null QString would bind as NULL.
QString text(const QString& s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

const QString kColumns =
    QStringLiteral("uid, time_utc, station, serial, command, verdict, figures, config, version, trace");

}  // namespace

ResultsDatabase::ResultsDatabase(const ResultsLocation& where)
    : where_(where), name_(QStringLiteral("quillmark-results-") + QUuid::createUuid().toString(QUuid::Id128))
{
}

ResultsDatabase::~ResultsDatabase()
{
    close();
}

bool ResultsDatabase::fail(const QString& what, const QString& why)
{
    error_ = QStringLiteral("%1 (%2): %3").arg(what, where_.describe(), why);
    return false;
}

bool ResultsDatabase::isOpen() const
{
    return QSqlDatabase::contains(name_) && QSqlDatabase::database(name_, false).isOpen();
}

void ResultsDatabase::close()
{
    if (!QSqlDatabase::contains(name_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

bool ResultsDatabase::open()
{
    close();
    error_.clear();
    const bool sqlite = isSqlite(where_);
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return fail(QStringLiteral("Results cannot be stored"),
                    QStringLiteral("Qt's %1 driver is not installed (Debian: %2)")
                        .arg(driver, sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql"));
    if (!connect(driver))
        return false;
    if (!migrate()) {
        close();
        return false;
    }
    return true;
}

bool ResultsDatabase::connect(const QString& driver)
{
    const bool sqlite = isSqlite(where_);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name_);
    if (sqlite) {
        const QFileInfo file(where_.path);
        if (file.exists() && !file.isFile())
            return fail(QStringLiteral("Results cannot be stored"), QStringLiteral("not a regular file"));
        QDir().mkpath(file.absolutePath());
        db.setDatabaseName(where_.path);
        // Writers of other processes wait for each other instead of failing.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(where_.host);
        db.setPort(where_.port);
        db.setUserName(where_.user);
        db.setPassword(where_.password);
        db.setDatabaseName(where_.database);
        // A server that is away must not hold the caller for long.
        db.setConnectOptions(QStringLiteral("connect_timeout=3"));
    }
    if (!db.open())
        return fail(QStringLiteral("The results database cannot be opened"), db.lastError().text());
    if (sqlite) {
        QSqlQuery q(db);
        // WAL lets readers go on while another process writes.
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    } else {
        // Not the server's notices ("already exists, skipping") on our stderr.
        QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
    }
    return true;
}

bool ResultsDatabase::begin()
{
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (isSqlite(where_)) {
        // Take the write lock up front: a deferred transaction that upgrades
        // later can fail at once instead of waiting for the other writer.
        QSqlQuery q(db);
        return q.exec(QStringLiteral("BEGIN IMMEDIATE")) || fail(QStringLiteral("BEGIN"), q.lastError().text());
    }
    return db.transaction() || fail(QStringLiteral("BEGIN"), db.lastError().text());
}

bool ResultsDatabase::commit()
{
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (isSqlite(where_)) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("COMMIT")))
            return true;
        const QString why = q.lastError().text();
        rollback();
        return fail(QStringLiteral("COMMIT"), why);
    }
    if (db.commit())
        return true;
    const QString why = db.lastError().text();
    rollback();
    return fail(QStringLiteral("COMMIT"), why);
}

void ResultsDatabase::rollback()
{
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (isSqlite(where_))
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    else
        db.rollback();
}

int ResultsDatabase::schemaVersion()
{
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())
        return 0;
    return q.value(0).toInt();
}

bool ResultsDatabase::migrate()
{
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    const bool sqlite = isSqlite(where_);
    if (!begin())
        return false;
    QSqlQuery q(db);
    // Two stations starting on an empty server migrate one after the other.
    if (!sqlite && !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7461)"))) {
        const QString why = q.lastError().text();
        rollback();
        return fail(QStringLiteral("The results schema cannot be locked"), why);
    }
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"))) {
        const QString why = q.lastError().text();
        rollback();
        return fail(QStringLiteral("The results schema cannot be created"), why);
    }
    int version = schemaVersion();
    if (version > kResultsSchemaVersion) {
        rollback();
        return fail(QStringLiteral("The results database is newer than this program"),
                    QStringLiteral("schema version %1, this program knows up to %2").arg(version).arg(kResultsSchemaVersion));
    }
    for (; version < kResultsSchemaVersion; ++version) {
        for (const QString& sql : migrationStep(version, sqlite)) {
            if (!q.exec(sql)) {
                const QString why = q.lastError().text();
                rollback();
                return fail(QStringLiteral("The results schema cannot be migrated to version %1").arg(version + 1), why);
            }
        }
        q.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        q.addBindValue(version + 1);
        if (!q.exec()) {
            const QString why = q.lastError().text();
            rollback();
            return fail(QStringLiteral("The results schema version cannot be written"), why);
        }
    }
    return commit();
}

bool ResultsDatabase::insert(const std::vector<ResultRow>& rows, bool queue)
{
    if (rows.empty())
        return true;
    if (!isOpen() && !open())
        return false;
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (!begin())
        return false;
    QSqlQuery q(db);
    QSqlQuery o(db);
    const bool prepared =
        q.prepare(QStringLiteral("INSERT INTO results (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (uid) DO NOTHING")
                      .arg(kColumns)) &&
        (!queue || o.prepare(QStringLiteral("INSERT INTO outbox (uid, queued_at) VALUES (?, ?) ON CONFLICT (uid) DO NOTHING")));
    if (!prepared) {
        const QString why = q.lastError().isValid() ? q.lastError().text() : o.lastError().text();
        rollback();
        return fail(QStringLiteral("Results cannot be written"), why);
    }
    for (const ResultRow& r : rows) {
        q.bindValue(0, r.uid);
        q.bindValue(1, storedTime(r.timeUtc));
        q.bindValue(2, text(r.station));
        q.bindValue(3, text(r.serial));
        q.bindValue(4, text(r.command));
        q.bindValue(5, text(r.verdict));
        q.bindValue(6, QString::fromUtf8(QJsonDocument(r.figures).toJson(QJsonDocument::Compact)));
        q.bindValue(7, r.config);
        q.bindValue(8, text(r.version));
        // An empty trace is stored as NULL.
        q.bindValue(9, r.trace.isEmpty() ? QVariant(QMetaType::fromType<QByteArray>()) : QVariant(r.trace));
        bool ok = q.exec();
        if (ok && queue) {
            o.bindValue(0, r.uid);
            o.bindValue(1, storedTime(r.timeUtc));
            ok = o.exec();
        }
        if (!ok) {
            const QString why = q.lastError().isValid() ? q.lastError().text() : o.lastError().text();
            rollback();
            return fail(QStringLiteral("Results cannot be written"), why);
        }
    }
    return commit();
}

std::vector<ResultRow> ResultsDatabase::select(const ResultsFilter& filter)
{
    std::vector<ResultRow> rows;
    if (!isOpen() && !open())
        return rows;
    QStringList where;
    QVariantList values;
    auto add = [&](const QString& column, const char* op, const QString& value) {
        if (value.isEmpty())
            return;
        where << QStringLiteral("%1 %2 ?").arg(column, QLatin1String(op));
        values << value;
    };
    add(QStringLiteral("time_utc"), ">=", filter.since);
    add(QStringLiteral("serial"), "=", filter.serial);
    add(QStringLiteral("verdict"), "=", filter.verdict);
    add(QStringLiteral("station"), "=", filter.station);
    for (const QString& c : filter.skipCommands)
        add(QStringLiteral("command"), "<>", c);
    QString sql = QStringLiteral("SELECT %1 FROM results").arg(kColumns);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    const bool newest = filter.newest && filter.limit > 0;
    sql += newest ? QStringLiteral(" ORDER BY time_utc DESC, uid DESC") : QStringLiteral(" ORDER BY time_utc, uid");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(QStringLiteral("Results cannot be read"), q.lastError().text());
        return rows;
    }
    while (q.next())
        rows.push_back(rowOf(q));
    if (newest)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

std::vector<ResultRow> ResultsDatabase::queued(int limit)
{
    std::vector<ResultRow> rows;
    if (!isOpen() && !open())
        return rows;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM results WHERE uid IN (SELECT uid FROM outbox ORDER BY queued_at LIMIT ?)"
                             " ORDER BY time_utc, uid")
                  .arg(kColumns));
    q.addBindValue(limit);
    if (!q.exec()) {
        fail(QStringLiteral("Queued results cannot be read"), q.lastError().text());
        return rows;
    }
    while (q.next())
        rows.push_back(rowOf(q));
    return rows;
}

bool ResultsDatabase::dequeue(const QStringList& uids)
{
    if (uids.isEmpty())
        return true;
    if (!isOpen() && !open())
        return false;
    if (!begin())
        return false;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE uid = ?"));
    for (const QString& uid : uids) {
        q.bindValue(0, uid);
        if (!q.exec()) {
            const QString why = q.lastError().text();
            rollback();
            return fail(QStringLiteral("The outbox cannot be updated"), why);
        }
    }
    return commit();
}

int ResultsDatabase::queuedCount()
{
    if (!isOpen() && !open())
        return -1;
    QSqlQuery q(QSqlDatabase::database(name_, false));
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) || !q.next())
        return -1;
    return q.value(0).toInt();
}
