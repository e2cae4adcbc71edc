#include "link/box_commands.h"

#include "common/clock.h"

SendTicket BoxCommands::send()
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

SendTicket BoxCommands::startMode(Flag mode)
{
    link_.flags.raise(mode);
    return send();
}
