#include "common/bench_clock.h"

#include <atomic>
#include <thread>

namespace benchclock {
namespace {

using Clock = std::chrono::steady_clock;

struct Base {
    Clock::time_point realOrigin = Clock::now();
    double benchOriginMicros = 0.0;
};

std::atomic<double> g_speed{1.0};
// Changing the speed re-anchors the base so bench time never jumps backwards.
std::atomic<Base*> g_base{new Base};

}  // namespace

void setSpeed(double factor)
{
    if (factor <= 0.0)
        factor = 1.0;
    if (factor == g_speed.load())
        return;
    auto* next = new Base;
    next->benchOriginMicros = static_cast<double>(nowMicros());
    next->realOrigin = Clock::now();
    g_speed.store(factor);
    // The previous base is kept alive on purpose: readers may still hold it.
    g_base.store(next);
}

double speed()
{
    return g_speed.load();
}

std::int64_t nowMicros()
{
    const Base* b = g_base.load();
    const double realMicros =
        std::chrono::duration<double, std::micro>(Clock::now() - b->realOrigin).count();
    return static_cast<std::int64_t>(b->benchOriginMicros + realMicros * g_speed.load());
}

std::chrono::nanoseconds toReal(double benchMs)
{
    if (benchMs <= 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(benchMs * 1e6 / g_speed.load()));
}

}  // namespace benchclock

void benchSleep(double ms)
{
    std::this_thread::sleep_for(benchclock::toReal(ms));
}
