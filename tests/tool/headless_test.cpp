// The box commands of quillmark-tool, end to end through its process on the
// simulated box: exit status and JSON.
#include "measure/config_record.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct BoxRun {
    int status = -1;
    QJsonObject json;  // the last line of stdout: the command's result
    QByteArray err;
    QList<QByteArray> lines;  // every line of stdout
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
        const QByteArray out = p.readAllStandardOutput().trimmed();
        r.lines = out.split('\n');
        QJsonParseError e{};
        const QJsonDocument doc = QJsonDocument::fromJson(r.lines.last(), &e);
        if (out.startsWith('{')) {
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
        {{"--simulate", "configure", "--protocol", "RS485+AB", "--crc", "inverted"}, 2, "no CRC choice"},
        {{"--simulate", "configure", "--frequency", "3MHz"}, 2, "--frequency"},
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

TEST_F(HeadlessTest, EepromVerdictFollowsWhatTheEncoderStores)
{
    struct Case {
        const char* behaviour;
        int status;
        const char* verdict;
    };
    for (const Case& c : {Case{"store", 0, "pass"}, Case{"ignore", 1, "fail"}, Case{"short", 1, "fail"}}) {
        const BoxRun r = run({QStringLiteral("--simulate=eeprom=%1").arg(c.behaviour), "--json", "eeprom",
                              "--value", "201"});
        EXPECT_EQ(r.status, c.status) << c.behaviour << ": " << r.err.constData();
        EXPECT_EQ(r.json["verdict"].toString(), c.verdict) << c.behaviour;
        EXPECT_EQ(r.json["value"].toInt(), 201);
    }
    // The bench's own check of the value is a command-line error here.
    EXPECT_EQ(run({"--simulate", "eeprom", "--value", "256"}).status, 2);
}

TEST_F(HeadlessTest, ResolutionGivesTheBenchsValueOrItsRefusal)
{
    const BoxRun r = run({"--simulate=rpm=30", "--json", "resolution", "--cycles", "20000", "--protocol",
                          "BISS", "--widths", "15,17,2"});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    EXPECT_GT(r.json["value"].toInteger(), 0);

    // Below 10000 cycles the bench refuses with its message: a failed test.
    const BoxRun few = run({"--simulate", "--json", "resolution", "--cycles", "200"});
    EXPECT_EQ(few.status, 1);
    EXPECT_TRUE(few.json["value"].isNull());
    EXPECT_TRUE(few.err.contains("Please set the cycle count to 10000 or more")) << few.err.constData();
}

TEST_F(HeadlessTest, AbsTestFindsTheJumpOfTheShaft)
{
    // A step of 30 degrees the first time the shaft passes 180 degrees.
    const BoxRun r = run({"--simulate=rpm=0.9,jump=180:30", "--json", "abs-test", "--protocol", "BISS",
                          "--widths", "15,17,2", "--gauge-field", "2"},
                         110000);
    ASSERT_EQ(r.status, 1) << r.err.constData();
    EXPECT_EQ(r.json["verdict"].toString(), "errors");
    EXPECT_GT(r.json["travel"].toDouble(), 360.0);
    bool atJump = false;
    for (const QJsonValue& e : r.json["errors"].toArray())
        atJump = atJump || std::abs(e.toDouble() - 180.0) < 6.0;
    EXPECT_TRUE(atJump) << QJsonDocument(r.json).toJson().constData();
}

TEST_F(HeadlessTest, CaptureWritesTheFileOrSaysTheStreamBroke)
{
    QTemporaryDir out;
    const QString raw = out.filePath("cap.bin");
    const BoxRun ok = run({"--simulate", "--json", "capture", "--seconds", "1", "--out", raw});
    ASSERT_EQ(ok.status, 0) << ok.err.constData();
    EXPECT_EQ(ok.json["status"].toString(), "ok");
    EXPECT_EQ(ok.json["file"].toString(), raw);
    EXPECT_GT(ok.json["bytes"].toInteger(), 0);
    EXPECT_EQ(ok.json["bytes"].toInteger(), QFileInfo(raw).size());

    const QString report = out.filePath("cap.txt");
    const BoxRun dec = run({"--simulate", "--json", "capture", "--seconds", "1", "--out", report, "--decimal"});
    ASSERT_EQ(dec.status, 0) << dec.err.constData();
    QFile f(report);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readLine().startsWith("Times/0.125ms"));

    // No acknowledgement: the data up to the stop are kept, and it is no pass.
    const QString unacked = out.filePath("unacked.bin");
    const BoxRun noAck = run({"--simulate=no-ack", "--json", "capture", "--seconds", "1", "--out", unacked});
    EXPECT_EQ(noAck.status, 1);
    EXPECT_EQ(noAck.json["status"].toString(), "unacknowledged");
    EXPECT_GT(noAck.json["bytes"].toInteger(), 0);
    EXPECT_EQ(noAck.json["bytes"].toInteger(), QFileInfo(unacked).size());
    EXPECT_TRUE(noAck.err.contains("did not acknowledge")) << noAck.err.constData();

    const QString lost = out.filePath("lost.bin");
    const BoxRun broken = run({"--simulate=ack-status=1", "--json", "capture", "--seconds", "1", "--out", lost});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.json["status"].toString(), "transmission-error");
    EXPECT_FALSE(QFileInfo::exists(lost));
}

