// quillmark-tool: offline work on files the workbench produces.
//   report  turns a raw capture file into the decimal text report
//   fit     fits the sin/cos ellipse to samples in a CSV file
// Runs without a display: no event loop, Qt Core only.
#include "measure/config_record.h"
#include "measure/decimal_report.h"
#include "sincos/sincos_ellipse_fit.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // unreadable input, bad data, write failure
constexpr int kUsage = 2;   // bad command line

const char* const kMainHelp =
    "Usage: quillmark-tool COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  report CAPTURE OUTPUT   convert a raw capture file into a decimal report\n"
    "  fit SAMPLES.csv         fit the sin/cos ellipse to cos,sin samples\n"
    "\n"
    "Run 'quillmark-tool COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 failure (file or data), 2 bad command line.\n";

const char* const kReportHelp =
    "Usage: quillmark-tool report CAPTURE OUTPUT (--protocol NAME [--widths W1,W2,...]\n"
    "                             [--labels L1,L2,...] | --config FILE.cfg)\n"
    "\n"
    "Converts the box records of CAPTURE into the decimal text report OUTPUT\n"
    "(CR LF line ends). OUTPUT is written beside its final name and renamed\n"
    "into place only when complete.\n"
    "\n"
    "  --protocol NAME   BISS, SSI, RS485, TTL, RS485+AB, SPI, SPI_CRC, sin_cosine,\n"
    "                    rx_485_only, HTL, ADC_121, Corvane_485, Tarsk_RS485_422,\n"
    "                    ADC_7946 (the last four and rx_485_only give an empty report)\n"
    "  --widths LIST     field widths in bits, 0..64, at most ten; the field count\n"
    "                    is the number of widths (default 15,17,2)\n"
    "  --labels LIST     column labels, at most ten (default St,Error,Warning)\n"
    "  --config FILE     take protocol, widths and labels from a .cfg file instead\n";

const char* const kFitHelp =
    "Usage: quillmark-tool fit SAMPLES.csv\n"
    "\n"
    "Fits an ellipse to the first 1600 (cos, sin) pairs of SAMPLES.csv, one pair\n"
    "per line in volts, separated by a comma (a header line is skipped), and\n"
    "prints the centres, the axis lengths and the phase difference with three\n"
    "decimals. Fails when fewer than 1600 pairs are present or the tracks give\n"
    "no ellipse (for example tracks in phase).\n";

void fail(const QString& message)
{
    std::fprintf(stderr, "quillmark-tool: %s\n", message.toLocal8Bit().constData());
}

bool isHelp(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

struct ProtocolEntry {
    const char* name;
    int code;
};

// The protocol list in the order of the main window's "Protocols:" list.
constexpr ProtocolEntry kProtocols[] = {
    {"BISS", 0},       {"SSI", 1},         {"RS485", 2},   {"TTL", 3},         {"RS485+AB", 4},
    {"SPI", 5},        {"SPI_CRC", 5},     {"sin_cosine", 6}, {"rx_485_only", 7}, {"HTL", 8},
    {"ADC_121", 9},    {"Corvane_485", 10}, {"Tarsk_RS485_422", 11}, {"ADC_7946", 12},
};

ModeFlags modesForProtocol(const QString& name)
{
    ModeFlags m;
    m.syncSerialMode = name == "BISS" || name == "SSI";
    m.rs485Mode = name == "RS485" || name == "Corvane_485";
    m.rs485AbMode = name == "RS485+AB";
    m.spiMode = name == "SPI" || name == "SPI_CRC";
    m.spiCrcMode = name == "SPI_CRC";
    m.incrementalMode = name == "TTL" || name == "HTL";
    m.sinCosMode = name == "sin_cosine";
    m.rxOnlyMode = name == "rx_485_only" || name == "Tarsk_RS485_422";
    m.adcMode = name == "ADC_121" || name == "ADC_7946";
    m.htlMode = name == "HTL";
    m.bissSelected = name == "BISS";
    m.ssiSelected = name == "SSI";
    return m;
}

bool knownProtocol(const QString& name)
{
    for (const ProtocolEntry& p : kProtocols)
        if (name == p.name)
            return true;
    return false;
}

// A configuration file names the protocol by code; SPI_CRC was saved as SPI.
std::optional<QString> protocolForCode(int code)
{
    for (const ProtocolEntry& p : kProtocols)
        if (p.code == code)
            return QString::fromLatin1(p.name);
    return std::nullopt;
}

std::optional<QByteArray> readWhole(const QString& path, const char* what)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1 '%2': %3").arg(what, path, f.errorString()));
        return std::nullopt;
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        fail(QStringLiteral("cannot read %1 '%2': %3").arg(what, path, f.errorString()));
        return std::nullopt;
    }
    return data;
}

