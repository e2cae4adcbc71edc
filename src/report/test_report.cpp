#include "report/test_report.h"

#include "interface/interface_settings.h"
#include "interface/protocol_table.h"
#include "measure/config_record.h"
#include "report/plots.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <algorithm>

namespace {

QString num(const QJsonValue& v, int decimals)
{
    return v.isDouble() ? QString::number(v.toDouble(), 'f', decimals) : QStringLiteral("–");
}

QString pairWords(const QJsonObject& p)
{
    return QStringLiteral("cos offset %1 V, sin offset %2 V, cos pp %3 V, sin pp %4 V, phase %5°")
        .arg(num(p["cos_offset"], 3), num(p["sin_offset"], 3), num(p["cos_pp"], 3), num(p["sin_pp"], 3),
             num(p["phase"], 2));
}

QString figuresInWords(const QString& command, const QJsonObject& f)
{
    if (command == QLatin1String("abs-test")) {
        const QJsonArray errors = f["errors"].toArray();
        QStringList at;
        for (qsizetype i = 0; i < std::min<qsizetype>(errors.size(), 8); ++i)
            at << QString::number(errors[i].toDouble(), 'f', 2) + QStringLiteral("°");
        if (errors.size() > 8)
            at << QStringLiteral("…");
        QString s = QStringLiteral("%1; travel %2°; %3 jump%4")
                        .arg(f["verdict"].toString(), num(f["travel"], 1))
                        .arg(errors.size())
                        .arg(errors.size() == 1 ? "" : "s");
        if (!at.isEmpty())
            s += QStringLiteral(" (from %1)").arg(at.join(QStringLiteral(", ")));
        return s;
    }
    if (command == QLatin1String("sincos")) {
        QString s = QStringLiteral("+: ") + pairWords(f["plus"].toObject());
        if (f["minus"].isObject())
            s += QStringLiteral("\n−: ") + pairWords(f["minus"].toObject());
        return s;
    }
    if (command == QLatin1String("resolution"))
        return QStringLiteral("%1 LSB from %2 records%3")
            .arg(f["value"].toInteger())
            .arg(f["records"].toInteger())
            .arg(f["complete"].toBool(true) ? QString() : QStringLiteral(", walk cut short"));
    if (command == QLatin1String("eeprom"))
        return QStringLiteral("value %1, %2").arg(f["value"].toInt()).arg(f["verified"].toBool() ? "read back" : "not read back");
    if (command == QLatin1String("capture"))
        return QStringLiteral("%1, %2 bytes").arg(f["status"].toString()).arg(f["bytes"].toInteger());
    if (command == QLatin1String("calibration"))
        return QStringLiteral("step %1").arg(f["step"].toString());
    if (command == QLatin1String("read"))
        return QStringLiteral("%1 values, last %2, ended %3")
            .arg(f["values"].toInteger())
            .arg(f["last"].toObject()["raw"].toInteger())
            .arg(f["end"].toString());
    if (command == QLatin1String("force"))
        return QStringLiteral("%1 N above %2 N").arg(num(f["result"], 2), num(f["baseline"], 2));
    QJsonObject rest = f;
    rest.remove(QStringLiteral("plan"));
    rest.remove(QStringLiteral("simulated"));
    QStringList parts;
    for (auto it = rest.begin(); it != rest.end(); ++it)
        parts << it.key() + '=' + it.value().toVariant().toString();
    return parts.join(QStringLiteral(", "));
}

QString windowWords(const QJsonObject& w)
{
    if (w.contains("nominal"))
        return QStringLiteral("%1 ± %2").arg(w["nominal"].toDouble()).arg(w["tolerance"].toDouble());
    return QStringLiteral("%1 .. %2").arg(w["min"].toDouble()).arg(w["max"].toDouble());
}

QString limitsInWords(const QJsonObject& l)
{
    QStringList parts;
    if (l.contains("max_jumps"))
        parts << QStringLiteral("at most %1 jump%2").arg(l["max_jumps"].toInt()).arg(l["max_jumps"].toInt() == 1 ? "" : "s");
    if (l.contains("max_jump_deg"))
        parts << QStringLiteral("each at most %1°").arg(l["max_jump_deg"].toDouble());
    if (l.contains("min"))
        if (!l["min"].isObject())
            parts << QStringLiteral("at least %1 LSB").arg(l["min"].toInteger());
    if (l.contains("bits"))
        parts << QStringLiteral("exactly 2^%1 − 1 = %2 LSB").arg(l["bits"].toInt()).arg((qint64(1) << l["bits"].toInt()) - 1);
    const std::pair<const char*, const char*> windows[] = {{"cos_offset", "cos offset %1 V"}, {"sin_offset", "sin offset %1 V"},
                                                          {"cos_pp", "cos pp %1 V"},         {"sin_pp", "sin pp %1 V"},
                                                          {"phase", "phase %1°"}};
    for (auto [key, words] : windows)
        if (l[QLatin1String(key)].isObject())
            parts << QString::fromUtf8(words).arg(windowWords(l[QLatin1String(key)].toObject()));
    if (l.contains("verified"))
        parts << QStringLiteral("the value read back");
    if (l.contains("nothing_dropped"))
        parts << QStringLiteral("nothing dropped");
    if (l.contains("every_step"))
        parts << QStringLiteral("every step succeeds");
    return parts.join(QStringLiteral("; "));
}

std::optional<PairFit> fitOf(const QJsonValue& v)
{
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject o = v.toObject();
    for (const char* k : {"cos_offset", "sin_offset", "cos_pp", "sin_pp", "phase"})
        if (!o[QLatin1String(k)].isDouble())
            return std::nullopt;
    return PairFit{o["cos_offset"].toDouble(), o["sin_offset"].toDouble(), o["cos_pp"].toDouble(),
                   o["sin_pp"].toDouble(), o["phase"].toDouble()};
}

}  // namespace

