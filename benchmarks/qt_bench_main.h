#pragma once
// main() of the benchmark programs that paint: a headless QApplication, then
// Google Benchmark.
#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>

inline int runQtBenchmarks(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
