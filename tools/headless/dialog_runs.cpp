// The commands of the operations that run in a dialog of the window: the
// sin/cos analysis, the force contest and the encoder calibration. The tool
// plays the dialog's part: its ticks on the bench clock and its buttons.
#include "bench/encoder_calibration.h"
#include "bench/force_test.h"
#include "bench/sincos_test.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "headless/box_runs.h"
#include "headless/headless_bench.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace {

// Calls `tick` every `periodMs` of bench time until `done` holds or `benchMs` pass.
bool tickUntil(HeadlessBench& hb, double periodMs, const std::function<void()>& tick,
               const std::function<bool()>& done, double benchMs)
{
    Clock& clock = benchClock();
    const auto period = static_cast<std::int64_t>(periodMs * 1000);
    std::int64_t next = clock.nowMicros() + period;
    return hb.waitFor(
        [&] {
            if (clock.nowMicros() >= next) {
                next = clock.nowMicros() + period;
                tick();
            }
            return done();
        },
        benchMs, &gInterrupted);
}

}  // namespace

ToolResult runSinCos(HeadlessBench& hb, std::optional<int> seconds)
{
    // Settings that take with the sin/cos protocol open the analysis.
    ToolResult r = runConfigure(hb);
    if (r.status != kPass)
        return r;
    if (!hb.view.dialogs().isDialogOpen(DialogKind::SinCos)) {
        say(QStringLiteral("the sin/cos test did not start (is the protocol sin_cosine?)"));
        r.status = kFailed;
        r.json = {};
        return r;
    }
    // "Collection", then the dialog's 50 ms refresh until a fit is concluded
    // or, with --seconds, for that long with "Collection" pressed again after
    // each fit, so the last fit is the result.
    OutcomeBoard& board = hb.bench.outcomes();
    const std::uint64_t before = board.count(Operation::SinCos);
    hb.run([](Bench& b) { b.onSinCosCollection(); });
    auto dialogGone = [&] { return !hb.view.dialogs().isDialogOpen(DialogKind::SinCos); };
    auto refresh = [&] {
        hb.run([&](Bench& b) {
            const std::uint64_t fits = board.count(Operation::SinCos);
            b.onSinCosRefresh();
            if (seconds && board.count(Operation::SinCos) > fits)
                b.onSinCosCollection();
        });
    };
    if (seconds)
        tickUntil(hb, 50, refresh, dialogGone, *seconds * 1000.0);
    else
        tickUntil(hb, 50, refresh, [&] { return board.count(Operation::SinCos) > before || dialogGone(); }, 30000);
    // The cycle under way has had its stream command and reader but its
    // transfer may still be coming (about 33 ms of a 350 ms cycle).
    const SinCosTest& test = hb.bench.sinCos();
    hb.waitFor([&] { return test.cyclesWithSamples() >= test.cyclesRun(); }, kTimerPeriodMs[kTimerSinCos] + 100.0,
               &gInterrupted);
    const std::optional<Outcome> fit =
        board.count(Operation::SinCos) > before ? board.last(Operation::SinCos) : std::nullopt;
    QJsonObject figures = fit ? fit->figures() : QJsonObject{};
    r.json = QJsonObject{{"plus", figures.value("plus")},
                         {"minus", figures.value("minus")},
                         {"z_plus", figures.value("z_plus")},
                         {"z_minus", figures.value("z_minus")},
                         {"cycles", QJsonObject{{"run", static_cast<qint64>(test.cyclesRun())},
                                                {"with_samples", static_cast<qint64>(test.cyclesWithSamples())}}}};
    hb.run([](Bench& b) {
        b.onSinCosBackToHome();
        b.stopAll();
    });
    r.status = fit ? kPass : kFailed;
    if (!fit && !gInterrupted)
        say(QStringLiteral("the sin/cos analysis gave no fit"));
    if (const SinCosResult* s = fit ? fit->as<SinCosResult>() : nullptr)
        r.summary = QStringLiteral("phase +%1 -%2 degrees")
                        .arg(QString::fromStdString(s->plus.phase),
                             QString::fromStdString(s->minus ? s->minus->phase : std::string("xxx")));
    return r;
}

