// The sin/cos analysis dialog open and streaming, measured: CPU use of the
// whole workbench (window and dialog offscreen, simulated box in the same
// process) and the charts' frame rate, over a run of some seconds.
// A program rather than a timed test: run it by hand and read the figures.
//   bench_dialog_sincos [seconds]
#include "app/quillmark_dlg.h"
#include "app/sincos_dialog.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "widgets/data_show.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;

    auto bus = std::make_shared<SimBus>();
    auto box = std::make_shared<SimBox>();
    SinCosShape shape;
    shape.noiseVolts = 0.01;
    box->encoder().setSinCos(shape);
    box->encoder().setSpeedRpm(
        sinCosRpmForPeriods(2, kSinCosShownSamples, box->samplePeriodMicros(), shape.periodsPerTurn));
    bus->addDevice(box);

    CQuillmarkDlg dlg(bus);
    dlg.show();
    QApplication::processEvents();
    dlg.toBench([&](Bench& bench) { bench.onChosen(Control::Protocols, 7); });
    dlg.waitForBench();  // sin_cosine
    dlg.toBench([&](Bench& bench) { bench.onCommand(Command::ClickingSetting); });
    dlg.waitForBench();
    auto* dialog = qobject_cast<SinCosDialog*>(dlg.windowDialogs().dialog(DialogKind::SinCos));
    if (!dialog) {
        std::fprintf(stderr, "the sin/cos dialog did not open\n");
        return 1;
    }
    runFor(1.0);  // the first cycles

    int paints0[3];
    for (int i = 0; i < 3; ++i)
        paints0[i] = dialog->chart(i)->paintCount();
    const QString count0 = dialog->fieldEdit(SinCosField::Count)->text();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;

    std::printf("sin/cos dialog open and streaming, whole workbench (windows offscreen + simulated box):\n");
    std::printf("  CPU %.2f s in %.2f s = %.1f %% of one core\n", cpu, elapsed, 100.0 * cpu / elapsed);
    for (int i = 0; i < 3; ++i)
        std::printf("  chart %d: %d paints = %.2f frames/s\n", i + 1, dialog->chart(i)->paintCount() - paints0[i],
                    (dialog->chart(i)->paintCount() - paints0[i]) / elapsed);
    std::printf("  count went from %s to %s\n", qPrintable(count0),
                qPrintable(dialog->fieldEdit(SinCosField::Count)->text()));
    return 0;
}
