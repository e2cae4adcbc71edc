#include "measure/config_record.h"
#include "measure/decimal_report.h"
#include "tool/samples_csv.h"
#include "tool/tool_run.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

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

// The capture is read in pieces of 1 MiB; records and the SPI CRC byte that
// straddle a piece boundary come out as in the whole conversion.
TEST_F(ToolTest, ReportOfACaptureLongerThanOnePiece)
{
    const QByteArray cap = capture(3 * 1024 * 1024 + 17);
    write("num.txt", cap);
    const ToolRun r = tool({"report", path("num.txt"), path("out.txt"), "--protocol", "SPI", "--widths", "12,14,6"});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    DecimalReportSettings s;
    s.modes.syncSerialMode = false;
    s.modes.spiMode = true;
    s.fieldCount = 3;
    s.fieldWidth = {12, 14, 6, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);
    s.fieldLabel[0] = "St";
    s.fieldLabel[1] = "Error";
    s.fieldLabel[2] = "Warning";
    const std::string expected =
        decimalReport(std::span(reinterpret_cast<const std::uint8_t*>(cap.constData()), cap.size()), s);
    EXPECT_TRUE(read("out.txt").toStdString() == expected);
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

// The output is never an input, and what is not a regular file is written in
// place or refused, never replaced.
TEST_F(ToolTest, ReportOutputsThatAreNotPlainNewFiles)
{
    write("num.txt", capture(600));
    ConfigRecordValues v;
    ConfigRecordBytes rec{};
    ASSERT_FALSE(encodeConfigRecord(v, rec).has_value());
    write("biss.cfg", QByteArray(reinterpret_cast<const char*>(rec.data()), rec.size()));
    const QByteArray cfgBytes = read("biss.cfg");
    ASSERT_TRUE(QFile::link(path("num.txt"), path("alias.txt")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);

    struct Case {
        QStringList args;
        const char* message;
    };
    const QString cap = path("num.txt");
    const Case cases[] = {
        {{"report", cap, cap, "--protocol", "SSI"}, "is the input file"},
        {{"report", cap, path("alias.txt"), "--protocol", "SSI"}, "is the input file"},
        {{"report", cap, path("biss.cfg"), "--config", path("biss.cfg")}, "is the configuration file"},
        {{"report", cap, path("fifo"), "--protocol", "SSI"}, "nobody reads"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool(c.args);
        EXPECT_EQ(r.status, 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.constData();
    }
    EXPECT_EQ(read("num.txt"), capture(600));
    EXPECT_EQ(read("biss.cfg"), cfgBytes);
    EXPECT_FALSE(QFileInfo(path("fifo")).isFile());

    // A device is written in place: /dev/null stays the device.
    const ToolRun r = tool({"report", cap, "/dev/null", "--protocol", "SSI"});
    EXPECT_EQ(r.status, 0) << r.err.constData();
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Inputs that are not regular files are refused at once with their cause,
// and no input is read beyond what the command needs.
TEST_F(ToolTest, InputsAreBoundedAndNeverBlock)
{
    write("num.txt", capture(600));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(path("gone"), path("dangling")));
    QDir(dir.path()).mkdir("folder");
    // A sparse 3 GiB "configuration": only its first 513 bytes are read.
    {
        QFile big(path("huge.cfg"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(3LL << 30));
    }
    // A 512-byte file whose text lengths run past the record.
    QByteArray overrun(512, 0);
    overrun[15] = char(250);
    overrun[266] = char(250);
    write("overrun.cfg", overrun);

    const QString cap = path("num.txt");
    const QString out = path("out.txt");
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"report", path("fifo"), out, "--protocol", "SSI"}, "capture file: '%1' is a FIFO"},
        {{"report", cap, out, "--config", path("fifo")}, "configuration file: '%1' is a FIFO"},
        {{"report", cap, out, "--config", "/dev/zero"}, "'/dev/zero' is a device"},
        {{"report", cap, out, "--config", path("huge.cfg")}, "longer than a configuration record"},
        {{"report", cap, out, "--config", path("overrun.cfg")}, "damaged configuration file: the text of label 2"},
        {{"report", path("dangling"), out, "--protocol", "SSI"}, "is a dangling link"},
        {{"report", path("folder"), out, "--protocol", "SSI"}, "is a directory"},
        {{"report", path("missing"), out, "--protocol", "SSI"}, "does not exist"},
        {{"fit", path("fifo")}, "is a FIFO"},
        {{"fit", "/dev/zero"}, "is a device"},
    };
    for (const Case& c : cases) {
        QElapsedTimer t;
        t.start();
        const ToolRun r = tool(c.args);
        EXPECT_EQ(r.status, 1) << c.args.join(' ').toStdString();
        const QString expected = QString::fromUtf8(c.message).contains("%1")
                                     ? QString::fromUtf8(c.message).arg(c.args.at(c.args[0] == "fit" ? 1 : (c.args[1] == cap ? 4 : 1)))
                                     : QString::fromUtf8(c.message);
        EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains(expected)) << r.err.constData();
        EXPECT_LT(t.elapsed(), 10000);
    }
    EXPECT_FALSE(QFile::exists(out));
}

// Widths are checked to what the box takes, from the command line and from a
// configuration file.
TEST_F(ToolTest, WidthsOutsideTheBoxRangeAreRefused)
{
    write("num.txt", capture(600));
    ConfigRecordValues v;
    v.fieldCount = 3;
    v.fieldWidth = {15, 200, 2, 0, 0, 0, 0, 0, 0, 0};
    ConfigRecordBytes rec{};
    ASSERT_FALSE(encodeConfigRecord(v, rec).has_value());
    write("wide.cfg", QByteArray(reinterpret_cast<const char*>(rec.data()), rec.size()));
    ToolRun r = tool({"report", path("num.txt"), path("out.txt"), "--config", path("wide.cfg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("gives field 2 a width of 200 bits")) << r.err.constData();
    r = tool({"report", path("num.txt"), path("out.txt"), "--protocol", "BISS", "--widths", "2147483647,2147483647"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("not a width of 0 to 64 bits")) << r.err.constData();
    // A field may take the whole 64-bit frame.
    EXPECT_EQ(tool({"report", path("num.txt"), path("out.txt"), "--protocol", "BISS", "--widths", "64"}).status, 0);
}

// The report the tool writes equals the window's decoder on the layouts where
// they used to differ.
TEST_F(ToolTest, ReportLinesEqualTheWindowsFields)
{
    struct Case {
        const char* protocol;
        const char* widths;
        std::uint64_t value;
        const char* fields;  // the first line's columns after the record number
    };
    const QByteArray col(28, ' ');
    const Case cases[] = {
        {"BISS", "8,64,64,64,64", 0xFF, "0,0,0,0,255"},
        {"SPI", "64,64,64,64,48", 7, "0,0,0,0,0,0"},  // CRC column first
        {"TTL", "16,31", 0x000500000123ull, "64256,291"},
    };
    for (const Case& c : cases) {
        QByteArray cap;
        for (int r = 0; r < 2; ++r) {
            if (QByteArray(c.protocol) == "SPI") {
                QByteArray rec(10, 0);
                for (int b = 0; b < 6; ++b)
                    rec[1 + b] = char(c.value >> (8 * (5 - b)));
                cap += rec;
            } else {
                const std::uint64_t v = c.value;
                const char be[6] = {char(v >> 40), char(v >> 32), char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
                const char rec[6] = {be[4], be[5], be[2], be[3], be[0], be[1]};
                cap += QByteArray(rec, 6);
            }
        }
        write("cap.bin", cap);
        const ToolRun r = tool({"report", path("cap.bin"), path("out.txt"), "--protocol", c.protocol, "--widths", c.widths});
        ASSERT_EQ(r.status, 0) << r.err.constData();
        QByteArray expected = "00001";
        for (const QByteArray& f : QByteArray(c.fields).split(','))
            expected += col + f;
        EXPECT_TRUE(read("out.txt").endsWith(expected + "\r\n")) << c.protocol << "\n" << read("out.txt").constData();
    }
}

// Sample rows are exactly two finite numbers; the error names the line.
TEST_F(ToolTest, FitRefusesRowsThatAreNotTwoFiniteNumbers)
{
    const QByteArray good = samples(1.0);
    struct Case {
        const char* name;
        QByteArray csv;
        const char* message;
    };
    const Case cases[] = {
        {"decimal comma", "2,50000,3,29\n" + good, ":1: expected two numbers 'cos,sin', found 4 fields (a decimal comma?"},
        {"extra column", "cos,sin\n1.0,2.0,3.0\n" + good, ":2: expected two numbers 'cos,sin', found 3 fields"},
        {"nan", good + "nan,1\n", ":1602: 'nan' is not a finite number"},
        {"inf", "cos,sin\n1,-inf\n", ":2: '-inf' is not a finite number"},
        {"overflow", "cos,sin\n1e999,1\n", ":2: '1e999' is not a finite number"},
        {"one column", "cos,sin\n1.5\n", ":2: expected two numbers"},
        {"text", "cos,sin\n1.5,abc\n", ":2: 'abc' is not a number"},
    };
    for (const Case& c : cases) {
        write("s.csv", c.csv);
        const ToolRun r = tool({"fit", path("s.csv")});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(r.err.contains(c.message)) << c.name << ": " << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty()) << c.name;
    }
    // CR LF line ends and a header are fine; nothing is printed for a fit
    // that gives no ellipse.
    QByteArray crlf = samples(3.141592653589793 / 2);
    crlf.replace("\n", "\r\n");
    write("crlf.csv", crlf);
    EXPECT_EQ(tool({"fit", path("crlf.csv")}).status, 0);
    write("inphase.csv", samples(0.0));
    const ToolRun r = tool({"fit", path("inphase.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
}

// The pure CSV parser keeps only the pairs the fit uses but checks every line.
TEST(SamplesCsv, KeepsTheFirstPairsAndChecksTheRest)
{
    cli::SampleTable t;
    cli::CsvError e;
    ASSERT_TRUE(cli::parseSamplesCsv("cos,sin\n1,2\n\n 3 , 4 \n5,6\n", 2, t, e));
    EXPECT_EQ(t.pairs, 3u);
    EXPECT_EQ(t.cos, (std::vector<double>{1, 3}));
    EXPECT_EQ(t.sin, (std::vector<double>{2, 4}));
    EXPECT_FALSE(cli::parseSamplesCsv("1,2\n3,4\n5,x\n", 1, t, e));
    EXPECT_EQ(e.line, 3);
}
