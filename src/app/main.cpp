// quillmark            the workbench on the box on the USB bus (libusb)
// quillmark --simulate the workbench on the simulated box
#include "app/quillmark_app.h"
#include "link/libusb_backend.h"
#include "common/clock.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_box.h"
#include "simbox/sim_options.h"
#include "simbox/unplug_timer.h"

#include "interface/protocol_table.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

namespace {

// Without an application object the parser does not know the program's name.
QString helpText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("quillmark"));
    return text;
}

QStringList argumentList(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// The simulated encoder's own interface: BISS [turns][position][status],
// the gauge on the position field.
StartInterface simulatedEncoderInterface(const EncoderModel& e)
{
    StartInterface s;
    s.protocol = static_cast<int>(*protocolByName("BISS"));
    if (e.turnBits() > 0)
        s.widths << e.turnBits();
    s.widths << e.singleTurnBits() << e.statusBits();
    s.gaugeField = e.turnBits() > 0 ? 2 : 1;
    return s;
}

// "--simulate=KEY=VALUE,..." sets up the simulated box (the same keys as
// quillmark-tool's); the parser only knows the plain flag, so the value is
// taken off here.
QString takeSimulateValue(QStringList& args)
{
    QString value;
    for (QString& a : args) {
        if (a.startsWith(QStringLiteral("--simulate="))) {
            value = a.mid(11);
            a = QStringLiteral("--simulate");
        }
    }
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    // Options are parsed before the application object exists, so that
    // --help and --version work without a display.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Workbench for rotary position encoders on the Orvik_encoder_box USB adapter."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringList{"v", "version"},
                                           QStringLiteral("Print the program version."));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"), QStringLiteral("Work on the simulated box instead of the USB bus; --simulate=KEY=VALUE,... sets it up (the keys of quillmark-tool: speed, rpm, bits, turn-bits, status-bits, jump, crc-errors, eeprom, sincos, ack-status, no-ack, unplug-after, calibration, silent)."));
    parser.addOption(versionOption);
    parser.addOption(simulateOption);

    // Qt's own options (-platform, ...) are not known yet: look only for
    // ours here and check the rest once the application has taken its own.
    QStringList args = argumentList(argc, argv);
    const QString simulateValue = takeSimulateValue(args);
    SimOptionsParse simulation = parseSimOptions(simulateValue.toStdString());
    if (!simulation.ok()) {
        std::fprintf(stderr, "quillmark: --simulate: %s\n", simulation.error.c_str());
        return 2;
    }
    parser.parse(args);
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        std::printf("%s", qPrintable(helpText(parser)));
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("Version 2.3\n");
        return 0;
    }

    CQuillmarkApp app(argc, argv);
    QStringList appArgs = app.arguments();
    takeSimulateValue(appArgs);
    if (!parser.parse(appArgs)) {
        std::fprintf(stderr, "quillmark: %s\n%s", qPrintable(parser.errorText()), qPrintable(helpText(parser)));
        return 2;
    }
    std::shared_ptr<UsbBackend> backend;
    std::unique_ptr<SimUnplugTimer> unplug;
    std::optional<StartInterface> firstRun;
    if (parser.isSet(simulateOption)) {
        // The window's simulated box runs in real time, or `speed` times faster.
        const SimSettings& sim = simulation.settings;
        if (sim.speed)
            installBenchClock(std::make_shared<SteadyClock>(*sim.speed));
        std::shared_ptr<SimBox> box;
        auto bus = makeDemoBus(&box);
        applySimSettings(sim, *box);
        unplug = startUnplugTimer(sim, bus, box);
        backend = bus;
        firstRun = simulatedEncoderInterface(box->encoder());
    } else {
        backend = std::make_shared<LibusbBackend>();
    }
    return app.run(std::move(backend), parser.isSet(simulateOption), std::move(firstRun));
}
