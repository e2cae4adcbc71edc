#pragma once
// SendLock: a semaphore of count 1 that keeps endpoint transfers one at a
// time. Releasing it while it is free has no effect (the continuous reader
// releases it once when it starts, whoever held it).
#include <condition_variable>
#include <mutex>

class SendLock {
public:
    void acquire()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return free_; });
        free_ = false;
    }

    bool tryAcquire()
    {
        std::lock_guard lock(mutex_);
        if (!free_)
            return false;
        free_ = false;
        return true;
    }

    void release()
    {
        {
            std::lock_guard lock(mutex_);
            free_ = true;
        }
        cv_.notify_one();
    }

    bool isFree() const
    {
        std::lock_guard lock(mutex_);
        return free_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool free_ = true;
};
