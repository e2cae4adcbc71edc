#include "bench/bench_context.h"

#include "common/clock.h"
#include "measure/config_record.h"

void BenchContext::conclude(const Outcome& outcome)
{
    if (outcome.ending != Ending::Verdict) {
        outcomes.post(outcome);
        return;
    }
    Outcome judged = outcome;
    const QString command = operationName(outcome.operation);
    const ResultTrace trace = outcome.trace();
    if (const std::shared_ptr<const TestPlan> p = plan(); p && p->covers(command))
        judged.plan = judgeAgainstPlan(*p, command, outcome.passed, outcome.figures(), trace);
    if (resultSink_) {
        const InterfaceSettings s = state.settingsSnapshot();
        resultSink_(TestReport{command, judged.passed, judged.figures(), s.description, configRecordBytesOf(s),
                               encodeTrace(trace)});
    }
    outcomes.post(judged);
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
