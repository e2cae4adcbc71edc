#pragma once
// Owns the bench's short-lived worker threads (senders, drain reads, readers)
// and joins them: no worker outlives its owner.
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class Clock;
class ClockThread;

// Handle of a started worker; false when none could be started.
struct WorkerHandle {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
};

class WorkerSet {
public:
    WorkerSet();
    ~WorkerSet();
    WorkerSet(const WorkerSet&) = delete;
    WorkerSet& operator=(const WorkerSet&) = delete;

    // Starts `work` on a new thread. Finished threads are reaped here, so
    // the set does not grow with the number of sends.
    WorkerHandle start(std::function<void()> work);

    // True while the worker with this handle has not finished.
    bool isRunning(WorkerHandle h) const;

    // Waits on the bench clock until the worker has finished (or every
    // worker but `atMostRunning`); false when `benchMs` passed first.
    bool waitFor(WorkerHandle h, double benchMs) const;
    bool waitForAll(std::size_t atMostRunning, double benchMs) const;

    // Joins every worker. Starting new workers meanwhile is refused.
    void joinAll();

    std::size_t runningCount() const;

private:
    struct Worker {
        std::uint64_t id = 0;
        std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
        std::unique_ptr<ClockThread> thread;
    };
    void reapLocked();
    std::atomic<std::size_t> running_{0};

    Clock& clock_;
    mutable std::mutex mutex_;
    std::list<std::unique_ptr<Worker>> workers_;
    std::uint64_t nextId_ = 1;
    bool closing_ = false;
};
