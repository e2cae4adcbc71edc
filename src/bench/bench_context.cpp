#include "bench/bench_context.h"

#include "common/clock.h"
#include "measure/config_record.h"

void BenchContext::conclude(const Outcome& outcome)
{
    if (resultSink_ && outcome.ending == Ending::Verdict) {
        const InterfaceSettings s = state.settingsSnapshot();
        resultSink_(TestReport{operationName(outcome.operation), outcome.passed, outcome.figures(), s.description,
                               configRecordBytesOf(s)});
    }
    outcomes.post(outcome);
}

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
