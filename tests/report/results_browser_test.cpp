// What the Results window shows and writes, without its widgets: the
// results it offers, the accuracy trace as CSV, the serial's report and the
// errors it says.
#include "report/results_browser.h"
#include "results/results_database.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

ResultRow row(const QString& uid, const QString& serial, const QString& command, int second, bool passed = true,
              const QString& plan = {})
{
    ResultRow r;
    r.uid = uid;
    r.serial = serial;
    r.command = command;
    r.timeUtc = QDateTime(QDate(2026, 12, 11), QTime(4, 0, second), Qt::UTC);
    r.station = "bench-1";
    r.verdict = passed ? kVerdictPass : kVerdictFail;
    r.version = "test";
    if (!plan.isEmpty())
        r.figures["plan"] = QJsonObject{{"verdict", plan}, {"limits", QJsonObject{{"max_jumps", 0}}}};
    return r;
}

QStringList uids(const std::vector<ResultRow>& rows)
{
    QStringList out;
    for (const ResultRow& r : rows)
        out << r.uid;
    return out;
}

// Samples across 0°, one jump of 20° back over it and one at the first sample.
AccuracyTrace wrappingTrace()
{
    return {{{0, 359.5, true}, {0, 359.9, false}, {1, 0.3, false}, {1, 340.3, true}, {2, 340.8125, false}}};
}

}  // namespace

