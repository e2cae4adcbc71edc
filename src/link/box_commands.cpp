#include "link/box_commands.h"

#include "common/bench_clock.h"

WorkerHandle BoxCommands::send()
{
    return requestSend(link_, params_());
}

void BoxCommands::pulse(Flag f, double ms)
{
    link_.flags.raise(f);
    send();
    benchSleep(ms);
    link_.flags.lower(f);
}

WorkerHandle BoxCommands::startMode(Flag mode)
{
    link_.flags.raise(mode);
    return send();
}
