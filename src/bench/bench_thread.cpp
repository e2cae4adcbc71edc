#include "bench/bench_thread.h"

#include <algorithm>

BenchThread::BenchThread(Clock& clock) : clock_(clock)
{
    thread_ = std::make_unique<ClockThread>(clock_, [this] { run(); });
}

BenchThread::~BenchThread()
{
    stop();
}

void BenchThread::stop()
{
    if (!thread_ || !thread_->joinable())
        return;
    clock_.update([this] {
        quit_ = true;
        for (Timer& t : timers_)
            t.active = false;
    });
    thread_->join();
}

bool BenchThread::isCurrent() const
{
    return thread_ && std::this_thread::get_id() == thread_->id();
}

void BenchThread::post(std::function<void()> work)
{
    clock_.update([&] { queue_.push_back(std::move(work)); });
}

void BenchThread::runAndWait(const std::function<void()>& work)
{
    if (isCurrent() || !thread_ || thread_->finished()) {
        work();
        return;
    }
    auto done = std::make_shared<bool>(false);
    post([&work, done, this] {
        work();
        clock_.update([&] { *done = true; });
    });
    clock_.waitUntil(Clock::kNever, [&] { return *done; });
}

void BenchThread::setTickHandler(std::function<void(int)> onTick)
{
    onTick_ = std::move(onTick);
}

void BenchThread::startTimer(int id, int periodMs)
{
    if (id < 0 || id >= kTimerCount)
        return;
    const std::int64_t period = std::max<std::int64_t>(1, periodMs) * 1000;
    const std::int64_t now = clock_.nowMicros();
    clock_.update([&] {
        Timer& t = timers_[static_cast<std::size_t>(id)];
        t.active = true;
        t.periodMicros = period;
        t.dueMicros = now + period;
        rescheduled_ = true;
    });
}

void BenchThread::killTimer(int id)
{
    if (id < 0 || id >= kTimerCount)
        return;
    clock_.update([&] { timers_[static_cast<std::size_t>(id)].active = false; });
}

bool BenchThread::timerActive(int id) const
{
    if (id < 0 || id >= kTimerCount)
        return false;
    bool active = false;
    clock_.update([&] { active = timers_[static_cast<std::size_t>(id)].active; });
    return active;
}

std::int64_t BenchThread::nextDueLocked() const
{
    std::int64_t next = Clock::kNever;
    for (const Timer& t : timers_)
        if (t.active)
            next = std::min(next, t.dueMicros);
    return next;
}

void BenchThread::run()
{
    for (;;) {
        std::function<void()> work;
        int tick = -1;
        bool quit = false;
        // Queued work first; a timer whose time has come ticks when the
        // queue is empty, the lowest id first.
        auto ready = [&] {
            if (!queue_.empty()) {
                work = std::move(queue_.front());
                queue_.pop_front();
                return true;
            }
            if (quit_) {
                quit = true;
                return true;
            }
            // A timer started meanwhile may be due before the one waited for.
            const bool again = rescheduled_;
            rescheduled_ = false;
            return again;
        };
        std::int64_t due = Clock::kNever;
        clock_.update([&] { due = nextDueLocked(); });
        if (!clock_.waitUntil(due, ready)) {
            const std::int64_t now = clock_.nowMicros();
            clock_.update([&] {
                for (int id = 0; id < kTimerCount; ++id) {
                    Timer& t = timers_[static_cast<std::size_t>(id)];
                    if (t.active && t.dueMicros <= now) {
                        tick = id;
                        break;
                    }
                }
            });
        }
        if (quit)
            return;
        if (work) {
            work();
            continue;
        }
        if (tick < 0)
            continue;  // rescheduled, or a timer killed meanwhile
        if (onTick_)
            onTick_(tick);
        const std::int64_t now = clock_.nowMicros();
        clock_.update([&] {
            Timer& t = timers_[static_cast<std::size_t>(tick)];
            if (!t.active)
                return;
            t.dueMicros += t.periodMicros;
            if (t.dueMicros <= now)
                t.dueMicros = now + t.periodMicros;
        });
    }
}
