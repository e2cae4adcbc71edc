// Writes rows into a results database as fast as it can, one transaction a
// row, so that two of these running at once contend for every write.
//   results_writer (PATH.sqlite | postgresql://...) COUNT SERIAL
#include "results/results_database.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: results_writer DATABASE COUNT SERIAL\n");
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[1]);
    QString error;
    const std::optional<ResultsLocation> where =
        target.contains("://") ? ResultsLocation::parse(target, &error) : ResultsLocation::sqlite(target);
    if (!where) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    ResultsDatabase db(*where);
    const int count = QString::fromLocal8Bit(argv[2]).toInt();
    for (int i = 0; i < count; ++i) {
        const ResultRow r = ResultRow::make(QStringLiteral("eeprom"), true, {{"value", i}},
                                            QString::fromLocal8Bit(argv[3]), QByteArray(3, char(i)));
        if (!db.insert({r})) {
            std::fprintf(stderr, "row %d: %s\n", i, qPrintable(db.error()));
            return 1;
        }
    }
    return 0;
}
