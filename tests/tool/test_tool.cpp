#include "measure/config_record.h"
#include "measure/decimal_report.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun tool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(QUILLMARK_TOOL_PATH), args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return ToolRun{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
               p.readAllStandardError()};
}

class ToolTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString& name)
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray capture(int bytes)
    {
        QByteArray b(bytes, 0);
        for (int i = 0; i < bytes; ++i)
            b[i] = static_cast<char>(i * 31 + i / 5);
        return b;
    }
    QByteArray samples(double phaseShift, int count = 1600)
    {
        QByteArray csv = "cos,sin\n";
        for (int k = 0; k < count; ++k) {
            const double t = 6.283185307179586 * k / 400.0;
            csv += QByteArray::number(2.5 + std::cos(t), 'f', 9) + "," +
                   QByteArray::number(2.5 + std::cos(t - phaseShift), 'f', 9) + "\n";
        }
        return csv;
    }
};

}  // namespace

TEST_F(ToolTest, ReportWithProtocolOptionsMatchesTheLibrary)
{
    const QByteArray cap = capture(6 * 50);
    write("num.txt", cap);
    const ToolRun r = tool({"report", path("num.txt"), path("out.txt"), "--protocol", "BISS", "--widths", "13,2,7",
                        "--labels", "Pos,Err,Flags"});
    ASSERT_EQ(r.status, 0) << r.err.constData();

    DecimalReportSettings s;
    s.modes.bissSelected = true;
    s.fieldCount = 3;
    s.fieldWidth = {13, 2, 7, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);
    s.fieldLabel[0] = "Pos";
    s.fieldLabel[1] = "Err";
    s.fieldLabel[2] = "Flags";
    const std::string expected =
        decimalReport(std::span(reinterpret_cast<const std::uint8_t*>(cap.constData()), cap.size()), s);
    EXPECT_EQ(read("out.txt").toStdString(), expected);
    EXPECT_TRUE(read("out.txt").startsWith("Protocols:BISS\r\nTimes/0.125ms              Pos"));

    // Groups without a report section give an empty file.
    ASSERT_EQ(tool({"report", path("num.txt"), path("adc.txt"), "--protocol", "ADC_121"}).status, 0);
    EXPECT_TRUE(QFile::exists(path("adc.txt")));
    EXPECT_EQ(read("adc.txt").size(), 0);
}

TEST_F(ToolTest, ReportFromAConfigurationFile)
{
    ConfigRecordValues v;
    v.protocolCode = 5;  // SPI (or SPI_CRC)
    v.fieldCount = 2;
    v.fieldWidth = {12, 14, 0, 0, 0, 0, 0, 0, 0, 0};
    v.fieldLabel[0] = "Single";
    v.fieldLabel[1] = "Multi";
    ConfigRecordBytes rec{};
    ASSERT_FALSE(encodeConfigRecord(v, rec).has_value());
    write("spi.cfg", QByteArray(reinterpret_cast<const char*>(rec.data()), rec.size()));
    QByteArray cap(20, 0);
    cap[1] = char(0x12);
    cap[2] = char(0x34);
    cap[3] = char(0x56);
    cap[10] = char(0x42);
    write("num.txt", cap);
    const ToolRun r = tool({"report", path("num.txt"), path("out.txt"), "--config", path("spi.cfg")});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    const QByteArray col(28, ' ');
    const QByteArray out = read("out.txt");
    EXPECT_TRUE(out.startsWith("Protocols: SPI\r\nTimes/0.125ms             CRC              Single" + col + "Multi"));
    // 0x123456... : bits 47..36 = 0x123, bits 35..22 = 0x1158.
    EXPECT_TRUE(out.endsWith("00001" + col + "66" + col + "291" + col + "4440\r\n")) << out.constData();
}

TEST_F(ToolTest, FitPrintsFiveResultsWithThreeDecimals)
{
    write("circle.csv", samples(3.141592653589793 / 2, 1700));
    const ToolRun r = tool({"fit", path("circle.csv")});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    EXPECT_EQ(r.out, "cosCentre    2.500\nsinCentre    2.500\nmajorAxis    2.000\nminorAxis    2.000\n"
                     "phaseDegrees 90.000\n");
}

TEST_F(ToolTest, FitFailures)
{
    write("inphase.csv", samples(0.0));
    ToolRun r = tool({"fit", path("inphase.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("no ellipse"));

    write("short.csv", samples(1.0, 1599));
    r = tool({"fit", path("short.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("1600")) << r.err.constData();

    write("bad.csv", "cos,sin\n1.0,2.0\n1.0;2.0\n");
    r = tool({"fit", path("bad.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(":3:")) << r.err.constData();

    r = tool({"fit", path("missing.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("cannot read")) << r.err.constData();
    EXPECT_EQ(tool({"fit"}).status, 2);
}

TEST_F(ToolTest, ReportErrorsLeaveNoOutputBehind)
{
    write("num.txt", capture(600));
    write("keep.txt", "previous report");
    struct Case {
        QStringList args;
        int status;
        const char* message;
    };
    const QString cap = path("num.txt");
    const QString out = path("keep.txt");
    const Case cases[] = {
        {{"report", path("missing.bin"), out, "--protocol", "SSI"}, 1, "cannot read capture file"},
        {{"report", cap, out, "--protocol", "BiSS"}, 2, "unknown protocol 'BiSS'"},
        {{"report", cap, out, "--protocol", "BISS", "--widths", "15,-1"}, 2, "bad widths"},
        {{"report", cap, out, "--protocol", "BISS", "--widths", "15,65"}, 2, "bad widths"},
        {{"report", cap, out, "--protocol", "BISS", "--widths", "1,1,1,1,1,1,1,1,1,1,1"}, 2, "bad widths"},
        {{"report", cap, out, "--protocol", "BISS", "--widths", ""}, 2, "bad widths"},
        {{"report", cap, out}, 2, "--protocol or --config"},
        {{"report", cap, out, "--protocol", "SSI", "--config", "x.cfg"}, 2, "--protocol or --config"},
        {{"report", cap, out, "--config", path("none.cfg")}, 1, "cannot read configuration file"},
        {{"report", cap, out, "--config", cap}, 1, "not a configuration file"},
        {{"report", cap, "--protocol", "SSI"}, 2, "CAPTURE and OUTPUT"},
        {{"report", cap, out, "--protocol"}, 2, "needs a value"},
        {{"report", cap, out, "--protocol", "SSI", "--colour", "red"}, 2, "unknown option"},
        {{"analyse"}, 2, "unknown command"},
        {{}, 2, "Usage"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.constData();
        EXPECT_EQ(read("keep.txt"), "previous report");
    }
    // An unwritable place: nothing is created.
    const ToolRun r = tool({"report", cap, path("no/such/dir/out.txt"), "--protocol", "SSI"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("cannot write"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // num.txt, keep.txt
}

TEST_F(ToolTest, HelpForEveryCommand)
{
    for (const QStringList& args : {QStringList{"--help"}, QStringList{"report", "--help"}, QStringList{"fit", "--help"}}) {
        const ToolRun r = tool(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out.startsWith("Usage: quillmark-tool")) << r.out.constData();
    }
    EXPECT_TRUE(tool({"report", "--help"}).out.contains("Tarsk_RS485_422"));
}
