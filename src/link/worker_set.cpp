#include "link/worker_set.h"

#include <vector>

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
        w->thread = std::thread([raw, work = std::move(work)] {
            work();
            raw->finished.store(true);
        });
    } catch (const std::system_error&) {
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
            return !w->finished.load();
    return false;
}

void WorkerSet::reapLocked()
{
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished.load()) {
            (*it)->thread.join();
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
        if (w->thread.joinable())
            w->thread.join();
    std::lock_guard lock(mutex_);
    closing_ = false;
}

std::size_t WorkerSet::runningCount() const
{
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& w : workers_)
        n += w->finished.load() ? 0 : 1;
    return n;
}