bool parseWidths(const QString& text, DecimalReportSettings& s)
{
    const QStringList parts = text.split(',');
    if (text.trimmed().isEmpty() || parts.size() > 10) {
        fail(QStringLiteral("bad widths '%1': give one to ten widths separated by commas").arg(text));
        return false;
    }
    s.fieldWidth.fill(0);
    for (int k = 0; k < parts.size(); ++k) {
        bool ok = false;
        const int w = parts[k].trimmed().toInt(&ok);
        if (!ok || w < 0 || w > 64) {
            fail(QStringLiteral("bad widths '%1': '%2' is not a width of 0 to 64 bits").arg(text, parts[k]));
            return false;
        }
        s.fieldWidth[k] = w;
    }
    s.fieldCount = static_cast<unsigned>(parts.size());
    return true;
}

bool parseLabels(const QString& text, DecimalReportSettings& s)
{
    const QStringList parts = text.split(',');
    if (parts.size() > 10) {
        fail(QStringLiteral("bad labels '%1': at most ten labels").arg(text));
        return false;
    }
    for (auto& label : s.fieldLabel)
        label.clear();
    for (int k = 0; k < parts.size(); ++k)
        s.fieldLabel[k] = parts[k].toStdString();
    return true;
}

int runReport(int argc, char** argv)
{
    QStringList positional;
    std::optional<QString> protocol, widths, labels, config;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (isHelp(argv[i])) {
            std::fputs(kReportHelp, stdout);
            return kOk;
        }
        auto value = [&](std::optional<QString>& slot) {
            if (i + 1 >= argc) {
                fail(QStringLiteral("%1 needs a value").arg(arg));
                return false;
            }
            slot = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        if (arg == "--protocol") {
            if (!value(protocol))
                return kUsage;
        } else if (arg == "--widths") {
            if (!value(widths))
                return kUsage;
        } else if (arg == "--labels") {
            if (!value(labels))
                return kUsage;
        } else if (arg == "--config") {
            if (!value(config))
                return kUsage;
        } else if (arg.startsWith("--")) {
            fail(QStringLiteral("unknown option '%1' (see 'quillmark-tool report --help')").arg(arg));
            return kUsage;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 2) {
        fail(QStringLiteral("report needs CAPTURE and OUTPUT (see 'quillmark-tool report --help')"));
        return kUsage;
    }
    if (protocol.has_value() == config.has_value()) {
        fail(QStringLiteral("report needs either --protocol or --config"));
        return kUsage;
    }
    if (config && (widths || labels)) {
        fail(QStringLiteral("--widths and --labels come from the configuration file with --config"));
        return kUsage;
    }

    DecimalReportSettings s;
    s.fieldLabel[0] = "St";
    s.fieldLabel[1] = "Error";
    s.fieldLabel[2] = "Warning";
    if (protocol) {
        if (!knownProtocol(*protocol)) {
            fail(QStringLiteral("unknown protocol '%1' (see 'quillmark-tool report --help')").arg(*protocol));
            return kUsage;
        }
        s.modes = modesForProtocol(*protocol);
        if (widths && !parseWidths(*widths, s))
            return kUsage;
        if (labels && !parseLabels(*labels, s))
            return kUsage;
    } else {
        const std::optional<QByteArray> bytes = readWhole(*config, "configuration file");
        if (!bytes)
            return kFailed;
        const std::optional<ConfigRecordValues> record = decodeConfigRecord(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes->constData()), static_cast<std::size_t>(bytes->size())));
        if (!record) {
            fail(QStringLiteral("'%1' is not a configuration file (512-byte record expected)").arg(*config));
            return kFailed;
        }
        const std::optional<QString> name = protocolForCode(record->protocolCode);
        if (!name) {
            fail(QStringLiteral("'%1' names no known protocol (code %2)").arg(*config).arg(record->protocolCode));
            return kFailed;
        }
        s.modes = modesForProtocol(*name);
        s.fieldCount = static_cast<unsigned>(record->fieldCount);
        s.fieldWidth = record->fieldWidth;
        for (int k = 0; k < 10; ++k)
            s.fieldLabel[k] = record->fieldLabel[k].toStdString();
    }
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);

    const std::optional<QByteArray> capture = readWhole(positional[0], "capture file");
    if (!capture)
        return kFailed;

    // Written beside the final name and renamed on commit: a failed run never
    // leaves a half-written report.
    QSaveFile out(positional[1]);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("cannot write '%1': %2").arg(positional[1], out.errorString()));
        return kFailed;
    }
    bool writeOk = true;
    writeDecimalReport(
        std::span(reinterpret_cast<const std::uint8_t*>(capture->constData()), static_cast<std::size_t>(capture->size())),
        s, [&](const char* data, std::size_t size) {
            if (writeOk && out.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size))
                writeOk = false;
        });
    if (!writeOk || !out.commit()) {
        fail(QStringLiteral("cannot write '%1': %2").arg(positional[1], out.errorString()));
        out.cancelWriting();
        return kFailed;
    }
    return kOk;
}