TEST(ResultsBrowser, OffersEachResultOnceNewestFirstWithoutConfigurationRuns)
{
    const std::vector<ResultRow> session{row("s1", "QM-1", "abs-test", 30), row("c1", "QM-1", "configure", 31),
                                         row("s2", "QM-2", "sincos", 32), row("b", "QM-1", "eeprom", 20)};
    const std::vector<ResultRow> stored{row("a", "QM-1", "resolution", 10), row("b", "QM-1", "eeprom", 20),
                                        row("s1", "QM-1", "abs-test", 30)};
    EXPECT_EQ(uids(resultChoices(session, stored, "QM-1", 0)), (QStringList{"s1", "b", "a"}));
    EXPECT_EQ(uids(resultChoices(session, stored, "", 0)), (QStringList{"s2", "s1", "b", "a"}));
    EXPECT_EQ(uids(resultChoices(session, stored, "", 2)), (QStringList{"s2", "s1"}));
    EXPECT_TRUE(resultChoices(session, stored, "QM-9", 0).empty());
    EXPECT_EQ(choiceColumns(row("x", "QM-1", "abs-test", 5, false, "fail")).mid(1),
              (QStringList{"QM-1", "Absolute accuracy", "fail", "fail"}));
    EXPECT_EQ(choiceColumns(row("x", "QM-1", "eeprom", 5)).last(), QString::fromUtf8("–"));

    // From the bench's file: the newest of a serial, configuration runs left
    // out; the session's rows the store has not written yet join them for
    // the report.
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("results.sqlite");
    QString error;
    EXPECT_TRUE(storedResults(path, "QM-1", 10, &error).empty());
    EXPECT_EQ(error, "") << "no file yet: no results";
    {
        ResultsDatabase db(ResultsLocation::sqlite(path));
        ASSERT_TRUE(db.open());
        std::vector<ResultRow> rows;
        for (int i = 0; i < 6; ++i)
            rows.push_back(row(QString("r%1").arg(i), i == 5 ? "QM-2" : "QM-1", i == 4 ? "configure" : "abs-test", i));
        ASSERT_TRUE(db.insert(rows));
    }
    EXPECT_EQ(uids(storedResults(path, "QM-1", 2, &error)), (QStringList{"r2", "r3"}));
    EXPECT_EQ(uids(storedResults(path, "", 2, &error)), (QStringList{"r3", "r5"}));
    EXPECT_EQ(error, "");
    const std::vector<ResultRow> all = serialRows({row("r1", "QM-1", "abs-test", 1), row("new", "QM-1", "eeprom", 40),
                                                   row("other", "QM-2", "eeprom", 41)},
                                                  path, "QM-1", &error);
    EXPECT_EQ(uids(all), (QStringList{"r0", "r1", "r2", "r3", "r4", "new"})) << "the report keeps configuration runs";

    // A file that is not a results database is said, not taken for none.
    const QString junk = QDir(dir.path()).filePath("junk.sqlite");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    EXPECT_TRUE(storedResults(junk, "", 10, &error).empty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(ResultsBrowser, TheAccuracyTraceGoesToCsvWithItsJumpsAndOnlyFromAnAccuracyTest)
{
    EXPECT_EQ(accuracyTraceCsv(wrappingTrace()),
              "sample,step,angle_deg,jump,jump_deg\n"
              "0,0,359.500,1,\n"  // a jump needs a sample before it
              "1,0,359.900,0,\n"
              "2,1,0.300,0,\n"
              "3,1,340.300,1,20.000\n"
              "4,2,340.813,0,\n");
    EXPECT_EQ(accuracyTraceCsv({}), "sample,step,angle_deg,jump,jump_deg\n");

    ResultRow abs = row("a", "QM-1", "abs-test", 1);
    abs.trace = encodeTrace(wrappingTrace());
    QString error;
    const std::optional<QByteArray> csv = accuracyCsvOf(abs, &error);
    ASSERT_TRUE(csv) << error.toStdString();
    EXPECT_TRUE(csv->endsWith("4,2,340.813,0,\n")) << "stored to a thousandth of a degree";

    struct Case {
        const char* what;
        ResultRow r;
        const char* error;
    };
    ResultRow none = row("n", "QM-1", "abs-test", 1);
    ResultRow damaged = abs;
    damaged.trace = "QT\x7f garbage";
    ResultRow sincos = row("s", "QM-1", "sincos", 1);
    sincos.trace = encodeTrace(SinCosTrace{});
    for (const Case& c : {Case{"no trace", none, "kept no trace"}, Case{"damaged", damaged, "cannot be read"},
                          Case{"sin/cos", sincos, "this result is a sin/cos analysis"}}) {
        error.clear();
        EXPECT_FALSE(accuracyCsvOf(c.r, &error)) << c.what;
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.what << ": " << error.toStdString();
    }
}

TEST(ResultsBrowser, WritesTheSerialsReportAndSaysWhyItCannot)
{
    QTemporaryDir dir;
    ResultRow abs = row("a", "QM-1", "abs-test", 1, false, "fail");
    abs.figures["verdict"] = "errors";
    abs.figures["errors"] = QJsonArray{99.2};
    abs.trace = encodeTrace(wrappingTrace());
    const std::vector<ResultRow> rows{abs, row("e", "QM-1", "eeprom", 2), row("o", "QM-2", "eeprom", 3)};

    const QString html = QDir(dir.path()).filePath("report.html");
    ASSERT_EQ(writeSerialReport("QM-1", rows, ReportFormat::Html, html), "");
    QFile f(html);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray page = f.readAll();
    EXPECT_TRUE(page.contains("QM-1") && page.contains("<svg") && page.contains("EEPROM write"));
    EXPECT_FALSE(page.contains("QM-2"));
    const QString pdf = QDir(dir.path()).filePath("report.pdf");
    ASSERT_EQ(writeSerialReport("QM-1", rows, ReportFormat::Pdf, pdf), "");
    QFile p(pdf);
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    EXPECT_TRUE(p.read(5) == "%PDF-");

    EXPECT_TRUE(writeSerialReport("QM-9", rows, ReportFormat::Html, html).contains("no test results for serial QM-9"));
    EXPECT_TRUE(writeSerialReport("", rows, ReportFormat::Pdf, pdf).contains("no serial"));
    for (ReportFormat format : {ReportFormat::Html, ReportFormat::Pdf}) {
        const QString into = QDir(dir.path()).filePath("missing/folder/report");
        const QString error = writeSerialReport("QM-1", rows, format, into);
        EXPECT_TRUE(error.contains(into)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(into));
        EXPECT_FALSE(writeSerialReport("QM-1", rows, format, dir.path()).isEmpty()) << "a folder is no report file";
    }
    EXPECT_EQ(fileNameFor("report", "QM 1/a", ".pdf"), "report-QM_1_a.pdf");
    EXPECT_EQ(fileNameFor("accuracy", "", ".csv"), "accuracy-no-serial.csv");
}
