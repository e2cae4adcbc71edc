#pragma once
// The bench's operations, each declared in one place: the window commands it
// answers, its timers, the busy modes only it knows, and its part in
// stop-all and in the box's return. The bench dispatches through this table;
// the guards ask it for the modes; the tool and the tests find an operation's
// outcome under the same Operation id.
#include "bench/commands.h"
#include "bench/guards.h"
#include "bench/outcome.h"
#include "bench/timers.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

struct OperationDecl {
    const char* name = "";              // for the log
    std::optional<Operation> outcome;   // the outcome it ends with, if any
    std::vector<Command> commands;
    std::function<void(Command)> onCommand;

    struct Timer {
        int id;
        std::function<bool()> running;  // the owning operation still runs
        std::function<void()> tick;
    };
    std::vector<Timer> timers;

    // Modes that live in the operation, not in the command flags.
    std::vector<std::pair<Busy, std::function<bool()>>> busy;

    // Stop-all, in three stages: before every flag drops (ends sequences
    // that would raise them again), after the drop but before pending reads
    // are cancelled (closes files so no worker starts another transfer),
    // and after the cancel.
    std::function<void()> stopBeforeFlags;
    std::function<void()> stopBeforeReads;
    std::function<void()> stopAfterReads;
    // The box came back on the bus (a replug).
    std::function<void()> onBoxArrival;
    // The box is gone from the bus; the stop-all of the removal follows.
    std::function<void()> onBoxRemoval;
};

class OperationRegistry {
public:
    void add(OperationDecl decl);

    // Runs the command's operation; false when none answers it.
    bool dispatch(Command command) const;
    // Runs timer `id`'s tick; false when its operation has ended (the caller
    // stops the timer).
    bool tick(int id) const;
    // The mode's probe, when an operation declared one.
    const std::function<bool()>* busyProbe(Busy b) const;

    void stopBeforeFlags() const;
    void stopBeforeReads() const;
    void stopAfterReads() const;
    void boxArrived() const;
    void boxRemoved() const;

    const std::vector<OperationDecl>& operations() const { return decls_; }
    // The operation that answers `command`; null when none.
    const OperationDecl* byCommand(Command command) const;

private:
    std::vector<OperationDecl> decls_;
    TimerTable timers_;
};
