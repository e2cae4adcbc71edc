// A test plan given to the box commands and the report made from what they
// kept: the plan's verdict beside the test's own, and the report's text as a
// PDF reader sees it.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolOutput {
    int status = -1;
    QByteArray out, err;
};

class PlanAndReport : public ::testing::Test {
protected:
    QTemporaryDir root;

    ToolOutput tool(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", root.filePath("data"));
        env.insert("XDG_CONFIG_HOME", root.filePath("cfg"));
        env.remove("QUILLMARK_RESULTS");
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUILLMARK_TOOL_PATH), args);
        EXPECT_TRUE(p.waitForFinished(120000)) << args.join(' ').toStdString();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }
    QString plan(const QByteArray& text)
    {
        const QString path = root.filePath("line.plan.json");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    static QJsonObject json(const ToolOutput& r) { return QJsonDocument::fromJson(r.out).object(); }
};

const QStringList kBiss = {"--protocol", "BISS", "--widths", "15,17,2", "--gauge-field", "2", "--serial", "QM-1"};

}  // namespace

TEST_F(PlanAndReport, APlanTheTracksMissFailsThePlanAndLeavesTheTestsOwnVerdict)
{
    // The simulated tracks swing 2 V about 2.49 V: the window of 1.00 V misses.
    const QString p = plan(R"({"schema": 1,
        "sincos": {"cos_pp": {"nominal": 1.00, "tolerance": 0.10}, "phase": {"nominal": 90, "tolerance": 1}}})");
    const ToolOutput r = tool({"--simulate", "--json", "sincos", "--serial", "QM-1", "--plan", p});
    const ToolOutput own = tool({"--simulate", "--json", "sincos", "--serial", "QM-1"});
    ASSERT_EQ(r.status, 0) << r.err.constData() << "\nthe test itself passed";
    const QJsonObject o = json(r);
    EXPECT_EQ(o["plan"]["verdict"].toString(), "fail");
    EXPECT_TRUE(o["plan"]["failed"][0].toString().startsWith("cos_pp plus 2.001 outside 1 ± 0.1"))
        << o["plan"]["failed"][0].toString().toStdString();
    QJsonObject withoutPlan = o;
    withoutPlan.remove("plan");
    EXPECT_EQ(withoutPlan, json(own)) << "the figures are the test's own";

    const ToolOutput bad = tool({"--simulate", "sincos", "--plan", plan("{\n \"schema\": 1,\n \"sincos\": 3\n}")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.contains("line 3: sincos: needs an object")) << bad.err.constData();
}

TEST_F(PlanAndReport, TheReportHoldsEveryTestItsLimitsBothVerdictsAndThePlots)
{
    const QString p = plan(R"({"schema": 1, "abs-test": {"max_jumps": 0}, "eeprom": {"verified": true},
        "resolution": {"bits": 17}})");
    ASSERT_EQ(tool(QStringList{"--simulate=jump=120:30", "abs-test", "--plan", p} + kBiss).status, 1);
    ASSERT_EQ(tool(QStringList{"--simulate", "eeprom", "--value", "9", "--plan", p} + kBiss).status, 0);
    ASSERT_EQ(tool({"--simulate", "eeprom", "--value", "1", "--serial", "OTHER"}).status, 0);

    const QString html = root.filePath("r.html"), pdf = root.filePath("r.pdf");
    const ToolOutput r = tool({"test-report", "--serial", "QM-1", "--html", html, "--pdf", pdf});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    EXPECT_TRUE(r.out.startsWith("QM-1: 2 results, 1 against the plan failed (simulated)")) << r.out.constData();

    QFile h(html);
    ASSERT_TRUE(h.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(h.readAll());
    EXPECT_TRUE(page.contains("Encoder test report: QM-1"));
    EXPECT_TRUE(page.contains("Protocol: BISS"));
    EXPECT_TRUE(page.contains("Frame: 3 fields, 34 bits"));
    EXPECT_TRUE(page.contains("at most 0 jumps"));
    EXPECT_TRUE(page.contains("1 jump, at most 0 allowed"));
    EXPECT_EQ(page.count("<svg"), 2) << "the accuracy test's angle and jump map; the EEPROM has no plot";
    EXPECT_FALSE(page.contains("src=\"http")) << "nothing outside the file";
    EXPECT_FALSE(page.contains("OTHER"));

    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    QProcess t;
    t.start(pdftotext, {"-layout", pdf, "-"});
    ASSERT_TRUE(t.waitForFinished(60000));
    const QString text = QString::fromUtf8(t.readAllStandardOutput());
    for (const char* expected : {"Encoder test report: QM-1", "Absolute accuracy", "EEPROM write", "at most 0 jumps",
                                 "the value read back", "Plan verdict", "Angle over the test's steps",
                                 "Jumps on the turn"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    const QStringList pages = text.split('\f', Qt::SkipEmptyParts);
    ASSERT_FALSE(pages.isEmpty());
    for (const QString& page : pages)
        EXPECT_TRUE(page.trimmed().isEmpty() || page.contains("simulated")) << "every page says so";
}

TEST_F(PlanAndReport, AReportNeedsASerialAndAnOutput)
{
    EXPECT_EQ(tool({"test-report", "--html", root.filePath("x.html")}).status, 2);
    EXPECT_EQ(tool({"test-report", "--serial", "QM-1"}).status, 2);
    const ToolOutput none = tool({"test-report", "--serial", "NOBODY", "--html", root.filePath("n.html")});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(QFile::exists(root.filePath("n.html"))) << "the report says there is nothing";
}

TEST_F(PlanAndReport, ReadAsCsvGivesTimeRawFieldsAndAngle)
{
    const ToolOutput r = tool({"--simulate", "read", "--count", "5", "--csv", "--protocol", "BISS", "--widths", "15,17,2",
                               "--labels", "St,Pos,Err", "--gauge-field", "2"});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    const QStringList lines = QString::fromUtf8(r.out).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 6) << r.out.constData();
    EXPECT_EQ(lines[0], "ms,raw,St,Pos,Err,angle");
    double previous = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(',');
        ASSERT_EQ(cells.size(), 6) << lines[i].toStdString();
        const double ms = cells[0].toDouble();
        EXPECT_GT(ms, previous) << "time goes on";
        previous = ms;
        // The raw frame is the fields side by side: St (15) | Pos (17) | Err (2).
        const qint64 raw = cells[1].toLongLong();
        EXPECT_EQ(raw, (cells[2].toLongLong() << 19) | (cells[3].toLongLong() << 2) | cells[4].toLongLong());
        EXPECT_NEAR(cells[5].toDouble(), cells[3].toDouble() * 360.0 / 131072, 1e-3);
    }
}
