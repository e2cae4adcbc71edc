// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "bench/timers.h"
#include "common/bench_clock.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_box.h"
#include "widgets/screenshot_scenes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>

namespace {

// The main window as it opens on the simulated box.
QWidget* mainWindowScene()
{
    return new CQuillmarkDlg(makeDemoBus());
}

// The main window reading the simulated encoder: settings applied, values,
// raw frame, angle and gauge live.
QWidget* readingScene()
{
    auto* dlg = new CQuillmarkDlg(makeDemoBus());
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    Bench& bench = dlg->bench();
    dlg->setText(Control::GaugeField, "1");
    bench.onEdited(Control::GaugeField, "1");
    bench.onSpin(Control::GaugeField, +1);
    bench.onCommand(Command::ClickingSetting);
    bench.onCommand(Command::ReadData);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 400)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

// The main window after an absolute accuracy test that found two jumps, the
// browser showing the first. The 680 steps run on a clock 10 times faster,
// one tick every 300 bench ms as timer 0 gives them.
QWidget* absTestScene()
{
    std::shared_ptr<SimBox> box;
    auto* dlg = new CQuillmarkDlg(makeDemoBus(&box));
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    Bench& bench = dlg->bench();
    EncoderModel& encoder = box->encoder();
    encoder.setSpeedRpm(0.9);
    dlg->setText(Control::GaugeField, "2");
    bench.onEdited(Control::GaugeField, "2");
    bench.onCommand(Command::ClickingSetting);

    benchclock::setSpeed(10);
    encoder.setPositionCounts(std::llround(11.7 / 360.0 * (1 << 17)));
    const std::int64_t start = benchclock::nowMicros();
    encoder.addAngleJump({100.0, 27.0});
    encoder.addAngleJump({250.0, -45.0});
    bench.onCommand(Command::AbsTest);
    for (int n = 1; n <= 680 && bench.context().state.absTestActive.load(); ++n) {
        const double wait = static_cast<double>(start + n * 300000 - benchclock::nowMicros()) / 1000.0;
        if (wait > 0)
            benchSleep(wait);
        bench.onTimer(kTimerAbsTest);
    }
    benchclock::setSpeed(1);
    bench.onSpin(Control::ErrorIndex, -1);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar absScene("abs-test", absTestScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
