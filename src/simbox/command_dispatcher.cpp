#include "simbox/command_dispatcher.h"

void CommandDispatcher::on(std::uint8_t code, Handler handler)
{
    handlers_[code].push_back(std::move(handler));
}

void CommandDispatcher::watch(Handler watcher)
{
    watchers_.push_back(std::move(watcher));
}

void CommandDispatcher::dispatch(const Packet& packet, std::int64_t now) const
{
    for (const Handler& w : watchers_)
        w(packet, now);
    if (packet.size() != kCommandSize)
        return;
    for (const Handler& h : handlers_[packet[0]])
        h(packet, now);
}

std::vector<std::uint8_t> CommandDispatcher::codes() const
{
    std::vector<std::uint8_t> out;
    for (std::size_t c = 0; c < handlers_.size(); ++c)
        if (!handlers_[c].empty())
            out.push_back(static_cast<std::uint8_t>(c));
    return out;
}
