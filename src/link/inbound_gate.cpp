#include "link/inbound_gate.h"

#include "common/bench_clock.h"

std::uint64_t InboundGate::acquire(double benchMs)
{
    std::unique_lock lock(mutex_);
    const std::uint64_t generation = generation_.load();
    const auto deadline = std::chrono::steady_clock::now() + benchclock::toReal(benchMs);
    if (!freed_.wait_until(lock, deadline, [&] { return !owned_ || cancelled(generation); }))
        return 0;
    if (cancelled(generation))
        return 0;
    owned_ = true;
    return generation;
}

void InboundGate::release()
{
    {
        std::lock_guard lock(mutex_);
        owned_ = false;
    }
    freed_.notify_all();
}

void InboundGate::cancelAll()
{
    {
        std::lock_guard lock(mutex_);
        generation_.fetch_add(1);
    }
    freed_.notify_all();
}

bool InboundGate::owned() const
{
    std::lock_guard lock(mutex_);
    return owned_;
}
