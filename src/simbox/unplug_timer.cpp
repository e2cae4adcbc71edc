#include "simbox/unplug_timer.h"

#include <algorithm>

SimUnplugTimer::SimUnplugTimer(std::weak_ptr<SimBus> bus, std::weak_ptr<SimDevice> device, double benchSeconds)
    : bus_(std::move(bus)),
      device_(std::move(device)),
      due_(benchClock().nowMicros() + static_cast<std::int64_t>(std::max(0.0, benchSeconds) * 1e6)),
      clock_(benchClock()),
      thread_(clock_, [this] { run(); })
{
}

SimUnplugTimer::~SimUnplugTimer()
{
    clock_.update([this] { cancelled_ = true; });
    thread_.join();
}

void SimUnplugTimer::run()
{
    if (clock_.waitUntil(due_, [this] { return cancelled_; }))
        return;
    auto bus = bus_.lock();
    auto device = device_.lock();
    if (bus && device && bus->unplug(device))
        fired_.store(true);
}
