#pragma once
// The bench thread: runs the bench's command handlers, timer ticks and fixed
// waits in order, in the place the box protocol gives the user-interface
// thread, so that the window itself never waits. Work is queued to it; its
// seven timers live on it.
#include "bench/timers.h"

#include <QObject>
#include <QThread>
#include <array>
#include <functional>
#include <memory>

class QTimer;

class BenchThread {
public:
    BenchThread();
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
    // Any thread; from another thread the change takes effect a little later.
    void startTimer(int id, int periodMs);
    void killTimer(int id);
    bool timerActive(int id) const;

    // Stops the thread after the queued work; idempotent.
    void stop();

private:
    QThread thread_;
    QObject* home_;  // lives on the thread; owns the timers
    std::array<QTimer*, kTimerCount> timers_{};
    std::function<void(int)> onTick_;
};
