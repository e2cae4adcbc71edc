#pragma once
// A whole bench without a window: the bench thread runs its handlers and
// timers, the console view stands in for the screen, and the caller (the
// command line's main thread) waits for verdicts in the state and the view.
#include "bench/bench.h"
#include "bench/bench_thread.h"
#include "headless/console_view.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class HeadlessBench {
public:
    explicit HeadlessBench(bool quiet = false);
    ~HeadlessBench();
    HeadlessBench(const HeadlessBench&) = delete;
    HeadlessBench& operator=(const HeadlessBench&) = delete;

    // Opens the box on `backend`; device changes are handled on the bench thread.
    void startUp(std::shared_ptr<UsbBackend> backend);
    // Runs `work` on the bench thread and waits for it.
    void run(const std::function<void(Bench&)>& work);
    // Waits (polling on the bench clock) until `done` holds, `benchMs` pass
    // or `cancel` is raised.
    // True when `done` held.
    bool waitFor(const std::function<bool()>& done, double benchMs, const std::atomic<bool>* cancel = nullptr);
    // Waits until every sender and drain worker has ended (a reader may run).
    void settle();
    // Runs `start` on the bench thread and waits up to `benchMs` (or until
    // `cancel`) for the outcome of `op` it leads to; none when it did not come.
    std::optional<Outcome> conclude(Operation op, const std::function<void(Bench&)>& start, double benchMs,
                                    const std::atomic<bool>* cancel = nullptr);
    // Stop-all, then the box released and every worker joined.
    void shutdown();

    bool boxPresent();

    BenchThread thread;
    BenchState state;
    ConsoleView view;
    Bench bench;
};
