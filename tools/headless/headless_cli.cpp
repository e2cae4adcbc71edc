#include "headless/headless_cli.h"

#include "bench/accuracy.h"
#include "bench/capture.h"
#include "bench/settings_editor.h"
#include "bench/sincos_test.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "headless/headless_bench.h"
#include "headless/options.h"
#include "headless/results_listing.h"
#include "interface/protocol_table.h"
#include "results/results_store.h"
#include "link/libusb_backend.h"
#include "simbox/demo_bus.h"
#include "sincos/sincos_analysis.h"
#include "simbox/sim_options.h"
#include "simbox/unplug_timer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

enum Status { kPass = 0, kFailed = 1, kUsage = 2, kNoBox = 3 };

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int)
{
    gInterrupted = true;
}

const char* const kBoxCommands[] = {"configure", "read", "eeprom", "resolution", "abs-test", "capture", "sincos"};

const char* const kHelp =
    "Usage: quillmark-tool [--simulate[=KEY=VALUE,...]] [--json] COMMAND [OPTIONS]\n"
    "\n"
    "Box commands (each first sends the configuration as \"Clicking setting\" does):\n"
    "  configure                         configuration only\n"
    "  read --count N                    the next N new values\n"
    "  eeprom --value V                  write V (0..255) to the encoder and verify it\n"
    "  resolution --cycles N [--truncate T]\n"
    "  abs-test                          the absolute accuracy test\n"
    "  capture --seconds S --out FILE [--decimal]\n"
    "  sincos [--seconds S]              one armed sin/cos analysis; with --seconds it\n"
    "                                    runs S seconds, armed again after each fit,\n"
    "                                    and gives the last fit\n"
    "  Each box command takes --serial S, the encoder's serial (the window's\n"
    "  \"Description:\"), and keeps its result in the results store.\n"
    "\n"
    "Results (this bench's results.sqlite, or the server QUILLMARK_RESULTS names):\n"
    "  results [--since WHEN] [--serial S] [--verdict pass|fail] [--station HOST] [--csv|--json]\n"
    "                                    WHEN: 2026-12-09, 2026-12-09T14:30 (UTC) or an age: 90m, 12h, 7d\n"
    "\n"
    "Interface options: --protocol NAME, --widths a,b,..., --labels x,y,...,\n"
    "  --turn single|multi, --code binary|gray, --crc inverted|notinverted,\n"
    "  --frequency TEXT (9.6MHZ, 4.8MHZ, 2.4MHZ, 1.2MHZ), --gauge-field N;\n"
    "  or --config FILE.cfg.\n"
    "--simulate keys: speed=F rpm=R bits=S turn-bits=T status-bits=K jump=A:D\n"
    "  crc-errors=N eeprom=store|ignore|short sincos=CO:SO:CA:SA:PH ack-status=N\n"
    "  unplug-after=S silent\n"
    "Exit status: 0 pass, 1 the test failed or the box misbehaved, 2 bad command\n"
    "line, 3 no box.\n";

void say(const QString& message)
{
    std::fprintf(stderr, "quillmark-tool: %s\n", message.toLocal8Bit().constData());
}

const QSet<QString> kInterfaceOptions{"protocol", "widths", "labels", "turn", "code",
                                      "crc", "frequency", "gauge-field", "config"};

// The interface as the command line gives it, checked before the box is touched.
struct InterfaceChoice {
    std::optional<int> protocol;
    std::optional<QStringList> widths;
    std::optional<QStringList> labels;
    std::optional<int> turn;
    std::optional<Control> code;
    std::optional<int> crc;
    std::optional<Control> clock;
    std::optional<QString> gaugeField;
    std::optional<QString> config;
};

