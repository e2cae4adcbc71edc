#pragma once
// One connection to a results database, opened and migrated on the thread
// that uses it (Qt SQL connections belong to the thread that made them).
#include "results/result_row.h"
#include "results/results_location.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <vector>

// The schema this program writes; a database with a higher version is
// refused rather than written in a shape we do not know.
inline constexpr int kResultsSchemaVersion = 2;

struct ResultsFilter {
    QString since;  // stored-time text; rows at or after it
    QString serial;
    QString verdict;
    QString station;
    int limit = 0;  // 0: all
    QStringList skipCommands{};  // rows of these commands left out
    bool newest = false;         // with a limit, the newest rows (still in time order)
};

class ResultsDatabase {
public:
    explicit ResultsDatabase(const ResultsLocation& where);
    ~ResultsDatabase();
    ResultsDatabase(const ResultsDatabase&) = delete;
    ResultsDatabase& operator=(const ResultsDatabase&) = delete;

    // Opens the connection and brings the schema to the current version.
    // False with error() set when it cannot.
    bool open();
    bool isOpen() const;
    void close();
    QString error() const { return error_; }
    const ResultsLocation& location() const { return where_; }

    // Writes the rows in one transaction; a row whose uid is stored already
    // is left as it is. `queue` also puts each uid in the outbox for a server.
    bool insert(const std::vector<ResultRow>& rows, bool queue = false);
    std::vector<ResultRow> select(const ResultsFilter& filter);

    // The outbox: rows this bench has not yet handed to the server, oldest first.
    std::vector<ResultRow> queued(int limit);
    bool dequeue(const QStringList& uids);
    int queuedCount();

    int schemaVersion();

private:
    bool connect(const QString& driver);
    bool migrate();
    bool begin();
    bool commit();
    void rollback();
    bool fail(const QString& what, const QString& why);

    ResultsLocation where_;
    QString name_;
    QString error_;
};
