#include "common/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// ------------------------------------------------------------------ helpers

std::int64_t Clock::deadlineAfter(double ms) const
{
    if (ms < 0 || !std::isfinite(ms))
        return kNever;
    const double micros = std::ceil(ms * 1000.0);
    const std::int64_t now = nowMicros();
    if (micros >= static_cast<double>(kNever - now))
        return kNever;
    return now + static_cast<std::int64_t>(micros);
}

void Clock::sleepFor(double ms)
{
    if (ms <= 0)
        return;
    waitUntil(deadlineAfter(ms), [] { return false; });
}

bool Clock::waitFor(double ms, const std::function<bool()>& ready)
{
    return waitUntil(deadlineAfter(ms), ready);
}

void Clock::sleepUntil(std::int64_t deadlineMicros)
{
    waitUntil(deadlineMicros, [] { return false; });
}

// ------------------------------------------------------------- steady clock

struct SteadyClock::Impl {
    using Steady = std::chrono::steady_clock;
    // Bench time is `bench` at the real instant `real`, and runs `speed`
    // times faster from there. A speed change starts a new rate at the
    // instant it takes effect; readers take the current one without a lock,
    // so the old ones live as long as the clock.
    struct Rate {
        Steady::time_point real;
        double bench = 0;  // microseconds
        double speed = 1.0;
    };
    std::atomic<const Rate*> rate{nullptr};
    std::vector<std::unique_ptr<Rate>> rates;  // under mutex
    std::uint64_t rateChanges = 0;             // under mutex
    std::mutex mutex;
    std::condition_variable changed;

    static double validSpeed(double speed) { return speed > 0 && std::isfinite(speed) ? speed : 1.0; }

    void startRate(Steady::time_point real, double bench, double speed)
    {
        rates.push_back(std::make_unique<Rate>(Rate{real, bench, speed}));
        rate.store(rates.back().get(), std::memory_order_release);
    }

    static double benchAt(const Rate& r, Steady::time_point real)
    {
        return r.bench + std::chrono::duration<double, std::micro>(real - r.real).count() * r.speed;
    }

    static Steady::time_point realAt(const Rate& r, std::int64_t benchMicros)
    {
        const double realMicros = (static_cast<double>(benchMicros) - r.bench) / r.speed;
        return r.real + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double, std::micro>(realMicros));
    }
};

SteadyClock::SteadyClock(double speed) : d_(std::make_unique<Impl>())
{
    d_->startRate(Impl::Steady::now(), 0, Impl::validSpeed(speed));
}

SteadyClock::~SteadyClock() = default;

double SteadyClock::speed() const
{
    return d_->rate.load(std::memory_order_acquire)->speed;
}

void SteadyClock::setSpeed(double speed)
{
    {
        std::lock_guard lock(d_->mutex);
        const auto now = Impl::Steady::now();
        const Impl::Rate& old = *d_->rate.load(std::memory_order_acquire);
        d_->startRate(now, Impl::benchAt(old, now), Impl::validSpeed(speed));
        ++d_->rateChanges;
    }
    // Every waiter with a deadline works out its real instant again.
    d_->changed.notify_all();
}

std::int64_t SteadyClock::nowMicros() const
{
    const Impl::Rate& r = *d_->rate.load(std::memory_order_acquire);
    return static_cast<std::int64_t>(Impl::benchAt(r, Impl::Steady::now()));
}

bool SteadyClock::waitUntil(std::int64_t deadlineMicros, const std::function<bool()>& ready)
{
    std::unique_lock lock(d_->mutex);
    // A day of bench time is "no limit" as far as a wait is concerned.
    constexpr std::int64_t kFarMicros = 86'400'000'000LL;
    if (deadlineMicros == kNever || deadlineMicros - nowMicros() > kFarMicros) {
        d_->changed.wait(lock, ready);
        return true;
    }
    for (;;) {
        const std::uint64_t changes = d_->rateChanges;
        const auto real = Impl::realAt(*d_->rate.load(std::memory_order_acquire), deadlineMicros);
        bool got = false;
        const bool woke = d_->changed.wait_until(lock, real, [&] {
            got = ready();
            return got || d_->rateChanges != changes;
        });
        if (!woke)
            return false;
        if (got)
            return true;
    }
}

void SteadyClock::update(const std::function<void()>& change)
{
    {
        std::lock_guard lock(d_->mutex);
        change();
    }
    d_->changed.notify_all();
}

// ------------------------------------------------------------ virtual clock

namespace {

std::atomic<std::uint64_t> g_nextClockId{1};

// The calling thread's membership: of which virtual clock, how many joins deep.
thread_local std::uint64_t tl_clock = 0;
thread_local int tl_depth = 0;

}  // namespace

struct VirtualClock::Impl {
    struct Waiter {
        std::int64_t deadline = kNever;
        const std::function<bool()>* ready = nullptr;
        bool member = false;
        bool woken = false;
        bool result = false;
        std::condition_variable cv;
    };

    const std::uint64_t id = g_nextClockId.fetch_add(1);
    mutable std::mutex mutex;
    std::int64_t now = 0;
    int running = 0;
    std::uint64_t advances = 0;
    std::vector<Waiter*> waiters;  // in the order they began to wait

    bool callerIsMember() const { return tl_clock == id && tl_depth > 0; }