int runFit(int argc, char** argv)
{
    QStringList positional;
    for (int i = 0; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(kFitHelp, stdout);
            return kOk;
        }
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith("--")) {
            fail(QStringLiteral("unknown option '%1' (see 'quillmark-tool fit --help')").arg(arg));
            return kUsage;
        }
        positional << arg;
    }
    if (positional.size() != 1) {
        fail(QStringLiteral("fit needs one SAMPLES.csv (see 'quillmark-tool fit --help')"));
        return kUsage;
    }
    const std::optional<QByteArray> bytes = readWhole(positional[0], "samples file");
    if (!bytes)
        return kFailed;

    std::vector<double> c, s;
    const QList<QByteArray> rows = bytes->split('\n');
    int lineNo = 0;
    for (const QByteArray& raw : rows) {
        ++lineNo;
        const QByteArray row = raw.trimmed();
        if (row.isEmpty())
            continue;
        const QList<QByteArray> cols = row.split(',');
        bool okC = false, okS = false;
        const double cv = cols.size() >= 2 ? cols[0].trimmed().toDouble(&okC) : 0.0;
        const double sv = cols.size() >= 2 ? cols[1].trimmed().toDouble(&okS) : 0.0;
        if (!okC || !okS) {
            if (c.empty() && lineNo == 1)
                continue;  // header
            fail(QStringLiteral("%1:%2: expected two numbers 'cos,sin'").arg(positional[0]).arg(lineNo));
            return kFailed;
        }
        c.push_back(cv);
        s.push_back(sv);
    }
    if (c.size() < static_cast<std::size_t>(SinCosEllipseFit::kSampleCount)) {
        fail(QStringLiteral("%1: the fit needs %2 sample pairs, found %3")
                 .arg(positional[0])
                 .arg(SinCosEllipseFit::kSampleCount)
                 .arg(c.size()));
        return kFailed;
    }
    const EllipseFitResult r = SinCosEllipseFit::fit(c, s);
    std::printf("cosCentre    %.3f\n", r.cosCentre);
    std::printf("sinCentre    %.3f\n", r.sinCentre);
    std::printf("majorAxis    %.3f\n", r.majorAxis);
    std::printf("minorAxis    %.3f\n", r.minorAxis);
    std::printf("phaseDegrees %.3f\n", r.phaseDegrees);
    if (!r.solved || !r.allFinite()) {
        fail(QStringLiteral("the samples give no ellipse (singular fit, for example tracks in phase)"));
        return kFailed;
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kMainHelp, stderr);
        return kUsage;
    }
    if (isHelp(argv[1])) {
        std::fputs(kMainHelp, stdout);
        return kOk;
    }
    if (std::strcmp(argv[1], "report") == 0)
        return runReport(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "fit") == 0)
        return runFit(argc - 2, argv + 2);
    fail(QStringLiteral("unknown command '%1' (see 'quillmark-tool --help')").arg(QString::fromLocal8Bit(argv[1])));
    return kUsage;
}
