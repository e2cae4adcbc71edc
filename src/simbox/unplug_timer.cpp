#include "simbox/unplug_timer.h"

#include "common/bench_clock.h"

#include <algorithm>
#include <chrono>

namespace {
// Looks at the bench clock at least this often, so a change of speed is followed.
constexpr auto kSlice = std::chrono::milliseconds(20);
}  // namespace

SimUnplugTimer::SimUnplugTimer(std::weak_ptr<SimBus> bus, std::weak_ptr<SimDevice> device, double benchSeconds)
    : bus_(std::move(bus)),
      device_(std::move(device)),
      due_(benchclock::nowMicros() + static_cast<std::int64_t>(std::max(0.0, benchSeconds) * 1e6))
{
    thread_ = std::thread([this] { run(); });
}

SimUnplugTimer::~SimUnplugTimer()
{
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void SimUnplugTimer::run()
{
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (cancelled_)
                return;
            const std::int64_t left = due_ - benchclock::nowMicros();
            if (left <= 0)
                break;
            const auto wait = std::min<std::chrono::nanoseconds>(
                benchclock::toReal(static_cast<double>(left) / 1000.0), kSlice);
            cv_.wait_for(lock, wait);
        }
    }
    auto bus = bus_.lock();
    auto device = device_.lock();
    if (bus && device && bus->unplug(device))
        fired_.store(true);
}
