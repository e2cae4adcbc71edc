#include "bench/outcome_board.h"

#include "common/clock.h"

void OutcomeBoard::post(const Outcome& outcome)
{
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mutex_);
        byOperation_[static_cast<int>(outcome.operation)].push_back(posted_.size());
        posted_.push_back(outcome);
        listeners = listeners_;
    }
    // Listeners first, so that a waiter woken by the count finds what they
    // did with the outcome (the results sink, the tool's echo) already done.
    for (const Listener& l : listeners)
        l(outcome);
    benchClock().update([&] { ++counts_[static_cast<int>(outcome.operation)]; });
}

std::uint64_t OutcomeBoard::count(Operation op) const
{
    return counts_[static_cast<int>(op)].load();
}

std::optional<Outcome> OutcomeBoard::waitNext(Operation op, std::uint64_t after, double benchMs,
                                              const std::atomic<bool>* cancel) const
{
    Clock& clock = benchClock();
    const std::int64_t end = clock.deadlineAfter(benchMs);
    const auto& counter = counts_[static_cast<int>(op)];
    for (;;) {
        const std::int64_t now = clock.nowMicros();
        if (counter.load() > after || now >= end || (cancel && cancel->load()))
            break;
        // A cancel is an atomic raised by a signal handler, outside the
        // clock's updates: it is looked at every 5 ms.
        clock.waitUntil(std::min(end, now + 5000), [&] { return counter.load() > after; });
    }
    std::lock_guard lock(mutex_);
    const auto& indices = byOperation_[static_cast<int>(op)];
    if (indices.size() <= after)
        return std::nullopt;
    return posted_[indices[after]];
}

std::optional<Outcome> OutcomeBoard::last(Operation op) const
{
    std::lock_guard lock(mutex_);
    const auto& indices = byOperation_[static_cast<int>(op)];
    if (indices.empty())
        return std::nullopt;
    return posted_[indices.back()];
}

std::vector<Outcome> OutcomeBoard::all() const
{
    std::lock_guard lock(mutex_);
    return posted_;
}

void OutcomeBoard::addListener(Listener listener)
{
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(listener));
}
