#include "headless/box_runs.h"

#include "bench/accuracy.h"
#include "bench/eeprom_write.h"
#include "bench/resolution.h"
#include "common/clock.h"
#include "headless/headless_bench.h"

#include <QFileInfo>
#include <QJsonArray>
#include <array>
#include <mutex>

namespace {

// Slack beyond an operation's own bench time: the wait is in bench time,
// so only a real-time clock on a loaded machine uses any of it.
constexpr double kSlackMs = 5000;
// And per timer step: a tick that overruns its period puts every later one
// back (its steps fill 272 of its 300 ms), so on a real box the slack must
// grow with the steps.
constexpr double kStepSlackMs = 100;

// The accuracy test's JSON when it gave no verdict: what an unturned shaft reports.
QJsonObject absTestNotRun()
{
    return QJsonObject{{"verdict", "not-turning"}, {"errors", QJsonArray()}, {"travel", 0}};
}

QJsonValue orNull(bool present, const QJsonValue& v)
{
    return present ? v : QJsonValue();
}

}  // namespace

ToolResult runConfigure(HeadlessBench& hb)
{
    const qsizetype before = hb.view.messages().size();
    const std::optional<Outcome> o =
        hb.conclude(Operation::Configure, [](Bench& b) { b.onCommand(Command::ClickingSetting); }, 10000, &gInterrupted);
    ToolResult r;
    const bool configured = o && o->passed;
    r.json["configured"] = configured;
    r.status = configured ? kPass : kFailed;
    if (!configured && o && o->ending == Ending::Verdict) {
        if (hb.view.messages().size() == before)
            say(QStringLiteral("the box did not answer the configuration"));
    } else if (!configured) {
        statusOf(o, QStringLiteral("the configuration"));
    }
    r.summary = configured ? QStringLiteral("configured") : QStringLiteral("not configured");
    hb.settle();
    return r;
}

ToolResult runEeprom(HeadlessBench& hb, int value)
{
    ToolResult r = runConfigure(hb);
    r.json = QJsonObject{{"verdict", "fail"}, {"value", value}};
    if (r.status != kPass)
        return r;
    // 14 ticks of 500 ms and the power cycle.
    const std::optional<Outcome> o =
        hb.conclude(Operation::Eeprom, [value](Bench& b) { b.eepromWrite().start(value); }, 9000 + kSlackMs,
                    &gInterrupted);
    r.status = statusOf(o, QStringLiteral("the EEPROM write"));
    const bool passed = r.status == kPass;
    r.json["verdict"] = passed ? "pass" : "fail";
    r.summary = passed ? QStringLiteral("EEPROM holds %1: pass").arg(value)
                       : QStringLiteral("EEPROM write of %1: fail").arg(value);
    if (o && o->ending == Ending::Verdict && !passed)
        say(QStringLiteral("the encoder did not read back %1").arg(value));
    return r;
}

ToolResult runResolution(HeadlessBench& hb, int cycles, std::optional<int> truncate)
{
    ToolResult r = runConfigure(hb);
    r.json = QJsonObject{{"value", QJsonValue()}};
    if (r.status != kPass)
        return r;
    // A transfer of the cycles at 8000 records a second, a few rounds at most.
    const std::optional<Outcome> o = hb.conclude(
        Operation::Resolution, [&](Bench& b) { b.resolution().start(cycles, truncate); },
        cycles / 8.0 + 60000 + kSlackMs, &gInterrupted);
    hb.run([](Bench& b) { b.stopAll(); });
    r.status = statusOf(o, QStringLiteral("the resolution test"));
    if (const ResolutionResult* v = o ? o->as<ResolutionResult>() : nullptr) {
        r.json["value"] = static_cast<qint64>(v->value);
        r.json["complete"] = v->complete;
        r.summary = QString::number(v->value);
    }
    return r;
}

ToolResult runAbsTest(HeadlessBench& hb)
{
    ToolResult r = runConfigure(hb);
    if (r.status != kPass) {
        r.json = absTestNotRun();
        return r;
    }
    return runAbsTestOnConfiguredBox(hb);
}

ToolResult runAbsTestOnConfiguredBox(HeadlessBench& hb)
{
    ToolResult r;
    r.summary = QStringLiteral("configured");  // until a verdict replaces it
    r.json = absTestNotRun();
    // 680 steps of 300 ms.
    const std::optional<Outcome> o =
        hb.conclude(Operation::AbsTest, [](Bench& b) { b.onCommand(Command::AbsTest); },
                    680 * (300.0 + kStepSlackMs) + kSlackMs, &gInterrupted);
    hb.run([](Bench& b) { b.stopAll(); });
    r.status = statusOf(o, QStringLiteral("the accuracy test"));
    const AccuracyResult* a = o ? o->as<AccuracyResult>() : nullptr;
    if (!a) {
        if (o && o->ending != Ending::Refused)
            r.json = QJsonObject{{"verdict", QJsonValue()}, {"errors", QJsonArray()}, {"travel", QJsonValue()}};
        return r;
    }
    r.json = o->figures();
    const QString verdict = r.json["verdict"].toString();
    r.summary = QStringLiteral("%1 (travel %2 degrees, %3 errors)")
                    .arg(verdict)
                    .arg(a->travel, 0, 'f', 1)
                    .arg(a->errors.size());
    return r;
}

