#include "link/completion_event.h"

#include "common/bench_clock.h"

void CompletionEvent::set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
}

bool CompletionEvent::wait(double benchMs)
{
    std::unique_lock lock(mutex_);
    if (benchMs < 0) {
        cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_for(lock, benchclock::toReal(benchMs), [this] { return signalled_; })) {
        return false;
    }
    signalled_ = false;
    return true;
}