QString testTitle(const QString& command)
{
    static const QHash<QString, QString> titles = {
        {"abs-test", "Absolute accuracy"}, {"resolution", "Resolution"}, {"sincos", "Sin/cos analysis"},
        {"eeprom", "EEPROM write"},        {"capture", "Capture"},       {"calibration", "Calibration step"},
        {"read", "Reading"},               {"force", "Force"},           {"configure", "Configuration"}};
    return titles.value(command, command);
}

QStringList configurationInWords(const QByteArray& record)
{
    if (record.isEmpty())
        return {QStringLiteral("No configuration record was kept with the results.")};
    QString problem;
    const std::optional<ConfigRecordValues> v = decodeConfigRecord(
        std::span(reinterpret_cast<const std::uint8_t*>(record.constData()), static_cast<std::size_t>(record.size())),
        &problem);
    if (!v)
        return {QStringLiteral("The configuration record cannot be read: %1").arg(problem)};
    QStringList lines;
    const std::optional<Protocol> protocol = protocolForCode(v->protocolCode);
    QString name = protocol ? QString::fromUtf8(protocolInfo(*protocol).name.data(),
                                                static_cast<qsizetype>(protocolInfo(*protocol).name.size()))
                            : QStringLiteral("unknown");
    if (protocol == Protocol::SPI)
        name = QStringLiteral("SPI or SPI_CRC");
    lines << QStringLiteral("Protocol: %1 (code %2)").arg(name).arg(v->protocolCode);
    QStringList fields;
    int bits = 0;
    for (int i = 0; i < v->fieldCount && i < 10; ++i) {
        const QString label = v->fieldLabel[static_cast<std::size_t>(i)].trimmed();
        fields << QStringLiteral("%1 %2 bit%3")
                      .arg(label.isEmpty() ? QStringLiteral("field %1").arg(i + 1) : label)
                      .arg(v->fieldWidth[static_cast<std::size_t>(i)])
                      .arg(v->fieldWidth[static_cast<std::size_t>(i)] == 1 ? "" : "s");
        bits += v->fieldWidth[static_cast<std::size_t>(i)];
    }
    lines << QStringLiteral("Frame: %1 field%2, %3 bits: %4")
                 .arg(v->fieldCount)
                 .arg(v->fieldCount == 1 ? "" : "s")
                 .arg(bits)
                 .arg(fields.join(QStringLiteral(", ")));
    QString clock = QStringLiteral("code %1").arg(v->clockCode);
    for (const ClockItemInfo& c : kClockItems)
        if (c.code == v->clockCode)
            clock = QStringLiteral("%1 (code %2)").arg(QLatin1String(c.caption)).arg(c.code);
    lines << QStringLiteral("Clock: %1").arg(clock);
    lines << QStringLiteral("Code: %1").arg(v->codeMode == 128 ? "Gray" : "Binary");
    lines << QStringLiteral("Turn mode: %1").arg(v->turnMode ? "multiturn" : "single turn");
    lines << QStringLiteral("Angle from: %1")
                 .arg(v->gaugeField >= 1 ? QStringLiteral("field %1").arg(v->gaugeField) : QStringLiteral("no field"));
    lines << QStringLiteral("CRC: the box's CRC setting is not part of the configuration record");
    return lines;
}