ToolResult runForce(HeadlessBench& hb, const ForceRun& run, bool json)
{
    ToolResult r = runConfigure(hb);
    r.json = QJsonObject{{"result", QJsonValue()}};
    if (r.status != kPass)
        return r;
    // The menu item: the stream and the dialog. A refusal is an outcome;
    // a start is the open dialog.
    OutcomeBoard& board = hb.bench.outcomes();
    const std::uint64_t before = board.count(Operation::Force);
    hb.run([](Bench& b) { b.onCommand(Command::ForceTest); });
    if (board.count(Operation::Force) > before || !hb.view.dialogs().isDialogOpen(DialogKind::Force)) {
        r.status = statusOf(board.last(Operation::Force), QStringLiteral("the force test"));
        return r;
    }
    if (!run.name.isEmpty())
        hb.run([&](Bench& b) {
            b.onForce(ForceInput::NameEdited, run.name);
            b.onForce(ForceInput::Enter);
        });
    const ForceTest& force = hb.bench.force();
    Clock& clock = benchClock();
    const std::int64_t start = clock.nowMicros();
    hb.run([](Bench& b) { b.onForce(ForceInput::StartStop); });
    // The dialog's 100 ms live tick; each value on its own line as it comes.
    auto tick = [&] {
        hb.run([](Bench& b) { b.onForce(ForceInput::LiveTick); });
        const double t = static_cast<double>(clock.nowMicros() - start) / 1000.0;
        const double f = force.forceNow();
        if (!run.live)
            return;
        if (json)
            std::printf("%s\n", QJsonDocument(QJsonObject{{"t_ms", t}, {"force", f}})
                                    .toJson(QJsonDocument::Compact)
                                    .constData());
        else
            std::printf("%.0f %.3f\n", t, f);
        std::fflush(stdout);
    };
    const std::uint64_t attempt = board.count(Operation::Force);
    auto attemptEnded = [&] { return board.count(Operation::Force) > attempt; };
    tickUntil(hb, 100, tick, attemptEnded, run.seconds * 1000.0);
    // Stop-all (the box removed or silent) may have ended the attempt
    // already; "STOP" would only start another.
    const std::optional<Outcome> o =
        attemptEnded() ? board.last(Operation::Force)
                       : hb.conclude(Operation::Force, [](Bench& b) { b.onForce(ForceInput::StartStop); }, 1000,
                                     &gInterrupted);
    const double peak = force.forcePeak();
    hb.run([](Bench& b) {
        b.onForce(ForceInput::Close);
        b.stopAll();
    });
    r.status = statusOf(o, QStringLiteral("the force test"));
    if (const ForceResult* f = o ? o->as<ForceResult>() : nullptr) {
        r.json = o->figures();
        r.json["peak"] = peak;
        r.summary = QStringLiteral("peak %1 N, result %2 N").arg(peak, 0, 'f', 3).arg(f->result, 0, 'f', 3);
    }
    return r;
}

namespace {

// A calibration step: its button, and the indicators it ends with (the
// step ends with its last one, or with the first that failed; with `anyOne`
// with whichever comes first: one B1B2 reply lights one of its two).
struct CalStepButton {
    const char* name;
    CalControl button;
    QStringList indicators;
    bool anyOne = false;
};

const std::vector<CalStepButton>& calSteps()
{
    static const std::vector<CalStepButton> steps{
        {"start", CalControl::Start, {"start"}},
        {"coarse-eccentricity", CalControl::CoarseEcc, {"coarse-eccentricity"}},
        {"fine-adc", CalControl::FineAdc, {"fine-adc"}},
        {"coarse-adc", CalControl::CoarseAdc, {"coarse-adc"}},
        {"fine-radius", CalControl::FineRadius, {"fine-radius"}},
        {"zero-1", CalControl::Zero1, {"zero-1"}},
        {"info-1", CalControl::Info1, {"info-1"}},
        {"wake", CalControl::Wake, {"wake", "wake-2"}},
        {"air", CalControl::AirCal, {"air"}},
        {"zero-2", CalControl::Zero2, {"zero-2"}},
        {"b1b2", CalControl::B1B2, {"b1", "b2"}, true},
        {"info-2", CalControl::Info2, {"info-2"}},
    };
    return steps;
}

// The longest a step waits for its indicators, in bench ms: the slowest
// reply time-out of the engine, with room for the operator's turns of the
// wake step.
constexpr double kCalStepLimitMs = 60000;

}  // namespace

