#include "bench/bench_context.h"

#include "common/bench_clock.h"

void BenchContext::haltStream(double stopMs)
{
    flags().lower(Flag::ReadActive);
    benchSleep(100);
    box.stop(stopMs);
    view.setText(Control::ReadData, "Read data");
    for (Control c : kStreamButtons)
        view.setEnabled(c, true);
    benchSleep(100);
}
