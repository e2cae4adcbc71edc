#include "headless/tool_commands.h"

#include "headless/box_runs.h"
#include "interface/protocol_table.h"

namespace {

int requiredInteger(const Options& o, const QString& name, long long min, long long max, const QString& usage)
{
    if (!o.has(name))
        throw UsageError{usage};
    return static_cast<int>(o.integer(name, min, max));
}

std::vector<BoxCommand> makeCommands()
{
    std::vector<BoxCommand> c;
    c.push_back({"configure", "  configure                         configuration only\n", {}, {},
                 [](const Options&, InterfaceChoice&) -> ToolRun {
                     return [](HeadlessBench& hb, const ToolContext&) { return runConfigure(hb); };
                 }});
    c.push_back({"read",
                 "  read --count N [--csv]            the next N new values; with --csv as ms since\n"
                 "                                    the start, raw value, each field, angle\n",
                 {"count"}, {"csv"},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     const int n = requiredInteger(o, "count", 1, 1000000, QStringLiteral("read needs --count N"));
                     const bool csv = o.has("csv");
                     return [n, csv](HeadlessBench& hb, const ToolContext&) { return runRead(hb, n, csv); };
                 }});
    c.push_back({"eeprom", "  eeprom --value V                  write V (0..255) to the encoder and verify it\n",
                 {"value"}, {},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     const int v = requiredInteger(o, "value", 0, 255, QStringLiteral("eeprom needs --value V"));
                     return [v](HeadlessBench& hb, const ToolContext&) { return runEeprom(hb, v); };
                 }});
    c.push_back({"resolution", "  resolution --cycles N [--truncate T]\n", {"cycles", "truncate"}, {},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     const int n = requiredInteger(o, "cycles", 0, 1000000, QStringLiteral("resolution needs --cycles N"));
                     std::optional<int> t;
                     if (o.has("truncate"))
                         t = static_cast<int>(o.integer("truncate", 0, 64));
                     return [n, t](HeadlessBench& hb, const ToolContext&) { return runResolution(hb, n, t); };
                 },
                 true});
    c.push_back({"abs-test", "  abs-test                          the absolute accuracy test\n", {}, {},
                 [](const Options&, InterfaceChoice&) -> ToolRun {
                     return [](HeadlessBench& hb, const ToolContext&) { return runAbsTest(hb); };
                 }});
    c.push_back({"capture", "  capture --seconds S --out FILE [--decimal]\n", {"seconds", "out"}, {"decimal"},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     if (!o.has("seconds") || !o.has("out"))
                         throw UsageError{QStringLiteral("capture needs --seconds S and --out FILE")};
                     CaptureStart start;
                     start.seconds = static_cast<int>(o.integer("seconds", 1, 1000000));
                     start.destination = o.value("out");
                     start.decimal = o.has("decimal");
                     if (start.destination.isEmpty())
                         throw UsageError{QStringLiteral("--out needs a file name")};
                     return [start](HeadlessBench& hb, const ToolContext&) { return runCapture(hb, start); };
                 },
                 true});
    c.push_back({"sincos",
                 "  sincos [--seconds S]              one armed sin/cos analysis; with --seconds it\n"
                 "                                    runs S seconds, armed again after each fit,\n"
                 "                                    and gives the last fit\n",
                 {"seconds"}, {},
                 [](const Options& o, InterfaceChoice& iface) -> ToolRun {
                     // The analysis runs on the sin/cos interface unless told otherwise.
                     if (!iface.protocol && !iface.config)
                         iface.protocol = static_cast<int>(*protocolByName("sin_cosine"));
                     std::optional<int> s;
                     if (o.has("seconds"))
                         s = static_cast<int>(o.integer("seconds", 1, 1000000));
                     return [s](HeadlessBench& hb, const ToolContext&) { return runSinCos(hb, s); };
                 },
                 true});
    c.push_back({"force",
                 "  force [--seconds S] [--name N]    one attempt of the force contest, S seconds\n"
                 "                                    (default 3): each force value as it comes\n"
                 "                                    (JSON lines with --json), then the peak\n",
                 {"seconds", "name"}, {},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     ForceRun run;
                     if (o.has("seconds"))
                         run.seconds = o.number("seconds", 0.1, 3600);
                     run.name = o.value("name").trimmed();
                     return [run](HeadlessBench& hb, const ToolContext& t) { return runForce(hb, run, t.json); };
                 }});
    c.push_back({"calibrate",
                 "  calibrate --access-code CODE --steps S1,S2,...\n"
                 "                                    the calibration steps in order, each step's\n"
                 "                                    indicator as its result; steps: start,\n"
                 "                                    coarse-eccentricity, fine-adc, coarse-adc,\n"
                 "                                    fine-radius, zero-1, info-1 (encoder 1);\n"
                 "                                    wake, air, zero-2, b1b2, info-2 (encoder 2)\n",
                 {"access-code", "steps"}, {},
                 [](const Options& o, InterfaceChoice&) -> ToolRun {
                     if (!o.has("access-code") || !o.has("steps"))
                         throw UsageError{QStringLiteral("calibrate needs --access-code CODE and --steps S1,S2,...")};
                     CalibrationRun run;
                     run.accessCode = o.value("access-code");
                     const QStringList known = calibrationStepNames();
                     for (const QString& s : o.value("steps").split(',', Qt::SkipEmptyParts)) {
                         if (!known.contains(s.trimmed()))
                             throw UsageError{QStringLiteral("--steps: unknown step '%1' (one of: %2)")
                                                  .arg(s.trimmed(), known.join(", "))};
                         run.steps << s.trimmed();
                     }
                     if (run.steps.isEmpty())
                         throw UsageError{QStringLiteral("--steps names no step")};
                     return [run](HeadlessBench& hb, const ToolContext&) { return runCalibration(hb, run); };
                 }});
    return c;
}

}  // namespace