ToolResult runCapture(HeadlessBench& hb, const CaptureStart& start)
{
    ToolResult r = runConfigure(hb);
    r.json = QJsonObject{{"file", start.destination}, {"bytes", 0}, {"status", QJsonValue()}};
    if (r.status != kPass)
        return r;
    // Timer 1 stops it after S seconds; then the acknowledgement and the file.
    const std::optional<Outcome> o = hb.conclude(
        Operation::Capture, [&](Bench& b) { b.capture().start(start); },
        start.seconds * 1000.0 + kCaptureAckWaitMs + kCaptureTransferLimitMs + kSlackMs, &gInterrupted);
    hb.run([](Bench& b) { b.stopAll(); });
    const CaptureResult* c = o ? o->as<CaptureResult>() : nullptr;
    const QFileInfo file(start.destination);
    // What the box sent before a fault is kept in --out as well; the status
    // says why the capture is not a pass.
    const bool kept = c && !c->file.isEmpty() && file.exists();
    QJsonValue status;
    if (c)
        status = o->figures().value("status");
    else if (o && o->ending == Ending::Stopped)
        status = QStringLiteral("stopped");
    r.json = QJsonObject{{"file", file.absoluteFilePath()}, {"bytes", kept ? file.size() : 0}, {"status", status}};
    if (o && o->ending == Ending::Stopped && !gInterrupted)
        say(QStringLiteral("the capture was stopped before its end; nothing was written to %1").arg(start.destination));
    else if (!c)
        statusOf(o, QStringLiteral("the capture"));
    r.status = kept && o->passed ? kPass : kFailed;
    r.summary = QStringLiteral("%1: %2 bytes").arg(file.absoluteFilePath()).arg(kept ? file.size() : 0);
    return r;
}

// A new value as "Read data" shows it: the raw frame, the fields, the angle.
ToolResult runRead(HeadlessBench& hb, int count, bool csv)
{
    ToolResult r = runConfigure(hb);
    if (r.status != kPass)
        return r;
    struct Shown {
        double ms = 0;  // bench time since the reading started
        qint64 raw = 0;
        QList<qint64> fields;
        std::optional<double> angle;
    };
    std::mutex m;
    QList<Shown> shown;
    const unsigned fields = hb.state.settings().fieldCount;
    const int gauge = hb.state.settings().gaugeField;
    const std::array<QString, kFieldCount> labels = hb.state.settings().fieldLabel;
    const double startMs = benchClock().nowMs();
    const int before = static_cast<int>(hb.view.messages().size());
    hb.run([&](Bench& b) {
        hb.view.setCurrentIndex(Control::DisplayBase, 1);
        b.onChosen(Control::DisplayBase, 1);  // decimal raw frames
        b.onCommand(Command::ReadData);
    });
    // Installed once the reader runs: the frame shown while it starts is no new value.
    hb.view.setTextObserver([&](Control c, const QString& text) {
        if (c != Control::RawFrame)
            return;
        // The reader decodes the frame before it shows it.
        Shown v;
        v.ms = benchClock().nowMs() - startMs;
        bool ok = false;
        v.raw = text.toLongLong(&ok);
        if (!ok)
            return;
        for (unsigned k = 0; k < fields; ++k)
            v.fields << hb.state.fieldValue[k].load();
        if (gauge >= 1 && gauge <= static_cast<int>(fields))
            v.angle = hb.state.gaugeAngle.load();
        std::lock_guard lock(m);
        if (shown.size() < count)
            shown << v;
    });
    auto done = [&] {
        std::lock_guard lock(m);
        return shown.size() >= count;
    };
    auto reading = [&] { return hb.state.link.flags.isUp(Flag::ReadActive); };
    hb.waitFor([&] { return done() || !reading(); }, 10000.0 + count * 1000.0, &gInterrupted);
    hb.view.setTextObserver({});
    hb.run([](Bench& b) { b.stopAll(); });

    QJsonArray values;
    QStringList lines;
    for (const Shown& v : shown) {
        QJsonArray f;
        for (qint64 x : v.fields)
            f << x;
        values << QJsonObject{{"raw", v.raw}, {"fields", f}, {"angle", orNull(v.angle.has_value(), v.angle.value_or(0))}};
        lines << QString::number(v.raw);
    }
    r.json = QJsonObject{{"values", values}};
    if (values.size() < count) {
        r.status = kFailed;
        const QStringList m2 = hb.view.messages();
        say(m2.size() > before ? m2.last().trimmed()
                               : QStringLiteral("%1 of %2 new values came before the box stopped")
                                     .arg(values.size())
                                     .arg(count));
    }
    r.summary = lines.join('\n');
    if (csv) {
        QStringList header{QStringLiteral("ms"), QStringLiteral("raw")};
        for (unsigned k = 0; k < fields; ++k) {
            QString label = labels[k].trimmed();
            if (label.isEmpty() || label.contains(',') || label.contains('"'))
                label = QStringLiteral("field%1").arg(k + 1);
            header << label;
        }
        header << QStringLiteral("angle");
        QStringList out{header.join(',')};
        for (const Shown& v : shown) {
            QStringList row{QString::number(v.ms, 'f', 3), QString::number(v.raw)};
            for (qint64 x : v.fields)
                row << QString::number(x);
            row << (v.angle ? QString::number(*v.angle, 'f', 6) : QString());
            out << row.join(',');
        }
        r.summary = out.join('\n');
    }
    return r;
}
