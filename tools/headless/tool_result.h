#pragma once
// What a quillmark-tool command ends with: its exit status, its JSON and its
// one-line summary; and the tool's shared signals and stderr voice.
#include "bench/outcome.h"

#include <QJsonObject>
#include <QString>
#include <atomic>
#include <optional>

enum ToolStatus { kPass = 0, kFailed = 1, kUsage = 2, kNoBox = 3 };

struct ToolResult {
    int status = kPass;
    QJsonObject json;
    QString summary;
};

// Raised by SIGINT and SIGTERM: every wait of a command ends.
extern std::atomic<bool> gInterrupted;

// "quillmark-tool: <message>" on stderr, unless a caller that runs the
// commands many times (the fault campaign) has silenced it.
void say(const QString& message);
void setToolQuiet(bool quiet);

// The status of an operation's outcome. Without one (interrupted, or the
// bench never concluded), or when it did not run and showed no message,
// says why on stderr in terms of `what` ("the EEPROM write").
int statusOf(const std::optional<Outcome>& outcome, const QString& what);