    void wakeLocked(Waiter* w, bool result)
    {
        w->woken = true;
        w->result = result;
        if (w->member)
            ++running;
        std::erase(waiters, w);
        w->cv.notify_one();
    }

    // Lets every waiter whose predicate holds go, oldest first.
    void scanLocked()
    {
        const std::vector<Waiter*> all = waiters;
        for (Waiter* w : all)
            if (!w->woken && (*w->ready)())
                wakeLocked(w, true);
    }

    // Once no member runs, time jumps to the earliest deadline and the
    // waiters due then go (a predicate that holds by then wins over the
    // deadline). Waiters without a deadline wait for an update.
    void advanceLocked()
    {
        while (running == 0 && !waiters.empty()) {
            std::int64_t next = kNever;
            for (const Waiter* w : waiters)
                next = std::min(next, w->deadline);
            if (next == kNever)
                return;
            if (next > now) {
                now = next;
                ++advances;
            }
            const std::vector<Waiter*> all = waiters;
            for (Waiter* w : all)
                if (!w->woken && w->deadline <= now)
                    wakeLocked(w, (*w->ready)());
        }
    }
};

VirtualClock::VirtualClock() : d_(std::make_unique<Impl>()) {}

VirtualClock::~VirtualClock() = default;

std::int64_t VirtualClock::nowMicros() const
{
    std::lock_guard lock(d_->mutex);
    return d_->now;
}

bool VirtualClock::waitUntil(std::int64_t deadlineMicros, const std::function<bool()>& ready)
{
    std::unique_lock lock(d_->mutex);
    if (ready())
        return true;
    if (deadlineMicros <= d_->now)
        return false;
    Impl::Waiter w;
    w.deadline = deadlineMicros;
    w.ready = &ready;
    w.member = d_->callerIsMember();
    d_->waiters.push_back(&w);
    if (w.member)
        --d_->running;
    // Also for a non-member: with every member waiting (or Away), nobody else
    // would move time to this deadline.
    d_->advanceLocked();
    w.cv.wait(lock, [&] { return w.woken; });
    return w.result;
}

void VirtualClock::update(const std::function<void()>& change)
{
    std::lock_guard lock(d_->mutex);
    change();
    d_->scanLocked();
}

void VirtualClock::join()
{
    std::lock_guard lock(d_->mutex);
    if (tl_clock != d_->id) {
        tl_clock = d_->id;
        tl_depth = 0;
    }
    if (tl_depth++ == 0)
        ++d_->running;
}

void VirtualClock::leave()
{
    std::lock_guard lock(d_->mutex);
    if (!d_->callerIsMember())
        return;
    if (--tl_depth == 0) {
        --d_->running;
        d_->advanceLocked();
    }
}

void VirtualClock::enlist()
{
    std::lock_guard lock(d_->mutex);
    ++d_->running;
}

void VirtualClock::adopt()
{
    std::lock_guard lock(d_->mutex);
    tl_clock = d_->id;
    tl_depth = 1;  // enlist() counted this thread already
}

int VirtualClock::running() const
{
    std::lock_guard lock(d_->mutex);
    return d_->running;
}

std::uint64_t VirtualClock::advances() const
{
    std::lock_guard lock(d_->mutex);
    return d_->advances;
}

// ------------------------------------------------------ the bench's clock

namespace {

std::mutex g_installMutex;
// Clocks that were replaced stay alive: a thread of an earlier test may still
// be on its way out of a wait.
std::vector<std::shared_ptr<Clock>> g_retired;
std::shared_ptr<Clock> g_clock;
std::atomic<Clock*> g_current{nullptr};

}  // namespace

std::shared_ptr<Clock> benchClockPtr()
{
    std::lock_guard lock(g_installMutex);
    if (!g_clock) {
        g_clock = std::make_shared<SteadyClock>();
        g_current.store(g_clock.get());
    }
    return g_clock;
}

Clock& benchClock()
{
    if (Clock* c = g_current.load(std::memory_order_acquire))
        return *c;
    return *benchClockPtr();
}

void installBenchClock(std::shared_ptr<Clock> clock)
{
    std::lock_guard lock(g_installMutex);
    if (g_clock)
        g_retired.push_back(g_clock);
    g_clock = clock ? std::move(clock) : std::make_shared<SteadyClock>();
    g_current.store(g_clock.get(), std::memory_order_release);
}

void benchSleep(double ms)
{
    benchClock().sleepFor(ms);
}

// ------------------------------------------------------------ clock thread

ClockThread::ClockThread(Clock& clock, std::function<void()> body)
    : clock_(&clock), finished_(std::make_shared<bool>(false))
{
    clock.enlist();
    thread_ = std::thread([&clock, finished = finished_, body = std::move(body)] {
        clock.adopt();
        body();
        clock.update([&] { *finished = true; });
        clock.leave();
    });
}

ClockThread::~ClockThread()
{
    join();
}

bool ClockThread::finished() const
{
    if (!finished_)
        return true;
    bool done = false;
    clock_->update([&] { done = *finished_; });
    return done;
}

void ClockThread::join()
{
    if (!thread_.joinable())
        return;
    if (std::this_thread::get_id() == thread_.get_id()) {
        thread_.detach();  // a thread cannot join itself; it is on its way out
        return;
    }
    const std::shared_ptr<bool> finished = finished_;
    clock_->waitUntil(Clock::kNever, [&] { return *finished; });
    thread_.join();
}
