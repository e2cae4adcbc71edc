#include "bench/bench_context.h"

#include "bench/config_files.h"
#include "common/clock.h"

void BenchContext::report(const QString& command, bool passed, const QJsonObject& figures)
{
    if (!resultSink_)
        return;
    const InterfaceSettings s = state.settingsSnapshot();
    resultSink_(TestReport{command, passed, figures, s.description, configRecordBytesOf(s)});
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
