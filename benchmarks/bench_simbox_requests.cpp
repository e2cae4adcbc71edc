// Round trip through the bench's own workers on the simulated box: a sender
// thread with the 9A query, then a drain-read thread taking the answer.
#include "link/box_link.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <benchmark/benchmark.h>

static void BM_RequestSendThenDrainRead(benchmark::State& state)
{
    auto bus = std::make_shared<SimBus>();
    auto box = std::make_shared<SimBox>();
    bus->addDevice(box);
    BoxLink link;
    link.usbDevice = std::make_unique<BoxUsbDevice>(bus, nullptr, true);
    findBox(link);
    for (auto _ : state) {
        link.flags.raise(Flag::ConfigQueryCmd);
        requestSend(link, PacketParams{});
        link.flags.lower(Flag::ConfigQueryCmd);
        link.workers.joinAll();
        link.lastReadOk = false;
        requestDrainRead(link);
        link.workers.joinAll();
        if (!link.lastSendOk || !link.lastReadOk)
            state.SkipWithError("the box did not answer");
    }
    link.usbDevice->close();
}
BENCHMARK(BM_RequestSendThenDrainRead)->UseRealTime();

BENCHMARK_MAIN();
