#pragma once
// Where outcomes are posted. Each operation's outcomes are numbered; whoever
// started an operation notes the count first, then waits (on the bench
// clock) for the next one. Listeners hear every outcome on the thread that
// posts it. Any thread.
#include "bench/outcome.h"

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class OutcomeBoard {
public:
    using Listener = std::function<void(const Outcome&)>;

    void post(const Outcome& outcome);
    // Outcomes of `op` posted so far.
    std::uint64_t count(Operation op) const;
    // The outcome numbered `after` + 1 of `op` once it is posted, waiting at
    // most `benchMs` or until `cancel` is raised (looked at every 5 bench ms).
    std::optional<Outcome> waitNext(Operation op, std::uint64_t after, double benchMs,
                                    const std::atomic<bool>* cancel = nullptr) const;
    std::optional<Outcome> last(Operation op) const;
    // Every outcome posted, in order (tests).
    std::vector<Outcome> all() const;
    void addListener(Listener listener);

private:
    mutable std::mutex mutex_;
    std::vector<Outcome> posted_;
    std::array<std::vector<std::size_t>, kOperationCount> byOperation_;
    std::array<std::atomic<std::uint64_t>, kOperationCount> counts_{};
    std::vector<Listener> listeners_;
};
