#include "link/inbound_gate.h"

#include "common/clock.h"

InboundGate::InboundGate() : clock_(benchClock()) {}

std::uint64_t InboundGate::acquire(double benchMs)
{
    const std::uint64_t generation = generation_.load();
    bool gotIt = false;
    clock_.waitFor(benchMs, [&] {
        if (cancelled(generation))
            return true;
        if (owned_)
            return false;
        owned_ = true;
        gotIt = true;
        return true;
    });
    return gotIt ? generation : 0;
}

void InboundGate::release()
{
    clock_.update([this] { owned_ = false; });
}

void InboundGate::cancelAll()
{
    clock_.update([this] { generation_.fetch_add(1); });
}

bool InboundGate::owned() const
{
    bool owned = false;
    clock_.update([&] { owned = owned_; });
    return owned;
}
