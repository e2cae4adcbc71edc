#include "measure/test_plan_form.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace {

struct FormError {
    QString field, message;
};

QString fieldText(double v)
{
    return QString::number(v, 'g', 10);
}

// The reader's ranges, so that what the dialog saves the file reader takes back.
constexpr std::int64_t kMaxJumps = 1310720;
constexpr std::int64_t kMaxResolution = 2147483647;

double number(const QString& text, const QString& field, const QString& name)
{
    QString t = text.trimmed();
    t.replace(',', '.');
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (t.isEmpty() || !ok || !std::isfinite(v))
        throw FormError{field, QStringLiteral("%1 needs a number, not \"%2\"").arg(name, text.trimmed())};
    return v;
}

std::int64_t whole(const QString& text, const QString& field, const QString& name, std::int64_t min, std::int64_t max)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || v < min || v > max)
        throw FormError{field, QStringLiteral("%1 needs a whole number from %2 to %3, not \"%4\"")
                                   .arg(name)
                                   .arg(min)
                                   .arg(max)
                                   .arg(text.trimmed())};
    return v;
}

std::optional<PlanWindow> toleranceWindow(const PlanForm::Window& w, const QString& key, const QString& name)
{
    if (!w.on)
        return std::nullopt;
    PlanWindow out;
    out.nominal = number(w.low, "sincos." + key + ".nominal", name + QStringLiteral(" nominal"));
    out.tolerance = number(w.high, "sincos." + key + ".tolerance", name + QStringLiteral(" tolerance"));
    if (*out.tolerance < 0)
        throw FormError{"sincos." + key + ".tolerance", name + QStringLiteral(" tolerance cannot be negative")};
    out.min = *out.nominal - *out.tolerance;
    out.max = *out.nominal + *out.tolerance;
    return out;
}

std::optional<PlanWindow> rangeWindow(const PlanForm::Window& w, const QString& key, const QString& name)
{
    if (!w.on)
        return std::nullopt;
    PlanWindow out;
    out.min = number(w.low, "sincos." + key + ".min", name + QStringLiteral(" min"));
    out.max = number(w.high, "sincos." + key + ".max", name + QStringLiteral(" max"));
    if (out.min > out.max)
        throw FormError{"sincos." + key + ".max", name + QStringLiteral(" max is below its min")};
    return out;
}

PlanForm::Window asTolerance(const std::optional<PlanWindow>& w)
{
    if (!w)
        return {};
    if (w->nominal)
        return {true, fieldText(*w->nominal), fieldText(*w->tolerance)};
    return {true, fieldText((w->min + w->max) / 2), fieldText((w->max - w->min) / 2)};
}

PlanForm::Window asRange(const std::optional<PlanWindow>& w)
{
    if (!w)
        return {};
    return {true, fieldText(w->min), fieldText(w->max)};
}

TestPlan checked(const PlanForm& f)
{
    TestPlan plan;
    if (f.accuracy) {
        TestPlan::Accuracy a;
        a.maxJumps = static_cast<int>(whole(f.maxJumps, "abs.max_jumps", QStringLiteral("Max jumps"), 0, kMaxJumps));
        if (!f.maxJumpDeg.trimmed().isEmpty()) {
            a.maxJumpDeg = number(f.maxJumpDeg, "abs.max_jump_deg", QStringLiteral("Max jump"));
            if (*a.maxJumpDeg < 0 || *a.maxJumpDeg > 180)
                throw FormError{"abs.max_jump_deg", QStringLiteral("Max jump needs degrees from 0 to 180")};
        }
        plan.accuracy = a;
    }
    if (f.resolution) {
        TestPlan::Resolution r;
        if (f.resolutionLimit == PlanForm::ResolutionLimit::AtLeast)
            r.min = whole(f.resolutionValue, "resolution.min", QStringLiteral("Minimum resolution"), 0, kMaxResolution);
        else
            r.bits = static_cast<int>(whole(f.resolutionValue, "resolution.bits", QStringLiteral("Bits"), 1, 31));
        plan.resolution = r;
    }
    if (f.sincos) {
        TestPlan::SinCos s;
        s.cosOffset = toleranceWindow(f.cosOffset, "cos_offset", QStringLiteral("COS offset"));
        s.sinOffset = toleranceWindow(f.sinOffset, "sin_offset", QStringLiteral("SIN offset"));
        s.cosPp = toleranceWindow(f.cosPp, "cos_pp", QStringLiteral("COS peak-to-peak"));
        s.sinPp = toleranceWindow(f.sinPp, "sin_pp", QStringLiteral("SIN peak-to-peak"));
        s.phase = rangeWindow(f.phase, "phase", QStringLiteral("Phase"));
        if (!s.cosOffset && !s.sinOffset && !s.cosPp && !s.sinPp && !s.phase)
            throw FormError{"sincos", QStringLiteral("Sin/cos needs at least one window ticked")};
        plan.sincos = s;
    }
    plan.eepromVerified = f.eepromVerified;
    plan.captureComplete = f.captureComplete;
    plan.calibrationEveryStep = f.calibrationEveryStep;
    return plan;
}

}  // namespace

PlanForm planForm(const TestPlan& plan)
{
    PlanForm f;
    if (plan.accuracy) {
        f.accuracy = true;
        f.maxJumps = QString::number(plan.accuracy->maxJumps);
        f.maxJumpDeg = plan.accuracy->maxJumpDeg ? fieldText(*plan.accuracy->maxJumpDeg) : QString();
    }
    if (plan.resolution) {
        f.resolution = true;
        if (plan.resolution->min) {
            f.resolutionLimit = PlanForm::ResolutionLimit::AtLeast;
            f.resolutionValue = QString::number(*plan.resolution->min);
        } else {
            f.resolutionLimit = PlanForm::ResolutionLimit::ExactBits;
            f.resolutionValue = QString::number(plan.resolution->bits.value_or(0));
        }
    }
    if (plan.sincos) {
        f.sincos = true;
        f.cosOffset = asTolerance(plan.sincos->cosOffset);
        f.sinOffset = asTolerance(plan.sincos->sinOffset);
        f.cosPp = asTolerance(plan.sincos->cosPp);
        f.sinPp = asTolerance(plan.sincos->sinPp);
        f.phase = asRange(plan.sincos->phase);
    }
    f.eepromVerified = plan.eepromVerified;
    f.captureComplete = plan.captureComplete;
    f.calibrationEveryStep = plan.calibrationEveryStep;
    return f;
}

PlanFormCheck planFromForm(const PlanForm& form)
{
    try {
        return {checked(form), {}, {}};
    } catch (const FormError& e) {
        return {std::nullopt, e.message, e.field};
    }
}

QString planPathFor(const QString& configPath)
{
    const QFileInfo info(configPath);
    QString base = info.fileName();
    const int dot = static_cast<int>(base.lastIndexOf('.'));
    if (dot > 0)
        base.truncate(dot);
    return info.dir().filePath(base + QStringLiteral(".plan.json"));
}
