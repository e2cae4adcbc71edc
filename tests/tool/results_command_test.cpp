// "quillmark-tool results" and the results the box commands keep: listing,
// filters and formats, and a line's server that is away when a test ends.
#include "headless/results_listing.h"
#include "results_test_support.h"
#include "tool/tool_run.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ResultsCommand : public ::testing::Test {
protected:
    QTemporaryDir dataRoot;
    QString server;  // QUILLMARK_RESULTS for the runs

    ToolRun tool(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataRoot.path());
        env.remove("QUILLMARK_RESULTS");
        if (!server.isEmpty())
            env.insert("QUILLMARK_RESULTS", server);
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(QUILLMARK_TOOL_PATH), args);
        EXPECT_TRUE(p.waitForFinished(120000)) << args.join(' ').toStdString();
        ToolRun r;
        r.ms = t.elapsed();
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }
    QJsonArray list(QStringList args)
    {
        const ToolRun r = tool(QStringList{"results", "--json"} + args);
        EXPECT_EQ(r.status, 0) << r.err.constData();
        return QJsonDocument::fromJson(r.out).array();
    }
    static QStringList serials(const QJsonArray& rows)
    {
        QStringList s;
        for (const QJsonValue& v : rows)
            s << v["serial"].toString() + ":" + v["command"].toString() + ":" + v["verdict"].toString();
        return s;
    }
};

ResultRow sample(const QString& serial, const QJsonObject& figures)
{
    ResultRow r = ResultRow::make("eeprom", false, figures, serial, QByteArray("\x01\xab", 2));
    r.timeUtc = timeFromStored("2026-12-09T14:05:06.007Z");
    r.station = "bench-7";
    r.uid = "u-1";
    r.version = "2.3";
    return r;
}

}  // namespace

TEST(ResultsListing, SinceTakesDatesTimesAndAges)
{
    const QDateTime now = timeFromStored("2026-12-09T12:00:00.000Z");
    struct Case {
        const char* text;
        const char* since;  // empty: refused
    } cases[] = {
        {"2026-12-01", "2026-12-01T00:00:00.000Z"},      {"2026-12-01T08:30", "2026-12-01T08:30:00.000Z"},
        {"2026-12-01 08:30:05Z", "2026-12-01T08:30:05.000Z"}, {"90m", "2026-12-09T10:30:00.000Z"},
        {"12h", "2026-12-09T00:00:00.000Z"},             {"7d", "2026-12-02T12:00:00.000Z"},
        {"yesterday", ""}, {"2026-13-01", ""}, {"-3d", ""}, {"", ""},
    };
    for (const Case& c : cases) {
        const auto got = parseSince(QString::fromLatin1(c.text), now);
        EXPECT_EQ(got ? storedTime(*got) : QString(), QString::fromLatin1(c.since)) << c.text;
    }
}

TEST(ResultsListing, TableCsvAndJsonCarryTheRowsFaithfully)
{
    const ResultRow r = sample("SN, \"quoted\"", {{"value", 66}, {"note", QString(80, 'x')}});
    const QString table = QString::fromUtf8(resultsTable({r}));
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("TIME (UTC)"));
    EXPECT_TRUE(lines[1].startsWith("2026-12-09 14:05:06  bench-7"));
    EXPECT_TRUE(lines[1].endsWith("...")) << "long figures are cut in the table";
    EXPECT_EQ(lines[0].indexOf("SERIAL"), lines[1].indexOf("SN,")) << "aligned columns";

    EXPECT_EQ(QString::fromUtf8(resultsCsv({r})),
              "time_utc,station,serial,command,verdict,figures,config,version,uid\r\n"
              "2026-12-09T14:05:06.007Z,bench-7,\"SN, \"\"quoted\"\"\",eeprom,fail,"
              "\"{\"\"note\"\":\"\"" + QString(80, 'x') + "\"\",\"\"value\"\":66}\",01ab,2.3,u-1\r\n");

    const QJsonArray json = QJsonDocument::fromJson(resultsJson({r})).array();
    ASSERT_EQ(json.size(), 1);
    EXPECT_EQ(json[0]["figures"].toObject(), r.figures);
    EXPECT_EQ(json[0]["config"], "01ab");
    EXPECT_EQ(json[0]["time"], "2026-12-09T14:05:06.007Z");
    EXPECT_EQ(resultsJson({}), "[]\n");
}

