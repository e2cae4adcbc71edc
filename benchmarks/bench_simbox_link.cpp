// The simulated link through the real endpoint API: a command round trip and
// the IN throughput of a streaming box.
#include "common/clock.h"
#include "link/box_usb_device.h"
#include "link/command_packet.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

struct Link {
    Link()
    {
        bus->addDevice(box);
        device = std::make_unique<BoxUsbDevice>(bus, nullptr, true);
        in = device->endpointOf(kBoxInAddress);
        out = device->endpointOf(kBoxOutAddress);
    }

    bool send(std::initializer_list<Flag> flags, const PacketParams& params = {})
    {
        CommandPacket p = buildCommandPacket(FlagSnapshot(flags), params);
        OverlappedRecord ov;
        auto ctx = out->beginTransfer(p.data(), 512, ov);
        out->waitForTransfer(ov, 10);  // the sender's wait
        int len = 512;
        return out->finishTransfer(p.data(), len, ov, ctx);
    }

    // waitMs < 0: without limit.
    int read(std::vector<std::uint8_t>& buf, double waitMs)
    {
        OverlappedRecord ov;
        auto ctx = in->beginTransfer(buf.data(), static_cast<int>(buf.size()), ov);
        in->waitForTransfer(ov, waitMs);
        int len = static_cast<int>(buf.size());
        return in->finishTransfer(buf.data(), len, ov, ctx) ? len : -1;
    }

    std::shared_ptr<SimBus> bus = std::make_shared<SimBus>();
    std::shared_ptr<SimBox> box = std::make_shared<SimBox>();
    std::unique_ptr<BoxUsbDevice> device;
    std::shared_ptr<CCyUSBEndPoint> in, out;
};

// 512-byte 9A query out, then the 2048-byte drain read that collects the answer.
void BM_QueryRoundTrip(benchmark::State& state)
{
    installBenchClock(std::make_shared<SteadyClock>(1.0));
    Link link;
    std::vector<std::uint8_t> buf(2048);
    for (auto _ : state) {
        if (!link.send({Flag::ConfigQueryCmd}) || link.read(buf, 100) != 6) {
            state.SkipWithError("query not answered");
            break;
        }
    }
}
BENCHMARK(BM_QueryRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// 2048-byte reads while the box streams. Arguments: protocol code, bench speed
// factor. Bytes/s is real-time throughput to the host; "lost" is the share of
// the stream dropped by the full FIFO because the host did not keep up.
void BM_StreamThroughput(benchmark::State& state)
{
    const auto protocol = static_cast<int>(state.range(0));
    const auto speed = static_cast<double>(state.range(1));
    installBenchClock(std::make_shared<SteadyClock>(speed));
    {
        Link link;
        PacketParams params;
        params.protocolCode = protocol;
        link.send({Flag::ConfigCmd}, params);
        link.send({Flag::ReadActive});
        std::vector<std::uint8_t> buf(2048);
        std::int64_t bytes = 0;
        const auto before = link.box->state();
        for (auto _ : state) {
            const int n = link.read(buf, -1);
            if (n <= 0) {
                state.SkipWithError("stream read failed");
                break;
            }
            bytes += n;
        }
        const auto after = link.box->state();
        state.SetBytesProcessed(bytes);
        const double lost = static_cast<double>(after.lostBytesTotal - before.lostBytesTotal);
        state.counters["lost"] = lost / (lost + static_cast<double>(bytes));
        state.counters["speed"] = speed;
        link.send({Flag::StopCmd});
    }
    installBenchClock(std::make_shared<SteadyClock>(1.0));
}
BENCHMARK(BM_StreamThroughput)
    ->ArgNames({"protocol", "speed"})
    ->Args({0, 1})        // BISS, real time: 6 bytes per 0.125 ms
    ->Args({0, 100})
    ->Args({0, 2000})
    ->Args({6, 1})        // sin/cos samples, real time: 10 bytes per 16 us
    ->Args({6, 100})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
