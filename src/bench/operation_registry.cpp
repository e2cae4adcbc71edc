#include "bench/operation_registry.h"

#include "common/logging.h"

void OperationRegistry::add(OperationDecl decl)
{
    for (const OperationDecl::Timer& t : decl.timers)
        timers_.own(t.id, {t.running, t.tick});
    decls_.push_back(std::move(decl));
}

const OperationDecl* OperationRegistry::byCommand(Command command) const
{
    for (const OperationDecl& d : decls_)
        for (Command c : d.commands)
            if (c == command)
                return &d;
    return nullptr;
}

bool OperationRegistry::dispatch(Command command) const
{
    const OperationDecl* d = byCommand(command);
    if (!d || !d->onCommand)
        return false;
    d->onCommand(command);
    return true;
}

bool OperationRegistry::tick(int id) const
{
    return timers_.dispatch(id);
}

const std::function<bool()>* OperationRegistry::busyProbe(Busy b) const
{
    for (const OperationDecl& d : decls_)
        for (const auto& [mode, probe] : d.busy)
            if (mode == b)
                return &probe;
    return nullptr;
}

namespace {

template <typename Member>
void each(const std::vector<OperationDecl>& decls, Member m)
{
    for (const OperationDecl& d : decls)
        if (d.*m)
            (d.*m)();
}

}  // namespace

void OperationRegistry::stopBeforeFlags() const
{
    each(decls_, &OperationDecl::stopBeforeFlags);
}

void OperationRegistry::stopBeforeReads() const
{
    each(decls_, &OperationDecl::stopBeforeReads);
}

void OperationRegistry::stopAfterReads() const
{
    each(decls_, &OperationDecl::stopAfterReads);
}

void OperationRegistry::boxArrived() const
{
    each(decls_, &OperationDecl::onBoxArrival);
}

void OperationRegistry::boxRemoved() const
{
    each(decls_, &OperationDecl::onBoxRemoval);
}
