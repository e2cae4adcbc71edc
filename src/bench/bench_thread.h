#pragma once
// The bench thread: runs the bench's command handlers, timer ticks and fixed
// waits in order, in the place the box protocol gives the user-interface
// thread, so that the window itself never waits. Work is queued to it; its
// seven timers are scheduled on the bench clock, so in virtual time a tick
// comes exactly one period after the last.
#include "bench/timers.h"
#include "common/clock.h"

#include <array>
#include <deque>
#include <functional>
#include <memory>

class BenchThread {
public:
    explicit BenchThread(Clock& clock = benchClock());
    ~BenchThread();
    BenchThread(const BenchThread&) = delete;
    BenchThread& operator=(const BenchThread&) = delete;

    // Queues `work`; it runs after everything queued before it.
    void post(std::function<void()> work);
    // Queues `work` and waits until it has run. Never call it from a thread
    // the work itself waits for.
    void runAndWait(const std::function<void()>& work);
    bool isCurrent() const;

    // Ticks of timer `id` call `onTick(id)` on the bench thread.
    void setTickHandler(std::function<void(int)> onTick);
    // Any thread. A timer's first tick comes one period after the start; a
    // tick that overran its period is followed by the next one period after
    // it ended, as a window timer does.
    void startTimer(int id, int periodMs);
    void killTimer(int id);
    bool timerActive(int id) const;

    // Stops the thread after the queued work; idempotent.
    void stop();

private:
    struct Timer {
        bool active = false;
        std::int64_t periodMicros = 0;
        std::int64_t dueMicros = 0;
    };
    void run();
    // Written inside clock updates.
    std::int64_t nextDueLocked() const;

    Clock& clock_;
    std::deque<std::function<void()>> queue_;
    std::array<Timer, kTimerCount> timers_{};
    bool quit_ = false;
    bool rescheduled_ = false;
    std::function<void(int)> onTick_;
    std::unique_ptr<ClockThread> thread_;  // last
};
