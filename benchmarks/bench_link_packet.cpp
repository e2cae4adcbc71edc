// Build time of the 512-byte command packet.
#include "link/command_packet.h"

#include <benchmark/benchmark.h>

static void BM_BuildPacket_NoFlag(benchmark::State& state)
{
    const FlagSnapshot flags;
    const PacketParams params;
    for (auto _ : state)
        benchmark::DoNotOptimize(buildCommandPacket(flags, params));
}
BENCHMARK(BM_BuildPacket_NoFlag);

static void BM_BuildPacket_Configuration(benchmark::State& state)
{
    const FlagSnapshot flags{Flag::PowerOffCmd, Flag::ConfigCmd};
    const PacketParams params;
    for (auto _ : state)
        benchmark::DoNotOptimize(buildCommandPacket(flags, params));
}
BENCHMARK(BM_BuildPacket_Configuration);

static void BM_BuildPacket_EveryFlag(benchmark::State& state)
{
    FlagSnapshot flags;
    for (std::size_t i = 0; i < kFlagCount; ++i)
        flags.set(static_cast<Flag>(i));
    const PacketParams params;
    for (auto _ : state)
        benchmark::DoNotOptimize(buildCommandPacket(flags, params));
}
BENCHMARK(BM_BuildPacket_EveryFlag);

BENCHMARK_MAIN();
