#include "link/worker_set.h"

#include "common/clock.h"

#include <vector>

WorkerSet::WorkerSet() : clock_(benchClock()) {}

WorkerHandle WorkerSet::start(std::function<void()> work)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return {};
    reapLocked();
    auto w = std::make_unique<Worker>();
    w->id = nextId_++;
    Worker* raw = w.get();
    try {
        running_.fetch_add(1);
        w->thread = std::make_unique<ClockThread>(clock_, [this, finished = w->finished, work = std::move(work)]() mutable {
            work();
            // What the work holds (an IN session, a buffer) goes while the
            // thread is still on the clock: once it has left, time may move
            // on while a session it kept still holds the endpoint.
            work = nullptr;
            finished->store(true);
            running_.fetch_sub(1);
        });
    } catch (const std::system_error&) {
        running_.fetch_sub(1);
        return {};
    }
    workers_.push_back(std::move(w));
    return WorkerHandle{raw->id};
}

bool WorkerSet::isRunning(WorkerHandle h) const
{
    std::lock_guard lock(mutex_);
    for (const auto& w : workers_)
        if (w->id == h.id)
            return !w->finished->load();
    return false;
}

bool WorkerSet::waitFor(WorkerHandle h, double benchMs) const
{
    std::shared_ptr<std::atomic<bool>> finished;
    {
        std::lock_guard lock(mutex_);
        for (const auto& w : workers_)
            if (w->id == h.id)
                finished = w->finished;
    }
    if (!finished)
        return true;
    // `finished` is set before the thread's last clock update, so the wait
    // sees it at that update at the latest.
    return clock_.waitFor(benchMs, [&] { return finished->load(); });
}

bool WorkerSet::waitForAll(std::size_t atMostRunning, double benchMs) const
{
    return clock_.waitFor(benchMs, [&] { return running_.load() <= atMostRunning; });
}

void WorkerSet::reapLocked()
{
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished->load()) {
            (*it)->thread->join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void WorkerSet::joinAll()
{
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        all.swap(workers_);
    }
    for (auto& w : all)
        w->thread->join();
    std::lock_guard lock(mutex_);
    closing_ = false;
}

std::size_t WorkerSet::runningCount() const
{
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& w : workers_)
        n += w->finished->load() ? 0 : 1;
    return n;
}

WorkerSet::~WorkerSet()
{
    joinAll();
}