TEST_F(ResultsCommand, BoxCommandsKeepTheirResultsAndResultsListsThemFiltered)
{
    EXPECT_EQ(list({}), QJsonArray()) << "nothing kept yet";
    ASSERT_EQ(tool({"--simulate", "configure", "--serial", "SN-1"}).status, 0);
    ASSERT_EQ(tool({"--simulate=silent", "configure", "--serial", "SN-2"}).status, 1);
    ASSERT_EQ(tool({"--simulate", "eeprom", "--value", "77", "--serial", "SN-1"}).status, 0);

    const QJsonArray all = list({});
    EXPECT_EQ(serials(all), (QStringList{"SN-1:configure:pass", "SN-2:configure:fail", "SN-1:configure:pass",
                                         "SN-1:eeprom:pass"}));
    EXPECT_EQ(all[3]["figures"]["value"], 77);
    EXPECT_EQ(all[3]["figures"]["simulated"], true) << "never taken for an encoder's result";
    EXPECT_EQ(all[0]["station"], QSysInfo::machineHostName());
    EXPECT_EQ(all[0]["config"].toString().size(), 1024) << "the 512-byte record, in hex";

    EXPECT_EQ(serials(list({"--verdict", "fail"})), QStringList{"SN-2:configure:fail"});
    EXPECT_EQ(list({"--serial", "SN-1"}).size(), 3);
    EXPECT_EQ(list({"--station", "no-such-bench"}).size(), 0);
    EXPECT_EQ(list({"--since", "1h"}).size(), 4);
    EXPECT_EQ(list({"--since", "2999-01-01"}).size(), 0);

    const ToolRun csv = tool({"results", "--csv", "--serial", "SN-2"});
    EXPECT_EQ(csv.out.count("\r\n"), 2) << "header and one row";
    const ToolRun table = tool({"results", "--verdict", "pass"});
    EXPECT_EQ(table.out.count('\n'), 4);
    for (const QStringList& bad : {QStringList{"results", "--since", "soon"}, QStringList{"results", "--verdict", "ok"},
                                   QStringList{"results", "--csv", "--json"}, QStringList{"results", "--bogus"}}) {
        const ToolRun r = tool(bad);
        EXPECT_EQ(r.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("quillmark-tool: ")) << r.err.constData();
    }
}

// The line's server is away when a test ends: the test is not held up, the
// result waits on the bench, and the next run hands it over, once.
TEST_F(ResultsCommand, AServerThatIsAwayHoldsNothingUpAndGetsTheResultLater)
{
    TestDatabases dbs;
    const std::optional<TestDatabase> db = dbs.make(ResultsLocation::Kind::Postgres);
    if (!db)
        GTEST_SKIP() << "no PostgreSQL server for the tests (QUILLMARK_TEST_PG_URL)";
    server = "postgresql://postgres@127.0.0.1:1/nowhere";
    const ToolRun away = tool({"--simulate", "configure", "--serial", "SN-Q"});
    EXPECT_EQ(away.status, 0) << away.err.constData();
    EXPECT_EQ(away.err.count("cannot be reached"), 1) << away.err.constData();
    EXPECT_LT(away.ms, 20000);

    server = db->url;
    EXPECT_EQ(serials(list({})), (QStringList{"SN-Q:configure:pass"})) << "handed over by the next run";
    EXPECT_EQ(list({}).size(), 1) << "and only once";
    ASSERT_EQ(tool({"--simulate", "configure", "--serial", "SN-Q"}).status, 0);
    const QJsonArray rows = list({"--serial", "SN-Q"});
    ASSERT_EQ(rows.size(), 2);
    EXPECT_NE(rows[0]["uid"], rows[1]["uid"]);
}
