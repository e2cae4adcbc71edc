#pragma once
// The box commands of quillmark-tool as one table: each names its options,
// its help and how it runs. The dispatcher, the help text and the tests all
// read this table.
#include "headless/interface_choice.h"
#include "headless/tool_result.h"

#include <QSet>
#include <QString>
#include <functional>
#include <vector>

class HeadlessBench;

struct ToolContext {
    bool json = false;  // --json: the JSON on stdout, and JSON lines where a command streams
};

using ToolRun = std::function<ToolResult(HeadlessBench&, const ToolContext&)>;

struct BoxCommand {
    const char* name;
    const char* help;                  // its lines of the usage text, options included
    QSet<QString> valued;              // options with a value, beyond the interface's and --serial
    QSet<QString> flags;               // bare options
    // Checks the options (throws UsageError) and may set the interface the
    // command needs; returns the run.
    std::function<ToolRun(const Options&, InterfaceChoice&)> prepare;
    bool boxCounters = false;          // reports the simulated box's packets sent and dropped
};

const std::vector<BoxCommand>& boxCommands();
const BoxCommand* findBoxCommand(const QString& name);
// The whole usage text.
QString toolHelp();
