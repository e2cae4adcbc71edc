#include "measure/test_plan.h"

#include "common/file_io.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace {

const QString kAbs = QStringLiteral("abs-test");
const QString kResolution = QStringLiteral("resolution");
const QString kSinCos = QStringLiteral("sincos");
const QString kEeprom = QStringLiteral("eeprom");
const QString kCapture = QStringLiteral("capture");
const QString kCalibration = QStringLiteral("calibration");
const char* const kSinCosKeys[] = {"cos_offset", "sin_offset", "cos_pp", "sin_pp", "phase"};

struct PlanError {
    QString message;
};

// The line of the key at `path` in the plan's text: each name of the path is
// looked for after the one before, which is where a JSON object written by
// hand or by us has it. 0 when it is not found.
int lineOf(const QByteArray& text, const QStringList& path)
{
    qsizetype at = 0;
    for (const QString& name : path) {
        const qsizetype found = text.indexOf('"' + name.toUtf8() + '"', at);
        if (found < 0)
            return 0;
        at = found;
    }
    return static_cast<int>(text.left(at).count('\n')) + 1;
}

class PlanReader {
public:
    explicit PlanReader(const QByteArray& text) : text_(text) {}

    [[noreturn]] void fail(const QStringList& path, const QString& what) const
    {
        const int line = lineOf(text_, path);
        const QString where = path.join('.');
        throw PlanError{line > 0 ? QStringLiteral("line %1: %2: %3").arg(line).arg(where, what)
                                 : QStringLiteral("%1: %2").arg(where, what)};
    }
    void onlyKeys(const QJsonObject& o, const QStringList& path, const QStringList& known) const
    {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!known.contains(it.key()))
                fail(path + QStringList{it.key()},
                     QStringLiteral("unknown key (known here: %1)").arg(known.join(", ")));
    }
    QJsonObject object(const QJsonValue& v, const QStringList& path) const
    {
        if (!v.isObject())
            fail(path, QStringLiteral("needs an object {...}"));
        return v.toObject();
    }
    double number(const QJsonValue& v, const QStringList& path) const
    {
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            fail(path, QStringLiteral("needs a number"));
        return v.toDouble();
    }
    std::int64_t whole(const QJsonValue& v, const QStringList& path, std::int64_t min, std::int64_t max) const
    {
        const double d = number(v, path);
        if (d != std::floor(d) || d < static_cast<double>(min) || d > static_cast<double>(max))
            fail(path, QStringLiteral("needs a whole number from %1 to %2").arg(min).arg(max));
        return static_cast<std::int64_t>(d);
    }
    bool boolean(const QJsonValue& v, const QStringList& path) const
    {
        if (!v.isBool())
            fail(path, QStringLiteral("needs true or false"));
        return v.toBool();
    }
    PlanWindow window(const QJsonValue& v, const QStringList& path) const
    {
        const QJsonObject o = object(v, path);
        onlyKeys(o, path, {"nominal", "tolerance", "min", "max"});
        PlanWindow w;
        if (o.contains("nominal") || o.contains("tolerance")) {
            if (!o.contains("nominal") || !o.contains("tolerance") || o.contains("min") || o.contains("max"))
                fail(path, QStringLiteral("needs \"nominal\" and \"tolerance\", or \"min\" and \"max\""));
            w.nominal = number(o["nominal"], path + QStringList{"nominal"});
            w.tolerance = number(o["tolerance"], path + QStringList{"tolerance"});
            if (*w.tolerance < 0)
                fail(path + QStringList{"tolerance"}, QStringLiteral("cannot be negative"));
            w.min = *w.nominal - *w.tolerance;
            w.max = *w.nominal + *w.tolerance;
        } else {
            if (!o.contains("min") || !o.contains("max"))
                fail(path, QStringLiteral("needs \"nominal\" and \"tolerance\", or \"min\" and \"max\""));
            w.min = number(o["min"], path + QStringList{"min"});
            w.max = number(o["max"], path + QStringList{"max"});
            if (w.min > w.max)
                fail(path, QStringLiteral("\"min\" is above \"max\""));
        }
        return w;
    }