QStringList calibrationStepNames()
{
    QStringList names;
    for (const CalStepButton& s : calSteps())
        names << QLatin1String(s.name);
    return names;
}

ToolResult runCalibration(HeadlessBench& hb, const CalibrationRun& run)
{
    ToolResult r;
    r.json = QJsonObject{{"access", false}, {"steps", QJsonArray()}};
    OutcomeBoard& board = hb.bench.outcomes();
    std::uint64_t seen = board.count(Operation::Calibration);
    hb.run([&](Bench& b) { b.onCommand(Command::EncoderCalibration); });
    if (board.count(Operation::Calibration) > seen || !hb.view.dialogs().isDialogOpen(DialogKind::Calibration)) {
        r.status = statusOf(board.last(Operation::Calibration), QStringLiteral("the calibration"));
        return r;
    }
    // "校准权限", the code, and the dialog's display tick that unlocks the steps.
    hb.run([&](Bench& b) {
        b.onCalibrationButton(CalControl::Access);
        b.onCalibrationAccessCode(run.accessCode, false);
        b.onCalibrationDisplayTick();
    });
    if (board.count(Operation::Calibration) > seen) {
        r.status = statusOf(board.last(Operation::Calibration), QStringLiteral("the calibration access"));
        hb.run([](Bench& b) { b.stopAll(); });
        return r;
    }
    r.json["access"] = true;
    QJsonArray results;
    bool allOk = true;
    for (const QString& stepName : run.steps) {
        const auto step = std::find_if(calSteps().begin(), calSteps().end(),
                                       [&](const CalStepButton& s) { return stepName == QLatin1String(s.name); });
        seen = board.count(Operation::Calibration);
        hb.run([&](Bench& b) { b.onCalibrationButton(step->button); });
        // The dialog's 500 ms tick shows the indicators; each is an outcome.
        QStringList pending = step->indicators;
        bool failed = false;
        auto collect = [&] {
            while (board.count(Operation::Calibration) > seen) {
                const std::optional<Outcome> o = board.waitNext(Operation::Calibration, seen++, 0);
                const CalibrationStepResult* c = o ? o->as<CalibrationStepResult>() : nullptr;
                if (!c)
                    continue;
                QJsonObject entry = o->figures();
                entry["ok"] = c->ok;
                results << entry;
                pending.removeAll(c->step);
                if (step->anyOne)
                    pending.clear();
                failed = failed || !c->ok;
            }
            return pending.isEmpty() || failed;
        };
        const bool ended = tickUntil(
            hb, 500, [&] { hb.run([](Bench& b) { b.onCalibrationDisplayTick(); }); }, collect, kCalStepLimitMs);
        if (!ended && !gInterrupted) {
            say(QStringLiteral("the calibration step %1 gave no indicator").arg(stepName));
            results << QJsonObject{{"step", stepName}, {"ok", false}};
        }
        if (!ended || failed) {
            allOk = false;
            break;
        }
    }
    hb.run([](Bench& b) {
        b.onCalibrationButton(CalControl::Home);
        b.stopAll();
    });
    r.json["steps"] = results;
    r.status = allOk ? kPass : kFailed;
    QStringList lines;
    for (const QJsonValue& v : results)
        lines << QStringLiteral("%1: %2").arg(v["step"].toString(), v["ok"].toBool() ? "ok" : "failed");
    r.summary = lines.join('\n');
    return r;
}
