// Rows per second the results store takes from one station: a burst of
// results recorded at once (written in batches), and results one at a time
// each waited for (a test's worst case), into the bench's SQLite file alone
// and on to a PostgreSQL server.
// A program rather than a timed test: run it by hand and read the figures.
//   bench_results_store [ROWS] [postgresql://user@host:port/database]
#include "results/results_database.h"
#include "results/results_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

ResultRow sampleRow(int i)
{
    return ResultRow::make(QStringLiteral("abs-test"), i % 7 != 0,
                           {{"verdict", "pass"}, {"travel", 361.8}, {"errors", QJsonArray{}}},
                           QStringLiteral("SN-%1").arg(i % 50), QByteArray(512, char(i)));
}

void measure(const char* what, const ResultsStoreOptions& options, int rows, bool oneAtATime)
{
    ResultsStore store(options);
    store.flush(30000);  // schema and connections ready
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rows; ++i) {
        store.record(sampleRow(i));
        if (oneAtATime)
            store.flush(30000);
    }
    const bool done = store.flush(120000);
    const double s = t.nsecsElapsed() / 1e9;
    const ResultsStore::Status st = store.status();
    std::printf("  %-44s %6d rows in %7.3f s = %8.0f rows/s%s  (written %d, delivered %d, queued %d)\n", what, rows, s,
                rows / s, done ? "" : " (flush timed out)", st.written, st.delivered, st.queued);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 2000;
    const QString serverUrl = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QTemporaryDir dir;
    auto options = [&](const QString& name) {
        ResultsStoreOptions o;
        o.localPath = dir.filePath(name);
        return o;
    };
    std::printf("results store, one station, %d rows of 512-byte records:\n", rows);
    measure("SQLite, burst", options("burst.sqlite"), rows, false);
    measure("SQLite, one at a time (each flushed)", options("single.sqlite"), rows / 4, true);
    if (serverUrl.isEmpty()) {
        std::printf("  (no PostgreSQL URL given: server figures skipped)\n");
        return 0;
    }
    QString error;
    const auto server = ResultsLocation::parse(serverUrl, &error);
    if (!server) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    ResultsStoreOptions o = options("to-server-burst.sqlite");
    o.server = server;
    measure("SQLite + PostgreSQL, burst", o, rows, false);
    o = options("to-server-single.sqlite");
    o.server = server;
    measure("SQLite + PostgreSQL, one at a time", o, rows / 4, true);
    return 0;
}