InterfaceChoice interfaceChoice(const Options& o)
{
    InterfaceChoice c;
    if (o.has("config")) {
        for (const QString& k : kInterfaceOptions)
            if (k != "config" && o.has(k))
                throw UsageError{QStringLiteral("--config and --%1 exclude each other").arg(k)};
        c.config = o.value("config");
        return c;
    }
    if (o.has("protocol")) {
        const QByteArray name = o.value("protocol").toUtf8();
        const auto p = protocolByName(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
        if (!p) {
            QStringList names;
            for (const auto& info : protocolTable())
                names << QString::fromUtf8(info.name.data(), static_cast<int>(info.name.size()));
            throw UsageError{QStringLiteral("unknown protocol '%1' (one of: %2)").arg(o.value("protocol"), names.join(", "))};
        }
        c.protocol = static_cast<int>(*p);
    }
    if (o.has("widths")) {
        const QStringList w = o.value("widths").split(',');
        if (w.size() > kMaxFields)
            throw UsageError{QStringLiteral("--widths takes at most %1 widths").arg(kMaxFields)};
        for (const QString& s : w) {
            bool ok = false;
            const int v = s.trimmed().toInt(&ok);
            if (!ok || v < 0 || v > kMaxFieldWidth)
                throw UsageError{QStringLiteral("--widths: '%1' is no width of 0 to %2 bits").arg(s).arg(kMaxFieldWidth)};
        }
        c.widths = w;
    }
    if (o.has("labels")) {
        const QStringList l = o.value("labels").split(',');
        if (l.size() > kMaxFields)
            throw UsageError{QStringLiteral("--labels takes at most %1 labels").arg(kMaxFields)};
        c.labels = l;
    }
    if (o.has("turn")) {
        const QString t = o.value("turn");
        if (t != "single" && t != "multi")
            throw UsageError{QStringLiteral("--turn is single or multi")};
        c.turn = t == "multi" ? 1 : 0;
    }
    if (o.has("code")) {
        const QString t = o.value("code");
        if (t != "binary" && t != "gray")
            throw UsageError{QStringLiteral("--code is binary or gray")};
        c.code = t == "gray" ? Control::MenuGray : Control::MenuBinary;
    }
    if (o.has("crc")) {
        const QString t = o.value("crc");
        if (t != "inverted" && t != "notinverted")
            throw UsageError{QStringLiteral("--crc is inverted or notinverted")};
        c.crc = t == "notinverted" ? 1 : 0;
    }
    if (o.has("frequency")) {
        const QString t = o.value("frequency").trimmed().toUpper();
        const Control items[] = {Control::MenuClock9_6, Control::MenuClock4_8, Control::MenuClock2_4,
                                 Control::MenuClock1_2};
        for (std::size_t i = 0; i < kClockItems.size(); ++i) {
            const QString label = QString::fromLatin1(kClockItems[i].caption).toUpper();
            if (t == label || t + "Z" == label || t + "MHZ" == label)
                c.clock = items[i];
        }
        if (!c.clock)
            throw UsageError{QStringLiteral("--frequency is one of 9.6MHZ, 4.8MHZ, 2.4MHZ, 1.2MHZ")};
    }
    if (c.protocol) {
        // The window disables these lists for protocols without the choice.
        const ProtocolInfo& info = protocolTable()[static_cast<std::size_t>(*c.protocol)];
        if (c.crc && !info.crcListEnabled)
            throw UsageError{QStringLiteral("--crc: %1 has no CRC choice").arg(o.value("protocol"))};
        if (c.turn == 1 && !info.turnListEnabled)
            throw UsageError{QStringLiteral("--turn: %1 is single-turn only").arg(o.value("protocol"))};
    }
    if (o.has("gauge-field")) {
        o.integer("gauge-field", 0, kMaxFields);
        c.gaugeField = o.value("gauge-field").trimmed();
    }
    return c;
}

// Puts the interface into the bench as the user would: list choices, menu
// items and typed edits. False (message shown) when a configuration file
// could not be loaded.
bool applyInterface(HeadlessBench& hb, const InterfaceChoice& c)
{
    bool ok = true;
    hb.run([&](Bench& b) {
        if (c.config) {
            const int before = static_cast<int>(hb.view.messages().size());
            hb.view.setFileAnswer(*c.config);
            b.onCommand(Command::LoadConfigFile);
            hb.view.setFileAnswer({});
            ok = hb.view.messages().size() == before;
            return;
        }
        if (c.protocol) {
            hb.view.setCurrentIndex(Control::Protocols, *c.protocol);
            b.onChosen(Control::Protocols, *c.protocol);
        }
        if (c.widths) {
            const QStringList& w = *c.widths;
            b.onEdited(Control::ContentCount, QString::number(w.size()));
            hb.view.setText(Control::ContentCount, QString::number(w.size()));
            for (int k = 1; k <= kMaxFields; ++k) {
                const QString text = k <= w.size() ? w[k - 1].trimmed() : QStringLiteral("0");
                hb.view.setText(fieldWidthControl(k), text);
                b.onEdited(fieldWidthControl(k), text);
            }
        }
        if (c.labels) {
            for (int k = 1; k <= c.labels->size(); ++k) {
                hb.view.setText(fieldLabelControl(k), (*c.labels)[k - 1]);
                b.onEdited(fieldLabelControl(k), (*c.labels)[k - 1]);
            }
        }
        if (c.turn) {
            hb.view.setCurrentIndex(Control::TurnList, *c.turn);
            b.onChosen(Control::TurnList, *c.turn);
        }
        if (c.crc) {
            hb.view.setCurrentIndex(Control::CrcList, *c.crc);
            b.onChosen(Control::CrcList, *c.crc);
        }
        if (c.code)
            b.onMenuItem(*c.code);
        if (c.clock)
            b.onMenuItem(*c.clock);
        if (c.gaugeField) {
            hb.view.setText(Control::GaugeField, *c.gaugeField);
            b.onEdited(Control::GaugeField, *c.gaugeField);
        }
    });
    return ok;
}

struct Outcome {
    int status = kPass;
    QJsonObject json;
    QString summary;
};

// The last message the view showed since `from`, or `fallback`.
QString lastMessage(HeadlessBench& hb, int from, const QString& fallback)
{
    const QStringList m = hb.view.messages();
    return m.size() > from ? m.last().trimmed() : fallback;
}

Outcome configure(HeadlessBench& hb)
{
    const int before = static_cast<int>(hb.view.messages().size());
    hb.run([](Bench& b) { b.onCommand(Command::ClickingSetting); });
    hb.settle();
    const bool configured = hb.state.configApplied.load();
    if (!configured && hb.view.messages().size() == before)
        say(QStringLiteral("the box did not answer the configuration"));
    Outcome o;
    o.json["configured"] = configured;
    o.status = configured ? kPass : kFailed;
    o.summary = configured ? QStringLiteral("configured") : QStringLiteral("not configured");
    return o;
}

// A new value as "Read data" shows it: the raw frame, the fields, the angle.
struct ShownValue {
    qint64 raw = 0;
    QList<qint64> fields;
    std::optional<double> angle;
};

Outcome readValues(HeadlessBench& hb, int count)
{
    Outcome o = configure(hb);
    if (o.status != kPass)
        return o;
    std::mutex m;
    QList<ShownValue> shown;
    const unsigned fields = hb.state.settings().fieldCount;
    const int gauge = hb.state.settings().gaugeField;
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
        ShownValue v;
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
    for (const ShownValue& v : shown) {
        QJsonArray f;
        for (qint64 x : v.fields)
            f << x;
        values << QJsonObject{{"raw", v.raw}, {"fields", f}, {"angle", v.angle ? QJsonValue(*v.angle) : QJsonValue()}};
    }
    o.json = QJsonObject{{"values", values}};
    if (values.size() < count) {
        o.status = kFailed;
        say(lastMessage(hb, before, QStringLiteral("%1 of %2 new values came before the box stopped").arg(values.size()).arg(count)));
    }
    QStringList lines;
    for (const auto& v : values)
        lines << QString::number(v.toObject()["raw"].toInteger());
    o.summary = lines.join('\n');
    return o;
}

// A command whose start the bench refused: its message (if any) is the reason.
Outcome refused(HeadlessBench& hb, int from, const QString& what, QJsonObject json)
{
    Outcome o;
    o.status = kFailed;
    o.json = std::move(json);
    if (hb.view.messages().size() == from)
        say(QStringLiteral("%1 did not start (the bench is busy or the box not ready)").arg(what));
    return o;
}

// Waits for an operation that runs on its own, allowing `benchMs` of bench
// time plus slack for a loaded machine; Ctrl+C ends the wait.
bool waitOperation(HeadlessBench& hb, const std::function<bool()>& ended, double benchMs)
{
    return hb.waitFor(ended, 5000.0 + benchMs, &gInterrupted);
}

Outcome eeprom(HeadlessBench& hb, int value)
{
    Outcome o = configure(hb);
    const QJsonObject failed{{"verdict", "fail"}, {"value", value}};
    if (o.status != kPass) {
        o.json = failed;
        return o;
    }
    const int before = static_cast<int>(hb.view.messages().size());
    bool started = false;
    hb.run([&](Bench& b) {
        hb.view.setText(Control::EepromValue, QString::number(value));
        b.onEdited(Control::EepromValue, QString::number(value));
        b.onCommand(Command::WriteEeprom);
        started = hb.state.eepromRunning.load();
    });
    if (!started)
        return refused(hb, before, QStringLiteral("the EEPROM write"), failed);
    // 14 ticks of 500 ms and the power cycle.
    waitOperation(hb, [&] { return !hb.state.eepromRunning.load(); }, 9000);
    const bool passed = !hb.state.eepromRunning.load() && hb.view.lamp(Control::EepromLamp) == LampImage::Passed;
    o.status = passed ? kPass : kFailed;
    o.json = QJsonObject{{"verdict", passed ? "pass" : "fail"}, {"value", value}};
    o.summary = passed ? QStringLiteral("EEPROM holds %1: pass").arg(value) : QStringLiteral("EEPROM write of %1: fail").arg(value);
    if (!passed && hb.view.messages().size() == before)
        say(QStringLiteral("the encoder did not read back %1").arg(value));
    return o;
}

Outcome resolution(HeadlessBench& hb, int cycles, std::optional<int> truncate)
{
    Outcome o = configure(hb);
    if (o.status != kPass) {
        o.json = QJsonObject{{"value", QJsonValue()}};
        return o;
    }
    std::mutex m;
    std::optional<qint64> result;
    const int before = static_cast<int>(hb.view.messages().size());
    bool started = false;
    hb.run([&](Bench& b) {
        hb.view.setText(Control::CycleCount, QString::number(cycles));
        b.onEdited(Control::CycleCount, QString::number(cycles));
        if (truncate) {
            hb.view.setText(Control::TruncateBits, QString::number(*truncate));
            b.onEdited(Control::TruncateBits, QString::number(*truncate));
        }
        b.onCommand(Command::Resolution);
        started = hb.state.link.flags.isUp(Flag::ResolutionActive);
    });
    if (!started)
        return refused(hb, before, QStringLiteral("the resolution test"), {{"value", QJsonValue()}});
    // The worker writes the result once the transfer is in.
    hb.view.setTextObserver([&](Control c, const QString& text) {
        if (c != Control::ResolutionResult)
            return;
        bool ok = false;
        const qint64 v = text.toLongLong(&ok);
        std::lock_guard lock(m);
        if (ok)
            result = v;
    });
    // A transfer of the cycles at 8000 records a second, a few rounds at most.
    waitOperation(hb, [&] { return !hb.state.link.flags.isUp(Flag::ResolutionActive); },
                  cycles / 8.0 + 60000);
    hb.view.setTextObserver({});
    hb.run([](Bench& b) { b.stopAll(); });
    std::lock_guard lock(m);
    o.json = QJsonObject{{"value", result ? QJsonValue(*result) : QJsonValue()}};
    o.status = result ? kPass : kFailed;
    if (result)
        o.summary = QString::number(*result);
    else if (hb.view.messages().size() == before)
        say(QStringLiteral("the resolution test ended without a result"));
    return o;
}

Outcome absTest(HeadlessBench& hb)
{
    Outcome o = configure(hb);
    if (o.status != kPass) {
        o.json = QJsonObject{{"verdict", "not-turning"}, {"errors", QJsonArray()}, {"travel", 0}};
        return o;
    }
    const int before = static_cast<int>(hb.view.messages().size());
    bool started = false;
    hb.run([&](Bench& b) {
        b.onCommand(Command::AbsTest);
        started = hb.state.absTestActive.load();
    });
    if (!started)
        return refused(hb, before, QStringLiteral("the accuracy test"),
                       {{"verdict", "not-turning"}, {"errors", QJsonArray()}, {"travel", 0}});
    // 680 steps of 300 ms.
    waitOperation(hb, [&] { return !hb.state.absTestActive.load(); }, 680 * 300.0);
    const LampImage lamp = hb.view.lamp(Control::AbsLamp);
    const QStringList messages = hb.view.messages();
    const bool notTurning = messages.size() > before && messages.last() == kMsgTurnTheMotor;
    hb.run([](Bench& b) { b.stopAll(); });
    if (lamp != LampImage::Passed && lamp != LampImage::Lit && !notTurning) {
        // Stopped before the verdict (Ctrl+C, a silent or removed box).
        if (hb.view.messages().size() == before && !gInterrupted)
            say(QStringLiteral("the accuracy test ended without a verdict"));
        o.status = kFailed;
        o.json = QJsonObject{{"verdict", QJsonValue()}, {"errors", QJsonArray()}, {"travel", QJsonValue()}};
        return o;
    }
    const AccuracyTest::Result r = hb.bench.accuracy().result();
    QJsonArray errors;
    for (double e : r.errors)
        errors << e;
    const char* verdict = r.verdict == AccuracyVerdict::Pass ? "pass"
                          : r.verdict == AccuracyVerdict::Errors ? "errors" : "not-turning";
    o.json = QJsonObject{{"verdict", verdict}, {"errors", errors}, {"travel", r.travel}};
    o.status = r.verdict == AccuracyVerdict::Pass ? kPass : kFailed;
    o.summary = QStringLiteral("%1 (travel %2 degrees, %3 errors)").arg(verdict).arg(r.travel, 0, 'f', 1).arg(r.errors.size());
    return o;
}

Outcome capture(HeadlessBench& hb, int seconds, const QString& out, bool decimal)
{
    const QJsonObject none{{"file", out}, {"bytes", 0}, {"status", QJsonValue()}};
    Outcome o = configure(hb);
    if (o.status != kPass) {
        o.json = none;
        return o;
    }
    const int before = static_cast<int>(hb.view.messages().size());
    bool started = false;
    hb.run([&](Bench& b) {
        hb.view.setText(Control::CaptureSeconds, QString::number(seconds));
        b.onEdited(Control::CaptureSeconds, QString::number(seconds));
        hb.view.setChecked(Control::TimedCapture, true);
        b.onToggled(Control::TimedCapture, true);
        hb.view.setChecked(Control::SaveAsDecimal, decimal);
        b.onToggled(Control::SaveAsDecimal, decimal);
        // The save dialog at the end answers with --out.
        hb.view.setFileAnswer(out);
        started = b.capture().saveFile();
    });
    if (!started)
        return refused(hb, before, QStringLiteral("the capture"), none);
    // Timer 1 stops it after S seconds; then the acknowledgement and the file.
    waitOperation(hb, [&] { return hb.bench.capture().phase() == Capture::Phase::Idle; },
                  seconds * 1000.0 + kCaptureAckWaitMs + kCaptureTransferLimitMs);
    const bool finished = hb.bench.capture().phase() == Capture::Phase::Idle;
    hb.run([](Bench& b) { b.stopAll(); });
    const QStringList messages = hb.view.messages().mid(before);
    const bool broken = messages.contains(kMsgCaptureBroken);
    const QFileInfo file(out);
    o.json = QJsonObject{{"file", file.absoluteFilePath()},
                         {"bytes", file.exists() ? file.size() : 0},
                         {"status", !broken && file.exists() ? "ok" : "transmission-error"}};
    o.status = finished && !broken && messages.isEmpty() && file.exists() ? kPass : kFailed;
    // Stop-all (the box gone or silent) ends a capture without keeping it.
    if (o.status != kPass && messages.isEmpty() && !gInterrupted)
        say(finished ? QStringLiteral("the capture was stopped before its end; nothing was written to %1").arg(out)
                     : QStringLiteral("the capture did not end"));
    o.summary = QStringLiteral("%1: %2 bytes").arg(file.absoluteFilePath()).arg(file.exists() ? file.size() : 0);
    return o;
}

// A field of the analysis dialog as a number (null while it shows none).
QJsonValue fieldNumber(const ConsoleSinCosView& v, SinCosField f)
{
    bool ok = false;
    const double x = v.field(f).trimmed().toDouble(&ok);
    return ok ? QJsonValue(x) : QJsonValue();
}

Outcome sincos(HeadlessBench& hb, std::optional<int> seconds)
{
    // Settings that take with the sin/cos protocol open the analysis.
    Outcome o = configure(hb);
    if (o.status != kPass)
        return o;
    ConsoleSinCosView& view = hb.view.dialogs().sinCos();
    if (!hb.view.dialogs().isDialogOpen(DialogKind::SinCos)) {
        say(QStringLiteral("the sin/cos test did not start (is the protocol sin_cosine?)"));
        o.status = kFailed;
        o.json = {};
        return o;
    }
    // "Collection", then the dialog's 50 ms refresh on the bench clock until
    // the fit is shown or, with --seconds, for that long with the fit armed
    // again after each one, so the fields end on the last fit.
    hb.run([](Bench& b) { b.onSinCosCollection(); });
    auto fitted = [&] {
        return view.field(SinCosField::PhasePlus) != QLatin1String(kSinCosNoValue) &&
               view.field(SinCosField::PhaseMinus) != QLatin1String(kSinCosNoValue);
    };
    Clock& clock = benchClock();
    constexpr std::int64_t kRefreshMicros = 50'000;
    std::int64_t nextRefresh = clock.nowMicros() + kRefreshMicros;
    auto refreshDue = [&] {
        const std::int64_t now = clock.nowMicros();
        if (now < nextRefresh)
            return;
        nextRefresh = now + kRefreshMicros;
        hb.run([&](Bench& b) {
            b.onSinCosRefresh();
            if (seconds && view.collectionCaption() == kSinCosCollection)
                b.onSinCosCollection();
        });
    };
    auto dialogGone = [&] { return !hb.view.dialogs().isDialogOpen(DialogKind::SinCos); };
    if (seconds) {
        hb.waitFor(
            [&] {
                refreshDue();
                return dialogGone();
            },
            *seconds * 1000.0, &gInterrupted);
    } else {
        hb.waitFor(
            [&] {
                refreshDue();
                return fitted() || dialogGone();
            },
            10000.0 + 20000.0, &gInterrupted);
    }
    // The cycle under way has had its stream command and reader but its
    // transfer may still be coming (about 33 ms of a 350 ms cycle).
    hb.waitFor([&hb] { return hb.bench.sinCos().cyclesWithSamples() >= hb.bench.sinCos().cyclesRun(); },
               kTimerPeriodMs[kTimerSinCos] + 100.0, &gInterrupted);
    const auto cyclesRun = static_cast<qint64>(hb.bench.sinCos().cyclesRun());
    const auto cyclesWithSamples = static_cast<qint64>(hb.bench.sinCos().cyclesWithSamples());
    const bool ok = fitted();
    auto pair = [&](SinCosField co, SinCosField so, SinCosField cp, SinCosField sp, SinCosField ph) {
        return QJsonObject{{"cos_offset", fieldNumber(view, co)}, {"sin_offset", fieldNumber(view, so)},
                           {"cos_pp", fieldNumber(view, cp)},     {"sin_pp", fieldNumber(view, sp)},
                           {"phase", fieldNumber(view, ph)}};
    };
    o.json = QJsonObject{
        {"plus", pair(SinCosField::CosPlusOffset, SinCosField::SinPlusOffset, SinCosField::CosPlusPeakToPeak,
                      SinCosField::SinPlusPeakToPeak, SinCosField::PhasePlus)},
        {"minus", pair(SinCosField::CosMinusOffset, SinCosField::SinMinusOffset, SinCosField::CosMinusPeakToPeak,
                       SinCosField::SinMinusPeakToPeak, SinCosField::PhaseMinus)},
        {"z_plus", QJsonObject{{"offset", fieldNumber(view, SinCosField::ZPlusOffset)},
                               {"pp", fieldNumber(view, SinCosField::ZPlusPeakToPeak)}}},
        {"z_minus", QJsonObject{{"offset", fieldNumber(view, SinCosField::ZMinusOffset)},
                                {"pp", fieldNumber(view, SinCosField::ZMinusPeakToPeak)}}},
        {"cycles", QJsonObject{{"run", cyclesRun}, {"with_samples", cyclesWithSamples}}},
    };
    hb.run([](Bench& b) {
        b.onSinCosBackToHome();
        b.stopAll();
    });
    o.status = ok ? kPass : kFailed;
    if (!ok && !gInterrupted)
        say(QStringLiteral("the sin/cos analysis gave no fit"));
    o.summary = QStringLiteral("phase +%1 -%2 degrees")
                    .arg(view.field(SinCosField::PhasePlus), view.field(SinCosField::PhaseMinus));
    return o;
}

int usage(const QString& message)
{
    say(message + QStringLiteral(" (see 'quillmark-tool --help')"));
    return kUsage;
}

}  // namespace