TEST_F(HeadlessTest, InterruptOrUnplugMidCaptureLeavesNoHalfFile)
{
    QTemporaryDir out;
    const QString target = out.filePath("cap.bin");
    QProcess p;
    p.setProcessEnvironment(environment());
    // In real time, so that the interrupt comes in the middle of the capture.
    p.start(QStringLiteral(QUILLMARK_TOOL_PATH),
            {"--simulate=speed=1", "--json", "capture", "--seconds", "60", "--out", target});
    ASSERT_TRUE(p.waitForStarted());
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 1) << p.readAllStandardError().constData();
    EXPECT_FALSE(QFileInfo::exists(target));
    const QJsonObject json = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    EXPECT_EQ(json["bytes"].toInteger(), 0);

    // Pulled off the bus: what the box sent before is kept and said so.
    const BoxRun unplugged = run({"--simulate=unplug-after=3", "--json", "capture", "--seconds", "20", "--out",
                                  out.filePath("u.bin")});
    EXPECT_EQ(unplugged.status, 1) << unplugged.err.constData();
    EXPECT_EQ(unplugged.json["status"].toString(), "unplugged");
    EXPECT_GT(unplugged.json["bytes"].toInteger(), 0);
    EXPECT_EQ(unplugged.json["bytes"].toInteger(), QFileInfo(out.filePath("u.bin")).size());
    EXPECT_TRUE(unplugged.err.contains("the data up to then are kept")) << unplugged.err.constData();
}

TEST_F(HeadlessTest, SincosReportsEachTracksFitInVoltsAndDegrees)
{
    struct Case {
        const char* shape;  // CO:SO:CA:SA:PH
        double cosOffset, sinOffset, cosPp, sinPp, phase;
    };
    const Case cases[] = {
        {"2.5:2.5:1.0:1.0:90", 2.5, 2.5, 2.0, 2.0, 90.0},
        // Unequal swings: the ellipse's phase is 2 atan(0.6).
        {"2.3:2.7:1.0:0.6:90", 2.3, 2.7, 2.0, 1.2, 2.0 * std::atan(0.6) * 180.0 / 3.14159265358979},
    };
    for (const Case& c : cases) {
        const BoxRun r = run({QStringLiteral("--simulate=sincos=%1").arg(c.shape), "--json", "sincos"});
        ASSERT_EQ(r.status, 0) << c.shape << ": " << r.err.constData();
        for (const char* side : {"plus", "minus"}) {
            const QJsonObject o = r.json[side].toObject();
            SCOPED_TRACE(std::string(c.shape) + " " + side);
            EXPECT_NEAR(o["cos_offset"].toDouble(), c.cosOffset, 0.03);
            EXPECT_NEAR(o["sin_offset"].toDouble(), c.sinOffset, 0.03);
            EXPECT_NEAR(o["cos_pp"].toDouble(), c.cosPp, 0.03);
            EXPECT_NEAR(o["sin_pp"].toDouble(), c.sinPp, 0.03);
            EXPECT_NEAR(o["phase"].toDouble(), c.phase, 0.5);
        }
    }
}

