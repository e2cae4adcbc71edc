// Cost of the analog gauge: a repaint with the cached face (what every new
// reading costs) and a face build (what a resize costs), at 400 x 400.
#include "widgets/gauge_geometry.h"
#include "widgets/meter.h"

#include <QApplication>
#include <QPainter>
#include "qt_bench_main.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

void BM_GaugeRepaintCachedFace(benchmark::State& state)
{
    CMeter m;
    m.setAttribute(Qt::WA_DontShowOnScreen);
    m.resize(400, 400);
    m.show();
    m.repaint();  // builds the face
    double v = 0;
    for (auto _ : state) {
        v = v >= 359 ? 0 : v + 1;
        m.setValue(v);
        m.repaint();  // synchronous paint event
    }
    if (m.faceBuilds() != 1)
        state.SkipWithError("face was rebuilt during needle repaints");
}
BENCHMARK(BM_GaugeRepaintCachedFace)->Unit(benchmark::kMicrosecond);

void BM_GaugeNeedleOnly(benchmark::State& state)
{
    // Needle and hub onto a copy of the face, without the widget machinery.
    const gauge::Dial dial = gauge::angleDial();
    const QSize size(400, 400);
    const QPalette pal = QApplication::palette();
    QRegion clip;
    const QPixmap face = drawGaugeFace(dial, size, pal, 1.0, &clip);
    const gauge::Frame frame = gauge::frameFor(dial, {0, 0, 400, 400});
    QPixmap back(size);
    double v = 0;
    for (auto _ : state) {
        v = v >= 359 ? 0 : v + 1;
        QPainter p(&back);
        p.drawPixmap(0, 0, face);
        drawGaugeNeedle(p, dial, frame, v, clip, pal);
    }
}
BENCHMARK(BM_GaugeNeedleOnly)->Unit(benchmark::kMicrosecond);

void BM_GaugeFaceBuild(benchmark::State& state)
{
    const gauge::Dial dial = gauge::angleDial();
    const QPalette pal = QApplication::palette();
    for (auto _ : state) {
        QRegion clip;
        QPixmap face = drawGaugeFace(dial, QSize(400, 400), pal, 1.0, &clip);
        benchmark::DoNotOptimize(face);
    }
}
BENCHMARK(BM_GaugeFaceBuild)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
