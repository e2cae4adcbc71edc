// Throughput of the position-stream record parsers on transfers shaped like
// the box's: 2048 bytes, a sync pattern at the start of each 1024-byte block
// and records back to back after it. Every record is parsed; the reader's
// early stop at the first changed value is left out so the figure is the
// parser's own.
#include "interface/stream_parser.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kTransfer = 2048;

std::vector<std::uint8_t> makeTransfer(int syncAt)
{
    std::vector<std::uint8_t> t(kTransfer);
    std::uint32_t x = 0x12345678u;
    for (auto& b : t) {  // xorshift noise as record contents
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    const std::uint8_t sync[4] = {0xAA, 0x55, 0x55, 0xAA};
    for (int block : {syncAt, syncAt + 1024}) {
        for (int k = 0; k < 4; ++k)
            t[block + k] = sync[k];
    }
    return t;
}

void parseTransfer(benchmark::State& state, RecordFormat format)
{
    const auto t = makeTransfer(0);
    const int len = recordLength(format);
    std::int64_t records = 0;
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (int p = 4; p + len <= kTransfer; p += len) {
            const ParsedRecord r = parseRecord(t.data() + p, format);
            sum += r.value + r.spiCrcByte + r.sync;
        }
        benchmark::DoNotOptimize(sum);
        records += (kTransfer - 4) / len;
    }
    state.SetBytesProcessed(records * len);
    state.SetItemsProcessed(records);
}

void BM_ParseSyncSerial6(benchmark::State& s) { parseTransfer(s, RecordFormat::SyncSerial6); }
void BM_ParseSpi10(benchmark::State& s) { parseTransfer(s, RecordFormat::Spi10); }
void BM_ParseRs485_10(benchmark::State& s) { parseTransfer(s, RecordFormat::Rs485_10); }
void BM_ParseRs485Ab10(benchmark::State& s) { parseTransfer(s, RecordFormat::Rs485Ab10); }
void BM_ParseRxOnly4(benchmark::State& s) { parseTransfer(s, RecordFormat::RxOnly4); }

// Sync search with the pair as late as it can be in a full transfer.
void BM_FindSyncPairLate(benchmark::State& state)
{
    const auto t = makeTransfer(kTransfer - 1028);
    for (auto _ : state)
        benchmark::DoNotOptimize(findSyncPair(t.data(), kTransfer));
    state.SetBytesProcessed(state.iterations() * kTransfer);
}

// The reader's own path for a stationary encoder: every record of the
// transfer equals the shown value, so the walk reads them all.
void BM_WalkStationarySyncSerial6(benchmark::State& state)
{
    // Stream sync at 0; 6-byte records from 4, the one at 1024 a sync record
    // that also opens the second block.
    std::vector<std::uint8_t> t(kTransfer);
    const std::uint8_t record[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    const std::uint8_t syncRecord[6] = {0xAA, 0x55, 0x55, 0xAA, 0xAA, 0x55};
    for (int k = 0; k < 4; ++k)
        t[k] = syncRecord[k];
    for (int p = 4; p + 6 <= kTransfer; p += 6) {
        const std::uint8_t* src = p == 1024 ? syncRecord : record;
        for (int k = 0; k < 6; ++k)
            t[p + k] = src[k];
    }
    const std::int64_t shown = 0x050603040102LL;
    std::int64_t records = 0;
    for (auto _ : state) {
        const RecordWalk w = walkRecords(t.data(), kTransfer, RecordFormat::SyncSerial6, shown);
        benchmark::DoNotOptimize(w.recordsParsed);
        records += w.recordsParsed;
    }
    state.SetBytesProcessed(records * 6);
    state.SetItemsProcessed(records);
}

}  // namespace

BENCHMARK(BM_ParseSyncSerial6);
BENCHMARK(BM_ParseSpi10);
BENCHMARK(BM_ParseRs485_10);
BENCHMARK(BM_ParseRs485Ab10);
BENCHMARK(BM_ParseRxOnly4);
BENCHMARK(BM_FindSyncPairLate);
BENCHMARK(BM_WalkStationarySyncSerial6);

BENCHMARK_MAIN();
