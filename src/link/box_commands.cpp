#include "link/box_commands.h"

#include "common/clock.h"

SendTicket BoxCommands::send(const PacketAdjust& adjust)
{
    PacketParams params = params_();
    if (adjust)
        adjust(params);
    return requestSend(link_, params);
}

void BoxCommands::pulse(Flag f, double ms, const PacketAdjust& adjust)
{
    link_.flags.raise(f);
    send(adjust);
    benchSleep(ms);
    link_.flags.lower(f);
}

SendTicket BoxCommands::startMode(Flag mode)
{
    link_.flags.raise(mode);
    return send();
}