TestReportData buildTestReport(const QString& serial, const QString& since, const std::vector<ResultRow>& rows,
                               const QDateTime& generated)
{
    TestReportData d;
    d.serial = serial;
    d.since = since;
    d.generated = generated;
    std::vector<const ResultRow*> mine;
    for (const ResultRow& r : rows)
        if (r.serial == serial)
            mine.push_back(&r);
    std::stable_sort(mine.begin(), mine.end(),
                     [](const ResultRow* a, const ResultRow* b) { return a->timeUtc < b->timeUtc; });
    QSet<QByteArray> configs;
    const ResultRow* latest = nullptr;
    for (const ResultRow* r : mine) {
        if (!d.stations.contains(r->station))
            d.stations << r->station;
        if (!d.versions.contains(r->version))
            d.versions << r->version;
        if (!r->config.isEmpty())
            configs.insert(r->config);
        if (!d.first.isValid())
            d.first = r->timeUtc;
        d.last = r->timeUtc;
        const bool simulated = r->figures["simulated"].toBool();
        d.simulated = d.simulated || simulated;
        if (r->command == QLatin1String("configure"))
            continue;  // every test configures first; the interface is said once above
        latest = r;
        ReportEntry e;
        e.row = *r;
        e.trace = r->trace.isEmpty() ? std::nullopt : decodeTrace(r->trace);
        e.test = testTitle(r->command);
        e.figures = figuresInWords(r->command, r->figures);
        const QJsonObject plan = r->figures["plan"].toObject();
        if (!plan.isEmpty()) {
            e.planVerdict = plan["verdict"].toString();
            e.limits = limitsInWords(plan["limits"].toObject());
            for (const QJsonValue& f : plan["failed"].toArray())
                e.planFailed << f.toString();
        }
        e.simulated = simulated;
        d.entries.push_back(std::move(e));
    }
    if (!latest && !mine.empty())
        latest = mine.back();
    d.configuration = latest ? configurationInWords(latest->config) : QStringList{};
    d.configurations = static_cast<int>(configs.size());
    return d;
}

std::vector<ReportPlot> entryPlots(const ReportEntry& e)
{
    std::vector<ReportPlot> plots;
    if (!e.trace)
        return plots;
    if (const auto* a = std::get_if<AccuracyTrace>(&*e.trace)) {
        const AccuracyTrace t = *a;
        plots.push_back({QStringLiteral("Angle over the steps"), {430, 250},
                         [t](QPainter& p, const QRectF& r) { paintAccuracyAngle(p, r, t); }});
        plots.push_back({QStringLiteral("Jump map"), {250, 250}, [t](QPainter& p, const QRectF& r) { paintJumpMap(p, r, t); }});
    } else if (const auto* s = std::get_if<SinCosTrace>(&*e.trace)) {
        const SinCosTrace t = *s;
        const std::optional<PairFit> plus = fitOf(e.row.figures["plus"]), minus = fitOf(e.row.figures["minus"]);
        plots.push_back({QStringLiteral("COS+ / SIN+"), {300, 300}, [t, plus](QPainter& p, const QRectF& r) {
                             paintLissajous(p, r, QStringLiteral("COS+ against SIN+"), t.codes[SinCosTrace::CosPlus],
                                            t.codes[SinCosTrace::SinPlus], plus);
                         }});
        plots.push_back({QStringLiteral("COS− / SIN−"), {300, 300}, [t, minus](QPainter& p, const QRectF& r) {
                             paintLissajous(p, r, QStringLiteral("COS− against SIN−"), t.codes[SinCosTrace::CosMinus],
                                            t.codes[SinCosTrace::SinMinus], minus);
                         }});
    } else if (const auto* rd = std::get_if<ReadTrace>(&*e.trace)) {
        const ReadTrace t = *rd;
        plots.push_back({QStringLiteral("Values read"), {600, 230}, [t](QPainter& p, const QRectF& r) { paintReadSeries(p, r, t); }});
    } else if (const auto* rs = std::get_if<ResolutionTrace>(&*e.trace)) {
        const ResolutionTrace t = *rs;
        plots.push_back({QStringLiteral("Resolution walk"), {600, 180},
                         [t](QPainter& p, const QRectF& r) { paintResolutionSpan(p, r, t); }});
    }
    return plots;
}