private:
    const QByteArray& text_;
};

TestPlan readPlan(const QByteArray& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        const QByteArray before = text.left(error.offset);
        const int line = static_cast<int>(before.count('\n')) + 1;
        const int column = static_cast<int>(error.offset - (before.lastIndexOf('\n') + 1)) + 1;
        throw PlanError{QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(error.errorString())};
    }
    const PlanReader r(text);
    if (!doc.isObject())
        throw PlanError{QStringLiteral("line 1: a plan is one object {...}")};
    const QJsonObject root = doc.object();
    r.onlyKeys(root, {}, {"schema", kAbs, kResolution, kSinCos, kEeprom, kCapture, kCalibration});
    if (!root.contains("schema"))
        throw PlanError{QStringLiteral("line 1: \"schema\": %1 is missing").arg(kTestPlanSchema)};
    const std::int64_t schema = r.whole(root["schema"], {"schema"}, 1, 1000000);
    if (schema > kTestPlanSchema)
        r.fail({"schema"}, QStringLiteral("version %1 is newer than this program's %2").arg(schema).arg(kTestPlanSchema));

    TestPlan plan;
    if (root.contains(kAbs)) {
        const QJsonObject o = r.object(root[kAbs], {kAbs});
        r.onlyKeys(o, {kAbs}, {"max_jumps", "max_jump_deg"});
        TestPlan::Accuracy a;
        if (o.contains("max_jumps"))
            a.maxJumps = static_cast<int>(r.whole(o["max_jumps"], {kAbs, "max_jumps"}, 0, 1310720));
        if (o.contains("max_jump_deg")) {
            a.maxJumpDeg = r.number(o["max_jump_deg"], {kAbs, "max_jump_deg"});
            if (*a.maxJumpDeg < 0 || *a.maxJumpDeg > 180)
                r.fail({kAbs, "max_jump_deg"}, QStringLiteral("needs degrees from 0 to 180"));
        }
        plan.accuracy = a;
    }
    if (root.contains(kResolution)) {
        const QJsonObject o = r.object(root[kResolution], {kResolution});
        r.onlyKeys(o, {kResolution}, {"min", "bits"});
        TestPlan::Resolution res;
        if (o.contains("min") == o.contains("bits"))
            r.fail({kResolution}, QStringLiteral("needs one of \"min\" and \"bits\""));
        if (o.contains("min"))
            res.min = r.whole(o["min"], {kResolution, "min"}, 0, 2147483647);
        else
            res.bits = static_cast<int>(r.whole(o["bits"], {kResolution, "bits"}, 1, 31));
        plan.resolution = res;
    }
    if (root.contains(kSinCos)) {
        const QJsonObject o = r.object(root[kSinCos], {kSinCos});
        QStringList known;
        for (const char* k : kSinCosKeys)
            known << QLatin1String(k);
        r.onlyKeys(o, {kSinCos}, known);
        TestPlan::SinCos s;
        std::optional<PlanWindow>* windows[] = {&s.cosOffset, &s.sinOffset, &s.cosPp, &s.sinPp, &s.phase};
        for (int k = 0; k < 5; ++k)
            if (o.contains(QLatin1String(kSinCosKeys[k])))
                *windows[k] = r.window(o[QLatin1String(kSinCosKeys[k])], {kSinCos, QLatin1String(kSinCosKeys[k])});
        plan.sincos = s;
    }
    auto flag = [&](const QString& section, const char* key, bool& out) {
        if (!root.contains(section))
            return;
        const QJsonObject o = r.object(root[section], {section});
        r.onlyKeys(o, {section}, {QLatin1String(key)});
        out = o.contains(QLatin1String(key)) ? r.boolean(o[QLatin1String(key)], {section, QLatin1String(key)}) : true;
    };
    flag(kEeprom, "verified", plan.eepromVerified);
    flag(kCapture, "nothing_dropped", plan.captureComplete);
    flag(kCalibration, "every_step", plan.calibrationEveryStep);
    return plan;
}

