#include "report_options.h"

#include <algorithm>

#include "interface/field_width.h"

namespace cli {

namespace {

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
        if (name == QLatin1String(p.name))
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

Failure usage(const QString& message)
{
    return Failure{kUsage, message};
}

void defaultLabels(DecimalReportSettings& s)
{
    for (auto& label : s.fieldLabel)
        label.clear();
    s.fieldLabel[0] = "St";
    s.fieldLabel[1] = "Error";
    s.fieldLabel[2] = "Warning";
}

void computeMasks(DecimalReportSettings& s)
{
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);
}

}  // namespace

std::optional<Failure> parseReportArguments(const QStringList& args, ReportOptions& o)
{
    o = ReportOptions{};
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        o.help = true;
        return std::nullopt;
    }
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        std::optional<QString>* slot = nullptr;
        if (arg == QLatin1String("--protocol"))
            slot = &o.protocol;
        else if (arg == QLatin1String("--widths"))
            slot = &o.widths;
        else if (arg == QLatin1String("--labels"))
            slot = &o.labels;
        else if (arg == QLatin1String("--config"))
            slot = &o.config;
        if (slot) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("%1 needs a value").arg(arg));
            if (slot->has_value())
                return usage(QStringLiteral("%1 is given twice").arg(arg));
            *slot = args[++i];
        } else if (arg.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option '%1' (see 'quillmark-tool report --help')").arg(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 2)
        return usage(QStringLiteral("report needs CAPTURE and OUTPUT (see 'quillmark-tool report --help')"));
    o.capture = positional[0];
    o.output = positional[1];
    if (o.capture.isEmpty() || o.output.isEmpty())
        return usage(QStringLiteral("CAPTURE and OUTPUT must not be empty names"));
    if (o.protocol.has_value() == o.config.has_value())
        return usage(QStringLiteral("report needs either --protocol or --config"));
    if (o.config && (o.widths || o.labels))
        return usage(QStringLiteral("--widths and --labels come from the configuration file with --config"));
    return std::nullopt;
}

std::optional<Failure> settingsFromOptions(const ReportOptions& o, DecimalReportSettings& s)
{
    s = DecimalReportSettings{};
    defaultLabels(s);
    const QString protocol = o.protocol.value_or(QString());
    if (!knownProtocol(protocol))
        return usage(QStringLiteral("unknown protocol '%1' (see 'quillmark-tool report --help')").arg(protocol));
    s.modes = modesForProtocol(protocol);
    if (o.widths) {
        const QString& text = *o.widths;
        const QStringList parts = text.split(QLatin1Char(','));
        if (text.trimmed().isEmpty() || parts.size() > 10)
            return usage(QStringLiteral("bad widths '%1': give one to ten widths separated by commas").arg(text));
        s.fieldWidth.fill(0);
        for (qsizetype k = 0; k < parts.size(); ++k) {
            const std::optional<int> w = parseFieldWidth(parts[k]);
            if (!w)
                return usage(QStringLiteral("bad widths '%1': '%2' is not a width of %3 to %4 bits")
                                 .arg(text, parts[k])
                                 .arg(kMinFieldWidth)
                                 .arg(kMaxFieldWidth));
            s.fieldWidth[static_cast<std::size_t>(k)] = *w;
        }
        s.fieldCount = static_cast<unsigned>(parts.size());
    }
    if (o.labels) {
        const QStringList parts = o.labels->split(QLatin1Char(','));
        if (parts.size() > 10)
            return usage(QStringLiteral("bad labels '%1': at most ten labels").arg(*o.labels));
        for (auto& label : s.fieldLabel)
            label.clear();
        for (qsizetype k = 0; k < parts.size(); ++k)
            s.fieldLabel[static_cast<std::size_t>(k)] = parts[k].toStdString();
    }
    computeMasks(s);
    return std::nullopt;
}

std::optional<Failure> settingsFromConfig(const ConfigRecordValues& r, const QString& path, DecimalReportSettings& s)
{
    s = DecimalReportSettings{};
    const std::optional<QString> name = protocolForCode(r.protocolCode);
    if (!name)
        return Failure{kFailed, QStringLiteral("'%1' names no known protocol (code %2)").arg(path).arg(r.protocolCode)};
    const int used = std::min(r.fieldCount, 10);
    for (int k = 0; k < used; ++k) {
        const int w = r.fieldWidth[static_cast<std::size_t>(k)];
        if (w < kMinFieldWidth || w > kMaxFieldWidth)
            return Failure{kFailed, QStringLiteral("'%1' gives field %2 a width of %3 bits; a field takes %4 to %5")
                                        .arg(path)
                                        .arg(k + 1)
                                        .arg(w)
                                        .arg(kMinFieldWidth)
                                        .arg(kMaxFieldWidth)};
    }
    s.modes = modesForProtocol(*name);
    s.fieldCount = static_cast<unsigned>(r.fieldCount);
    s.fieldWidth = r.fieldWidth;
    for (int k = 0; k < 10; ++k)
        s.fieldLabel[static_cast<std::size_t>(k)] = r.fieldLabel[static_cast<std::size_t>(k)].toStdString();
    computeMasks(s);
    return std::nullopt;
}

}  // namespace cli
