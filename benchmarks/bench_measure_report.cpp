// Decimal report throughput in MB/s of capture, for a 6-byte and a 10-byte
// record group, against a straightforward snprintf-per-value conversion.
#include "measure/decimal_report.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t kCaptureBytes = 4 * 1024 * 1024 - (4 * 1024 * 1024) % 30;  // a few minutes of capture

std::vector<std::uint8_t> makeCapture()
{
    std::vector<std::uint8_t> b(kCaptureBytes);
    std::uint32_t x = 12345;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

const std::vector<std::uint8_t>& capture()
{
    static const std::vector<std::uint8_t> c = makeCapture();
    return c;
}

DecimalReportSettings bissSettings()
{
    DecimalReportSettings s;
    s.modes.bissSelected = true;
    s.fieldCount = 3;
    s.fieldWidth = {15, 17, 2, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 10; ++k)
        s.fieldMask[k] = fieldMaskForWidth(s.fieldWidth[k]);
    s.fieldLabel = {"St", "Error", "Warning"};
    return s;
}

DecimalReportSettings rs485Settings()
{
    DecimalReportSettings s;
    s.modes.syncSerialMode = false;
    s.modes.rs485Mode = true;
    return s;
}

// The sink of a real run writes the pieces to a file; here they are only
// touched so that the work is not optimised away.
struct CountingSink {
    std::size_t bytes = 0;
    void operator()(const char* data, std::size_t size)
    {
        benchmark::DoNotOptimize(data[size - 1]);
        bytes += size;
    }
};

void runFast(benchmark::State& state, const DecimalReportSettings& s)
{
    const auto& c = capture();
    std::size_t out = 0;
    for (auto _ : state) {
        CountingSink sink;
        writeDecimalReport(c, s, std::ref(sink));
        out = sink.bytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
    state.counters["report_MB"] = static_cast<double>(out) / 1e6;
}

// The straightforward conversion: one snprintf per value into the same kind
// of chunk buffer.
class NaiveWriter {
public:
    explicit NaiveWriter(CountingSink& sink) : m_sink(sink), m_buf(1 << 18) {}
    ~NaiveWriter() { flush(); }
    template <typename... Args>
    void put(const char* fmt, Args... args)
    {
        if (m_pos + 64 > m_buf.size())
            flush();
        m_pos += static_cast<std::size_t>(std::snprintf(m_buf.data() + m_pos, 64, fmt, args...));
    }
    void flush()
    {
        if (m_pos)
            m_sink(m_buf.data(), m_pos);
        m_pos = 0;
    }

private:
    CountingSink& m_sink;
    std::vector<char> m_buf;
    std::size_t m_pos = 0;
};

void naiveBiss(const std::vector<std::uint8_t>& c, const DecimalReportSettings& s, CountingSink& sink)
{
    NaiveWriter w(sink);
    const std::size_t lines = c.size() / 6 - 1;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = c.data() + i * 6;
        const std::int64_t v = std::int64_t(r[4]) << 40 | std::int64_t(r[5]) << 32 | std::int64_t(r[2]) << 24 |
                               std::int64_t(r[3]) << 16 | std::int64_t(r[0]) << 8 | r[1];
        w.put("%05d", static_cast<int>(i + 1));
        // Field k sits above the widths of the fields after it.
        int shift = s.fieldWidth[1] + s.fieldWidth[2];
        for (int k = 0; k < 3; ++k) {
            const long long f = (v >> shift) & std::int32_t(s.fieldMask[k]);
            w.put(k == 2 ? "                            %lld\r\n" : "                            %lld", f);
            if (k < 2)
                shift -= s.fieldWidth[k + 1];
        }
    }
}

void naiveRs485(const std::vector<std::uint8_t>& c, CountingSink& sink)
{
    NaiveWriter w(sink);
    const std::size_t lines = c.size() / 10 - 1;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::uint8_t* r = c.data() + i * 10;
        w.put("%05d", static_cast<int>(i + 1));
        w.put("                            %d", r[7] * 65536 + r[4] * 256 + r[5]);
        w.put("                            %d", r[3] * 65536 + r[0] * 256 + r[1]);
        w.put("                            %d\r\n", int(r[8]));
    }
}

void BM_Report6ByteBiss(benchmark::State& state)
{
    runFast(state, bissSettings());
}

void BM_Report10ByteRs485(benchmark::State& state)
{
    runFast(state, rs485Settings());
}

void BM_Snprintf6ByteBiss(benchmark::State& state)
{
    const auto& c = capture();
    const DecimalReportSettings s = bissSettings();
    for (auto _ : state) {
        CountingSink sink;
        naiveBiss(c, s, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
}

void BM_Snprintf10ByteRs485(benchmark::State& state)
{
    const auto& c = capture();
    for (auto _ : state) {
        CountingSink sink;
        naiveRs485(c, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
}

}  // namespace

BENCHMARK(BM_Report6ByteBiss)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snprintf6ByteBiss)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Report10ByteRs485)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snprintf10ByteRs485)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