QJsonObject windowJson(const PlanWindow& w)
{
    if (w.nominal)
        return {{"nominal", *w.nominal}, {"tolerance", *w.tolerance}};
    return {{"min", w.min}, {"max", w.max}};
}

QString limitText(double v)
{
    return QString::number(v, 'g', 6);
}

}  // namespace

QString PlanWindow::text() const
{
    if (nominal)
        return QStringLiteral("%1 ± %2").arg(limitText(*nominal), limitText(*tolerance));
    return QStringLiteral("%1 .. %2").arg(limitText(min), limitText(max));
}

bool TestPlan::covers(const QString& command) const
{
    return (command == kAbs && accuracy) || (command == kResolution && resolution) || (command == kSinCos && sincos) ||
           (command == kEeprom && eepromVerified) || (command == kCapture && captureComplete) ||
           (command == kCalibration && calibrationEveryStep);
}

QJsonObject TestPlan::limits(const QString& command) const
{
    if (command == kAbs && accuracy) {
        QJsonObject o{{"max_jumps", accuracy->maxJumps}};
        if (accuracy->maxJumpDeg)
            o["max_jump_deg"] = *accuracy->maxJumpDeg;
        return o;
    }
    if (command == kResolution && resolution) {
        if (resolution->min)
            return {{"min", static_cast<qint64>(*resolution->min)}};
        return {{"bits", *resolution->bits}};
    }
    if (command == kSinCos && sincos) {
        QJsonObject o;
        const std::optional<PlanWindow>* windows[] = {&sincos->cosOffset, &sincos->sinOffset, &sincos->cosPp,
                                                    &sincos->sinPp, &sincos->phase};
        for (int k = 0; k < 5; ++k)
            if (*windows[k])
                o[QLatin1String(kSinCosKeys[k])] = windowJson(**windows[k]);
        return o;
    }
    if (command == kEeprom && eepromVerified)
        return {{"verified", true}};
    if (command == kCapture && captureComplete)
        return {{"nothing_dropped", true}};
    if (command == kCalibration && calibrationEveryStep)
        return {{"every_step", true}};
    return {};
}

QJsonObject TestPlan::toJson() const
{
    QJsonObject o{{"schema", kTestPlanSchema}};
    for (const QString& c : {kAbs, kResolution, kSinCos, kEeprom, kCapture, kCalibration}) {
        if (covers(c))
            o[c] = limits(c);
    }
    return o;
}

PlanParse parseTestPlan(const QByteArray& text)
{
    try {
        return {readPlan(text), {}};
    } catch (const PlanError& e) {
        return {std::nullopt, e.message};
    }
}

PlanParse readTestPlanFile(const QString& path)
{
    QString error;
    const std::optional<QByteArray> bytes = fileio::readBounded(path, 64 * 1024 + 1, &error);
    if (!bytes)
        return {std::nullopt, error};
    if (bytes->size() > 64 * 1024)
        return {std::nullopt, QStringLiteral("\"%1\" is larger than a test plan can be (64 kB)").arg(path)};
    PlanParse p = parseTestPlan(*bytes);
    if (!p.plan) {
        p.error = QStringLiteral("\"%1\" %2").arg(path, p.error);
        return p;
    }
    QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".plan.json")))
        name.chop(10);
    p.plan->name = name;
    return p;
}

QString writeTestPlanFile(const QString& path, const TestPlan& plan)
{
    QString error;
    if (!fileio::writeFileSafely(path, QJsonDocument(plan.toJson()).toJson(QJsonDocument::Indented), &error))
        return error;
    return {};
}