TEST_F(HeadlessTest, StreamingCommandsCountTheBoxsPacketsAndSincosItsCycles)
{
    QTemporaryDir out;
    // In virtual time the bench always has a transfer pending while these
    // streams run: nothing may be lost to the box's full FIFO.
    const QStringList keeping[] = {
        {"--simulate", "--json", "capture", "--seconds", "2", "--out", out.filePath("c.bin")},
        {"--simulate", "--json", "resolution", "--cycles", "100000"},
    };
    for (const QStringList& args : keeping) {
        const BoxRun r = run(args);
        SCOPED_TRACE(args.join(' ').toStdString());
        ASSERT_EQ(r.status, 0) << r.err.constData();
        const QJsonObject box = r.json["box"].toObject();
        EXPECT_GT(box["sent"].toInteger(), 0);
        EXPECT_EQ(box["dropped"].toInteger(), 0);
    }

    // Between two cycles' transfers the sample stream has nowhere to go, so
    // only what was sent is checked: a whole 20480-byte transfer per cycle
    // that stored one.
    const BoxRun s = run({"--simulate", "--json", "sincos", "--seconds", "3"});
    ASSERT_EQ(s.status, 0) << s.err.constData();
    const qint64 cycles = s.json["cycles"]["run"].toInteger();
    const qint64 withSamples = s.json["cycles"]["with_samples"].toInteger();
    EXPECT_GE(cycles, 8) << "one cycle per 350 ms for 3 s, not one fit and out";
    EXPECT_LE(cycles, 12) << "the analysis ends after --seconds";
    EXPECT_GE(withSamples, std::ceil(0.95 * static_cast<double>(cycles)));
    EXPECT_LE(withSamples, cycles);
    EXPECT_GE(s.json["box"]["sent"].toInteger(), withSamples * 20480 / 512);
    EXPECT_NEAR(s.json["plus"]["phase"].toDouble(), 90.0, 0.5) << "the last fit is reported";

    for (const char* bad : {"0", "x"}) {
        const BoxRun r = run({"--simulate", "--json", "sincos", "--seconds", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_TRUE(r.err.contains("--seconds needs a whole number")) << r.err.constData();
        EXPECT_TRUE(r.json.isEmpty());
    }
}

TEST_F(HeadlessTest, ConfigFileSetsTheInterfaceAsLoadingItInTheWindowDoes)
{
    ConfigRecordValues v;
    v.protocolCode = 0;  // BISS
    v.fieldCount = 2;
    v.fieldWidth = {15, 19, 0, 0, 0, 0, 0, 0, 0, 0};
    ConfigRecordBytes rec{};
    ASSERT_FALSE(encodeConfigRecord(v, rec).has_value());
    QTemporaryDir dir;
    QFile f(dir.filePath("two.cfg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(rec.data()), static_cast<qint64>(rec.size()));
    f.close();

    const BoxRun r = run({"--simulate=rpm=30", "--json", "read", "--count", "2", "--config", f.fileName()});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    for (const QJsonValue& value : r.json["values"].toArray()) {
        const QJsonArray fields = value.toObject()["fields"].toArray();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[1].toInteger(), value.toObject()["raw"].toInteger() & 0x7FFFF);
    }

    const BoxRun missing = run({"--simulate", "--json", "configure", "--config", dir.filePath("none.cfg")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(missing.err.isEmpty());
}

// The window takes the same --simulate keys; a bad one is refused before any
// window opens, naming the key.
TEST(WindowSimulateOption, BadKeysAreACommandLineError)
{
    for (const char* option : {"--simulate=nokey=1", "--simulate=rpm=x", "--simulate=eeprom=maybe"}) {
        SCOPED_TRACE(option);
        QProcess p;
        p.start(QStringLiteral(QUILLMARK_PATH), {QString::fromLatin1(option)});
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 2);
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains("--simulate")) << err.constData();
    }
}

TEST_F(HeadlessTest, ForceGivesEachValueAsItComesThenThePeak)
{
    const BoxRun r = run({"--simulate=rpm=2", "--json", "force", "--seconds", "2", "--name", "Ana"});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    // One value per 100 ms live tick, then the result.
    ASSERT_GE(r.lines.size(), 20);
    double highest = 0;
    double lastT = -1;
    for (qsizetype i = 0; i + 1 < r.lines.size(); ++i) {
        const QJsonObject v = QJsonDocument::fromJson(r.lines[i]).object();
        ASSERT_TRUE(v.contains("force") && v.contains("t_ms")) << r.lines[i].constData();
        EXPECT_GT(v["t_ms"].toDouble(), lastT);
        lastT = v["t_ms"].toDouble();
        highest = std::max(highest, v["force"].toDouble());
    }
    EXPECT_GE(r.json["peak"].toDouble(), highest);
    EXPECT_NEAR(r.json["result"].toDouble(), r.json["peak"].toDouble() - r.json["baseline"].toDouble(), 1e-9);
    EXPECT_EQ(r.json["name"].toString(), "Ana");
}

TEST_F(HeadlessTest, CalibrateRunsEachStepToItsIndicator)
{
    struct Case {
        QStringList args;
        int status;
        QStringList steps;  // "step:ok" of the JSON, in order
        const char* says;
    };
    const Case cases[] = {
        {{"--simulate", "--json", "calibrate", "--access-code", "482", "--steps", "start,coarse-eccentricity,zero-1,info-1"},
         0, {"start:1", "coarse-eccentricity:1", "zero-1:1", "info-1:1"}, ""},
        {{"--simulate=calibration=2", "--json", "calibrate", "--access-code", "482", "--steps", "wake,b1b2,info-2"},
         0, {"wake:1", "wake-2:1", "b1:1", "info-2:1"}, ""},
        // The waking steps on the coarse-and-fine encoder: no wake answer.
        {{"--simulate", "--json", "calibrate", "--access-code", "482", "--steps", "wake,air"}, 1, {"wake:0"}, ""},
        {{"--simulate", "--json", "calibrate", "--access-code", "481", "--steps", "start"}, 1, {}, "密码输入错误"},
        {{"--simulate", "calibrate", "--access-code", "482", "--steps", "start,fly"}, 2, {}, "unknown step 'fly'"},
        {{"--simulate", "calibrate", "--steps", "start"}, 2, {}, "--access-code"},
    };
    for (const Case& c : cases) {
        const BoxRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << ": " << r.err.constData();
        QStringList steps;
        for (const QJsonValue& v : r.json["steps"].toArray())
            steps << QStringLiteral("%1:%2").arg(v["step"].toString()).arg(v["ok"].toBool() ? 1 : 0);
        EXPECT_EQ(steps, c.steps) << c.args.join(' ').toStdString();
        EXPECT_TRUE(QString::fromUtf8(r.err).contains(QString::fromUtf8(c.says))) << r.err.constData();
    }
    const BoxRun help = run({"calibrate", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.lines.first().contains("calibrate [OPTIONS]")) << help.lines.first().constData();
}
