#include "bench/outcome.h"

#include <QJsonArray>

QString operationName(Operation op)
{
    static const char* const names[kOperationCount] = {"configure", "read",   "capture",     "abs-test", "resolution",
                                                       "eeprom",    "sincos", "calibration", "force"};
    return QLatin1String(names[static_cast<int>(op)]);
}

QString endingName(Ending e)
{
    static const char* const names[] = {"verdict", "refused", "stopped", "box-fault"};
    return QLatin1String(names[static_cast<int>(e)]);
}

namespace {

QJsonValue number(const std::string& text)
{
    bool ok = false;
    const double v = QString::fromStdString(text).toDouble(&ok);
    return ok ? QJsonValue(v) : QJsonValue();
}

QJsonObject pairFigures(const SinCosPairTexts& t)
{
    return {{"cos_offset", number(t.cosOffset)}, {"sin_offset", number(t.sinOffset)},
            {"cos_pp", number(t.cosPeakToPeak)}, {"sin_pp", number(t.sinPeakToPeak)},
            {"phase", number(t.phase)}};
}

QJsonValue zFigures(const std::optional<SinCosZTexts>& z)
{
    if (!z)
        return QJsonValue();
    return QJsonObject{{"offset", number(z->offset)}, {"pp", number(z->peakToPeak)}};
}

struct Figures {
    QJsonObject operator()(std::monostate) const { return {}; }
    QJsonObject operator()(const ConfigureResult& r) const { return {{"configured", r.applied}}; }
    QJsonObject operator()(const ReadResult& r) const
    {
        static const char* const ends[] = {"stopped", "box-removed", "box-silent", "crc-error"};
        QJsonArray fields;
        for (std::int64_t v : r.fields)
            fields << static_cast<qint64>(v);
        return {{"values", static_cast<qint64>(r.values)},
                {"last", QJsonObject{{"raw", static_cast<qint64>(r.lastRaw)},
                                     {"fields", fields},
                                     {"angle", r.angle ? QJsonValue(*r.angle) : QJsonValue()}}},
                {"end", ends[static_cast<int>(r.end)]}};
    }
    QJsonObject operator()(const CaptureResult& r) const
    {
        static const char* const statuses[] = {"ok",           "not-saved", "transmission-error", "write-error",
                                               "unacknowledged", "unplugged", "box-silent",         "box-failed"};
        QJsonObject o{{"status", statuses[static_cast<int>(r.status)]},
                      {"file", r.file.isEmpty() ? QJsonValue() : QJsonValue(r.file)},
                      {"bytes", static_cast<qint64>(r.bytes)}};
        if (r.status == CaptureResult::Status::TransmissionError)
            o["ack"] = r.ackStatus;
        else
            o["decimal"] = r.decimal;
        return o;
    }
    QJsonObject operator()(const AccuracyResult& r) const
    {
        QJsonArray errors;
        for (double e : r.errors)
            errors << e;
        const char* verdict = r.verdict == AccuracyVerdict::Pass     ? "pass"
                              : r.verdict == AccuracyVerdict::Errors ? "errors"
                                                                     : "not-turning";
        return {{"verdict", verdict}, {"travel", r.travel}, {"errors", errors}};
    }
    QJsonObject operator()(const ResolutionResult& r) const
    {
        return {{"value", static_cast<qint64>(r.value)},
                {"bytes", static_cast<qint64>(r.bytes)},
                {"truncate", r.truncateBits},
                {"records", static_cast<qint64>(r.records)},
                {"complete", r.complete}};
    }
    QJsonObject operator()(const EepromResult& r) const { return {{"value", r.value}, {"verified", r.verified}}; }
    QJsonObject operator()(const SinCosResult& r) const
    {
        return {{"plus", pairFigures(r.plus)},
                {"minus", r.minus ? QJsonValue(pairFigures(*r.minus)) : QJsonValue()},
                {"z_plus", zFigures(r.zPlus)},
                {"z_minus", zFigures(r.zMinus)}};
    }
    QJsonObject operator()(const CalibrationStepResult& r) const
    {
        QJsonObject o{{"step", r.step}};
        if (!r.fields.empty()) {
            QJsonArray fields;
            for (const QString& f : r.fields)
                fields << f;
            o["fields"] = fields;
        }
        return o;
    }
    QJsonObject operator()(const ForceResult& r) const
    {
        return {{"result", r.result}, {"baseline", r.baseline}, {"name", r.name}};
    }
};

}  // namespace

QJsonObject Outcome::figures() const
{
    QJsonObject o = std::visit(Figures{}, detail);
    if (!plan.isEmpty())
        o.insert(QStringLiteral("plan"), plan);
    return o;
}

ResultTrace Outcome::trace() const
{
    if (const AccuracyResult* a = as<AccuracyResult>(); a && !a->trace.empty())
        return AccuracyTrace{a->trace};
    if (const ReadResult* r = as<ReadResult>(); r && !r->series.empty())
        return ReadTrace{r->series};
    if (const ResolutionResult* r = as<ResolutionResult>(); r && r->span)
        return *r->span;
    if (const SinCosResult* s = as<SinCosResult>(); s && s->tracks)
        return *s->tracks;
    return {};
}
