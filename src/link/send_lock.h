#pragma once
// SendLock: a lock of count 1 on the bench clock that keeps the box search
// from replacing the endpoints under a transfer of the sender. Releasing it
// while it is free has no effect.
#include "common/clock.h"

class SendLock {
public:
    SendLock() : clock_(benchClock()) {}

    void acquire()
    {
        clock_.waitUntil(Clock::kNever, [this] {
            if (!free_)
                return false;
            free_ = false;
            return true;
        });
    }

    bool tryAcquire()
    {
        bool got = false;
        clock_.update([&] {
            got = free_;
            free_ = false;
        });
        return got;
    }

    void release()
    {
        clock_.update([this] { free_ = true; });
    }

    bool isFree() const
    {
        bool free = false;
        clock_.update([&] { free = free_; });
        return free;
    }

private:
    Clock& clock_;
    bool free_ = true;  // written inside clock updates
};