bool isHeadlessInvocation(int argc, char** argv)
{
    if (argc < 2)
        return false;
    const char* a = argv[1];
    if (std::strncmp(a, "--simulate", 10) == 0 || std::strcmp(a, "--json") == 0)
        return true;
    for (const char* c : kBoxCommands)
        if (std::strcmp(a, c) == 0)
            return true;
    return std::strcmp(a, "results") == 0;
}

int runHeadless(int argc, char** argv)
{
    std::optional<SimSettings> sim;
    bool json = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (std::strcmp(a, "--simulate") == 0 || std::strncmp(a, "--simulate=", 11) == 0) {
            const SimOptionsParse p = parseSimOptions(a[10] == '=' ? std::string_view(a + 11) : std::string_view());
            if (!p.ok())
                return usage(QString::fromStdString(p.error));
            sim = p.settings;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(kHelp, stdout);
            return kPass;
        } else {
            break;
        }
    }
    if (i >= argc)
        return usage(QStringLiteral("no command"));
    const QString command = QString::fromLocal8Bit(argv[i]);
    QStringList args;
    for (int k = i + 1; k < argc; ++k)
        args << QString::fromLocal8Bit(argv[k]);

    if (command == "results") {
        if (sim)
            return usage(QStringLiteral("--simulate does not apply to results"));
        int qargc = 1;
        char* qargv[] = {argv[0], nullptr};
        QCoreApplication app(qargc, qargv);
        QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));
        return runResults(args, json);
    }

    QSet<QString> valued = kInterfaceOptions;
    valued << "serial";
    QSet<QString> flags;
    if (command == "read")
        valued << "count";
    else if (command == "eeprom")
        valued << "value";
    else if (command == "resolution")
        valued << "cycles" << "truncate";
    else if (command == "capture") {
        valued << "seconds" << "out";
        flags << "decimal";
    } else if (command == "sincos")
        valued << "seconds";
    else if (command == "configure" || command == "abs-test")
        ;
    else
        return usage(QStringLiteral("unknown command '%1'").arg(command));

    std::optional<Options> options;
    InterfaceChoice iface;
    int count = 0;
    int value = 0;
    std::optional<int> truncate;
    std::optional<int> sincosSeconds;
    QString out;
    try {
        options.emplace(args, valued, flags);
        iface = interfaceChoice(*options);
        // The analysis runs on the sin/cos interface unless told otherwise.
        if (command == "sincos" && !iface.protocol && !iface.config)
            iface.protocol = static_cast<int>(*protocolByName("sin_cosine"));
        if (command == "read") {
            if (!options->has("count"))
                throw UsageError{QStringLiteral("read needs --count N")};
            count = static_cast<int>(options->integer("count", 1, 1000000));
        }
        if (command == "eeprom") {
            if (!options->has("value"))
                throw UsageError{QStringLiteral("eeprom needs --value V")};
            value = static_cast<int>(options->integer("value", 0, 255));
        }
        if (command == "capture") {
            if (!options->has("seconds") || !options->has("out"))
                throw UsageError{QStringLiteral("capture needs --seconds S and --out FILE")};
            count = static_cast<int>(options->integer("seconds", 1, 1000000));
            out = options->value("out");
            if (out.isEmpty())
                throw UsageError{QStringLiteral("--out needs a file name")};
        }
        if (command == "sincos" && options->has("seconds"))
            sincosSeconds = static_cast<int>(options->integer("seconds", 1, 1000000));
        if (command == "resolution") {
            if (!options->has("cycles"))
                throw UsageError{QStringLiteral("resolution needs --cycles N")};
            count = static_cast<int>(options->integer("cycles", 0, 1000000));
            if (options->has("truncate"))
                truncate = static_cast<int>(options->integer("truncate", 0, 64));
        }
    } catch (const UsageError& e) {
        return usage(e.message);
    }

    int qargc = 1;
    char* qargv[] = {argv[0], nullptr};
    QCoreApplication app(qargc, qargv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));

    // The simulated box runs in virtual time unless a speed asks for a real
    // one; the real box always gets the steady clock. The clock is set before
    // anything that waits on it exists, and this thread takes part in it.
    if (sim && sim->speed)
        installBenchClock(std::make_shared<SteadyClock>(*sim->speed));
    else if (sim)
        installBenchClock(std::make_shared<VirtualClock>());
    Clock::Member mainThreadOnTheClock(benchClock());

    std::shared_ptr<UsbBackend> backend;
    std::shared_ptr<SimBus> bus;
    std::shared_ptr<SimBox> box;
    if (sim) {
        bus = makeDemoBus(&box);
        applySimSettings(*sim, *box);
        backend = bus;
    } else {
        backend = std::make_shared<LibusbBackend>();
    }

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    // Results go to the store from the operations themselves, as in the window.
    QString storeError;
    ResultsStoreOptions storeOptions = configuredResultsStore(&storeError);
    if (!storeError.isEmpty())
        say(storeError + QStringLiteral("; results are kept on this bench only"));
    ResultsStore store(storeOptions);
    store.setNotice([](const QString& text, const QString& detail) { say(text + QStringLiteral(" (") + detail + ')'); });

    HeadlessBench hb(/*quiet=*/false);
    const bool simulated = sim.has_value();
    hb.run([&store, simulated](Bench& b) {
        b.context().setResultSink([&store, simulated](const TestReport& r) {
            store.record(ResultRow::make(r.command, r.passed, r.figures, r.serial, r.config, simulated));
        });
    });
    hb.view.setShowProgress(isatty(STDERR_FILENO));
    hb.startUp(backend);
    if (!hb.boxPresent()) {
        const std::string& access = hb.state.link.accessError;
        if (access.empty())
            say(QStringLiteral("no Orvik_encoder_box found on the USB bus"));
        return kNoBox;
    }
    std::unique_ptr<SimUnplugTimer> unplug;
    if (sim)
        unplug = startUnplugTimer(*sim, bus, box);

    if (!applyInterface(hb, iface))
        return kFailed;
    if (options->has("serial")) {
        const QString serial = options->value("serial");
        hb.run([&](Bench& b) {
            hb.view.setText(Control::Description, serial);
            b.onEdited(Control::Description, serial);
        });
    }

    Outcome o;
    if (command == "configure")
        o = configure(hb);
    else if (command == "read")
        o = readValues(hb, count);
    else if (command == "eeprom")
        o = eeprom(hb, value);
    else if (command == "resolution")
        o = resolution(hb, count, truncate);
    else if (command == "abs-test")
        o = absTest(hb);
    else if (command == "sincos")
        o = sincos(hb, sincosSeconds);
    else if (command == "capture")
        o = capture(hb, count, out, options->has("decimal"));
    // What the simulated box sent and lost for want of a pending transfer,
    // in packets over the whole run: the figure that shows whether the bench
    // kept up with the stream.
    if (box && (command == "capture" || command == "resolution" || command == "sincos")) {
        const SimBoxState s = box->state();
        o.json["box"] = QJsonObject{{"sent", static_cast<qint64>(s.packetsSent)},
                                    {"dropped", static_cast<qint64>(s.packetsDropped)}};
    }

    if (hb.view.progressShown())
        std::fputc('\n', stderr);
    if (gInterrupted) {
        hb.run([](Bench& b) { b.stopAll(); });
        say(QStringLiteral("interrupted; the box is idle"));
        o.status = kFailed;
    }
    hb.shutdown();
    // In the bench's file before the program ends; a server gets one try.
    if (!store.flush(15000))
        say(QStringLiteral("the result could not be stored in time (%1)").arg(storeOptions.localPath));
    if (json)
        std::fputs(QJsonDocument(o.json).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    else if (!o.summary.isEmpty())
        std::printf("%s\n", o.summary.toLocal8Bit().constData());
    std::fflush(stdout);
    return o.status;
}
