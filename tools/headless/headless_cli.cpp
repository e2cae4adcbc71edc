#include "headless/headless_cli.h"

#include "common/clock.h"
#include "headless/headless_bench.h"
#include "headless/report_command.h"
#include "headless/results_listing.h"
#include "headless/tool_commands.h"
#include "link/libusb_backend.h"
#include "measure/test_plan.h"
#include "results/results_store.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_options.h"
#include "simbox/unplug_timer.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

extern "C" void onInterrupt(int)
{
    gInterrupted = true;
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
    if (findBoxCommand(QString::fromLocal8Bit(a)))
        return true;
    return std::strcmp(a, "results") == 0 || std::strcmp(a, "test-report") == 0;
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
            std::fputs(toolHelp().toLocal8Bit().constData(), stdout);
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

    if (command == "test-report") {
        if (sim)
            return usage(QStringLiteral("--simulate does not apply to test-report"));
        // The report is drawn with fonts, which need a GUI application; it
        // never needs a screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        int qargc = 1;
        char* qargv[] = {argv[0], nullptr};
        QGuiApplication app(qargc, qargv);
        QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));
        return runTestReport(args);
    }

    const BoxCommand* boxCommand = findBoxCommand(command);
    if (!boxCommand)
        return usage(QStringLiteral("unknown command '%1'").arg(command));
    if (args.contains(QStringLiteral("--help"))) {
        std::printf("Usage: quillmark-tool [--simulate[=KEY=VALUE,...]] [--json] %s [OPTIONS]\n%s", boxCommand->name,
                    boxCommand->help);
        std::printf("  with the interface options and --serial S; see 'quillmark-tool --help'\n");
        return kPass;
    }
    QSet<QString> valued = kInterfaceOptions + boxCommand->valued;
    valued << "serial" << "plan";

    std::optional<Options> options;
    InterfaceChoice iface;
    ToolRun toolRun;
    try {
        options.emplace(args, valued, boxCommand->flags);
        iface = interfaceChoice(*options);
        toolRun = boxCommand->prepare(*options, iface);
    } catch (const UsageError& e) {
        return usage(e.message);
    }
    // The plan's limits give every verdict of the run a second one.
    std::shared_ptr<const TestPlan> plan;
    if (options->has("plan")) {
        PlanParse p = readTestPlanFile(options->value("plan"));
        if (!p.plan) {
            say(QStringLiteral("the test plan cannot be read: ") + p.error);
            return kUsage;
        }
        plan = std::make_shared<const TestPlan>(std::move(*p.plan));
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
    hb.run([&store, simulated, plan](Bench& b) {
        b.context().setPlan(plan);
        b.context().setResultSink([&store, simulated](const TestReport& r) {
            store.record(ResultRow::make(r.command, r.passed, r.figures, r.serial, r.config, simulated, r.trace));
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

    ToolResult o = toolRun(hb, ToolContext{json});
    // The plan's verdict on the command's last result, beside the test's own.
    if (plan) {
        const std::vector<Outcome> all = hb.bench.outcomes().all();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            if (operationName(it->operation) != command || it->ending != Ending::Verdict)
                continue;
            if (!it->plan.isEmpty()) {
                o.json["plan"] = it->plan;
                o.summary += QStringLiteral("\nplan: %1").arg(it->plan["verdict"].toString());
                for (const QJsonValue& f : it->plan["failed"].toArray())
                    o.summary += QStringLiteral("\n  ") + f.toString();
            }
            break;
        }
    }
    // What the simulated box sent and lost for want of a pending transfer,
    // in packets over the whole run: the figure that shows whether the bench
    // kept up with the stream.
    if (box && boxCommand->boxCounters) {
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