QJsonObject judgeAgainstPlan(const TestPlan& plan, const QString& command, bool passed, const QJsonObject& figures,
                             const std::optional<ResultTrace>& trace)
{
    if (!plan.covers(command))
        return {};
    QJsonArray failed;
    auto miss = [&failed](const QString& what) { failed << what; };

    if (command == kAbs) {
        const TestPlan::Accuracy& a = *plan.accuracy;
        const QString own = figures["verdict"].toString();
        const int jumps = static_cast<int>(figures["errors"].toArray().size());
        if (own == QLatin1String("not-turning"))
            miss(QStringLiteral("the encoder did not turn a full turn"));
        if (jumps > a.maxJumps)
            miss(QStringLiteral("%1 %2, at most %3 allowed")
                     .arg(jumps)
                     .arg(jumps == 1 ? QStringLiteral("jump") : QStringLiteral("jumps"))
                     .arg(a.maxJumps));
        if (a.maxJumpDeg && jumps > 0) {
            const AccuracyTrace* t = trace ? std::get_if<AccuracyTrace>(&*trace) : nullptr;
            if (!t) {
                miss(QStringLiteral("the jump sizes were not kept"));
            } else {
                double largest = 0;
                for (double s : traceJumpSizes(*t))
                    largest = std::max(largest, s);
                if (largest > *a.maxJumpDeg)
                    miss(QStringLiteral("a jump of %1°, at most %2° allowed").arg(limitText(largest), limitText(*a.maxJumpDeg)));
            }
        }
    } else if (command == kResolution) {
        const TestPlan::Resolution& r = *plan.resolution;
        const qint64 value = figures["value"].toInteger();
        if (!figures["complete"].toBool(true))
            miss(QStringLiteral("the walk was cut short"));
        if (r.min && value < *r.min)
            miss(QStringLiteral("resolution %1, at least %2 required").arg(value).arg(*r.min));
        if (r.bits && value != (qint64(1) << *r.bits) - 1)
            miss(QStringLiteral("resolution %1, exactly %2 (2^%3 - 1) required")
                     .arg(value)
                     .arg((qint64(1) << *r.bits) - 1)
                     .arg(*r.bits));
    } else if (command == kSinCos) {
        const TestPlan::SinCos& s = *plan.sincos;
        const std::optional<PlanWindow>* windows[] = {&s.cosOffset, &s.sinOffset, &s.cosPp, &s.sinPp, &s.phase};
        for (const char* pair : {"plus", "minus"}) {
            const QJsonValue p = figures[QLatin1String(pair)];
            if (!p.isObject())
                continue;  // the minus pair is fitted only when its tracks swing
            for (int k = 0; k < 5; ++k) {
                if (!*windows[k])
                    continue;
                const QJsonValue v = p.toObject()[QLatin1String(kSinCosKeys[k])];
                const QString name = QStringLiteral("%1 %2").arg(QLatin1String(kSinCosKeys[k]), QLatin1String(pair));
                if (!v.isDouble())
                    miss(QStringLiteral("%1 was not measured").arg(name));
                else if (!(*windows[k])->contains(v.toDouble()))
                    miss(QStringLiteral("%1 %2 outside %3").arg(name, limitText(v.toDouble()), (*windows[k])->text()));
            }
        }
        if (!figures["plus"].isObject())
            miss(QStringLiteral("no fit"));
    } else if (command == kEeprom) {
        if (!figures["verified"].toBool())
            miss(QStringLiteral("the value was not read back"));
    } else if (command == kCapture) {
        const QString status = figures["status"].toString();
        if (status != QLatin1String("ok"))
            miss(QStringLiteral("the capture ended %1").arg(status));
    } else if (command == kCalibration) {
        // A calibration result is one step's indicator: its own verdict.
        if (!passed)
            miss(QStringLiteral("step %1 failed").arg(figures["step"].toString()));
    }
    return {{"verdict", failed.isEmpty() ? "pass" : "fail"}, {"limits", plan.limits(command)}, {"failed", failed}};
}
