// Ellipse fit of 1600 pairs, and one paint of the waveform chart with two
// 1600-point series at 600×300 (the analysis dialog repaints every 1 ms).
#include "widgets/data_show.h"
#include "sincos/sincos_ellipse_fit.h"

#include <QApplication>
#include "qt_bench_main.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

void BM_EllipseFit1600(benchmark::State& state)
{
    std::vector<double> c(1600), s(1600);
    for (int k = 0; k < 1600; ++k) {
        const double t = kTwoPi * k / 400.0;
        c[k] = 2.5 + std::cos(t);
        s[k] = 2.5 + 0.9 * std::sin(t - 0.1);
    }
    for (auto _ : state) {
        EllipseFitResult r = SinCosEllipseFit::fit(c, s);
        benchmark::DoNotOptimize(r);
    }
}

void BM_ChartPaint600x300(benchmark::State& state)
{
    CDataShow chart;
    chart.resize(600, 300);
    chart.renderImage();
    std::vector<double> x(1600), y1(1600), y2(1600);
    for (int k = 0; k < 1600; ++k) {
        x[k] = k;
        y1[k] = 2.0 + 1.5 * std::sin(kTwoPi * k / 400.0);
        y2[k] = 2.0 + 1.5 * std::cos(kTwoPi * k / 400.0);
    }
    chart.setSeries1(y1.data(), x.data(), 1600);
    chart.setSeries2(y2.data(), x.data(), 1600);
    chart.setSeriesColour(1, QColor(255, 0, 0));
    for (auto _ : state) {
        QImage img = chart.renderImage();
        benchmark::DoNotOptimize(img.constBits());
    }
}

}  // namespace

BENCHMARK(BM_EllipseFit1600)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChartPaint600x300)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
