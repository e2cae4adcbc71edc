// The box commands of quillmark-tool, end to end through its process on the
// simulated box: exit status and JSON.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct BoxRun {
    int status = -1;
    QJsonObject json;
    QByteArray err;
};

class HeadlessTest : public ::testing::Test {
protected:
    QTemporaryDir dataRoot;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataRoot.path());
        return env;
    }

    BoxRun run(const QStringList& args, int timeoutMs = 60000)
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(QUILLMARK_TOOL_PATH), args);
        EXPECT_TRUE(p.waitForFinished(timeoutMs)) << args.join(' ').toStdString();
        BoxRun r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.err = p.readAllStandardError();
        const QByteArray out = p.readAllStandardOutput();
        QJsonParseError e{};
        const QJsonDocument doc = QJsonDocument::fromJson(out, &e);
        if (!out.isEmpty()) {
            EXPECT_EQ(e.error, QJsonParseError::NoError) << out.constData();
        }
        r.json = doc.object();
        return r;
    }
};

}  // namespace

TEST_F(HeadlessTest, ConfigureTakesOnTheSimulatedBoxAndNotOnASilentOne)
{
    const BoxRun ok = run({"--simulate", "--json", "configure", "--protocol", "BISS", "--widths", "15,17,2"});
    EXPECT_EQ(ok.status, 0) << ok.err.constData();
    EXPECT_EQ(ok.json["configured"], QJsonValue(true));

    const BoxRun silent = run({"--simulate=silent", "--json", "configure"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.json["configured"], QJsonValue(false));
    EXPECT_FALSE(silent.err.isEmpty());
}

TEST_F(HeadlessTest, ReadGivesTheNextNewValuesDecoded)
{
    const BoxRun r = run({"--simulate=rpm=30", "--json", "read", "--count", "4", "--protocol", "BISS", "--widths",
                          "15,17,2", "--gauge-field", "2"});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    const QJsonArray values = r.json["values"].toArray();
    ASSERT_EQ(values.size(), 4);
    qint64 previous = -1;
    for (const QJsonValue& v : values) {
        const QJsonObject o = v.toObject();
        const qint64 raw = o["raw"].toInteger();
        const QJsonArray f = o["fields"].toArray();
        ASSERT_EQ(f.size(), 3);
        // [turns 15][position 17][status 2]
        EXPECT_EQ(f[0].toInteger(), raw >> 19);
        EXPECT_EQ(f[1].toInteger(), (raw >> 2) & 0x1FFFF);
        EXPECT_EQ(f[2].toInteger(), raw & 3);
        // The gauge scales the field over its full count (2^17 - 1).
        EXPECT_NEAR(o["angle"].toDouble(), f[1].toInteger() * 360.0 / 131071.0, 1e-6);
        EXPECT_NE(raw, previous) << "each value is a new one";
        previous = raw;
    }
}

TEST_F(HeadlessTest, CommandLineErrorsAreStatusTwoAndNoBoxIsThree)
{
    struct Case {
        QStringList args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--simulate", "configure", "--protocol", "NOPE"}, 2, "unknown protocol 'NOPE'"},
        {{"--simulate", "configure", "--widths", "15,x,2"}, 2, "--widths"},
        {{"--simulate", "configure", "--widths", "15,65"}, 2, "--widths"},
        {{"--simulate=rpm=fast", "configure"}, 2, "rpm"},
        {{"--simulate", "read"}, 2, "--count"},
        {{"--simulate", "configure", "--turn", "double"}, 2, "--turn"},
        {{"--simulate", "configure", "--config", "x.cfg", "--protocol", "BISS"}, 2, "--config"},
        {{"--simulate", "launch"}, 2, "unknown command"},
        // No --simulate: the USB bus of the test machine has no box.
        {{"--json", "configure"}, 3, ""},
    };
    for (const Case& c : cases) {
        const BoxRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << ": " << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.constData();
    }
}
