#include "headless/tool_result.h"

#include <cstdio>

std::atomic<bool> gInterrupted{false};

namespace {
std::atomic<bool> gQuiet{false};
}

void setToolQuiet(bool quiet)
{
    gQuiet = quiet;
}

void say(const QString& message)
{
    if (gQuiet)
        return;
    std::fprintf(stderr, "quillmark-tool: %s\n", message.toLocal8Bit().constData());
}

int statusOf(const std::optional<Outcome>& outcome, const QString& what)
{
    if (!outcome) {
        if (!gInterrupted)
            say(QStringLiteral("%1 did not end in time").arg(what));
        return kFailed;
    }
    switch (outcome->ending) {
    case Ending::Verdict:
        return outcome->passed ? kPass : kFailed;
    case Ending::Refused:
        // A refusal with a message has shown it already.
        if (outcome->message.isEmpty())
            say(QStringLiteral("%1 did not start (the bench is busy or the box not ready)").arg(what));
        return kFailed;
    case Ending::Stopped:
        if (!gInterrupted)
            say(QStringLiteral("%1 was stopped before its end (the box removed or silent)").arg(what));
        return kFailed;
    case Ending::BoxFault:
        say(QStringLiteral("%1: %2").arg(what, outcome->message));
        return kFailed;
    }
    return kFailed;
}