const std::vector<BoxCommand>& boxCommands()
{
    static const std::vector<BoxCommand> commands = makeCommands();
    return commands;
}

const BoxCommand* findBoxCommand(const QString& name)
{
    for (const BoxCommand& c : boxCommands())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

QString toolHelp()
{
    QString h = QStringLiteral(
        "Usage: quillmark-tool [--simulate[=KEY=VALUE,...]] [--json] COMMAND [OPTIONS]\n"
        "\n"
        "Box commands (each first sends the configuration as \"Clicking setting\" does):\n");
    for (const BoxCommand& c : boxCommands())
        h += QLatin1String(c.help);
    h += QStringLiteral(
        "  Each box command takes --serial S, the encoder's serial (the window's\n"
        "  \"Description:\"), and keeps its result in the results store; with\n"
        "  --plan FILE (a NAME.plan.json) the result also gets the plan's verdict.\n"
        "\n"
        "Results (this bench's results.sqlite, or the server QUILLMARK_RESULTS names):\n"
        "  results [--since WHEN] [--serial S] [--verdict pass|fail] [--station HOST] [--csv|--json]\n"
        "                                    WHEN: 2026-12-09, 2026-12-09T14:30 (UTC) or an age: 90m, 12h, 7d\n"
        "  test-report --serial S [--since WHEN] [--html FILE] [--pdf FILE]\n"
        "                                    one encoder's report: interface, tests, limits,\n"
        "                                    both verdicts and the plots\n"
        "\n"
        "Interface options: --protocol NAME, --widths a,b,..., --labels x,y,...,\n"
        "  --turn single|multi, --code binary|gray, --crc inverted|notinverted,\n"
        "  --frequency TEXT (9.6MHZ, 4.8MHZ, 2.4MHZ, 1.2MHZ), --gauge-field N;\n"
        "  or --config FILE.cfg.\n"
        "--simulate keys: speed=F rpm=R bits=S turn-bits=T status-bits=K jump=A:D\n"
        "  crc-errors=N eeprom=store|ignore|short sincos=CO:SO:CA:SA:PH ack-status=N\n"
        "  unplug-after=S calibration=1|2 no-ack silent\n"
        "Exit status: 0 pass, 1 the test failed or the box misbehaved, 2 bad command\n"
        "line, 3 no box.\n");
    return h;
}
