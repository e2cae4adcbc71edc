// Screenshot scenes of the Results window and the Test plan dialog.
#include "app/quillmark_dlg.h"
#include "app/results_menu.h"
#include "app/results_window.h"
#include "app/test_plan_dialog.h"
#include "bench/accuracy.h"
#include "bench/bench.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "results/results_store.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_box.h"
#include "widgets/screenshot_scenes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cmath>

namespace {

// The plan of the scenes: no more than one jump, of at most 30°, and a
// sin/cos window the demo encoder meets.
const char* const kScenePlan = R"({
  "schema": 1,
  "abs-test": {"max_jumps": 1, "max_jump_deg": 30},
  "resolution": {"bits": 17},
  "sincos": {
    "cos_offset": {"nominal": 2.50, "tolerance": 0.10},
    "sin_offset": {"nominal": 2.50, "tolerance": 0.10},
    "cos_pp": {"nominal": 1.00, "tolerance": 0.10},
    "sin_pp": {"nominal": 1.00, "tolerance": 0.10},
    "phase": {"min": 89, "max": 91}
  },
  "eeprom": {"verified": true}
}
)";

void runEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A data root of the scene's own with the plan beside the configuration.
void sceneDataRoot()
{
    static QTemporaryDir root;
    qputenv("XDG_DATA_HOME", root.path().toUtf8());
    const QString plan = ResultsMenu::planPath();
    QDir().mkpath(QFileInfo(plan).absolutePath());
    QFile f(plan);
    if (f.open(QIODevice::WriteOnly))
        f.write(kScenePlan);
}

// One absolute accuracy test on the simulated shaft, in virtual time, with
// the given jumps (step, degrees).
void accuracyTest(CQuillmarkDlg& dlg, EncoderModel& encoder, std::vector<std::pair<double, double>> jumps)
{
    dlg.toBench([&encoder, jumps](Bench& bench) {
        encoder.setPositionCounts(std::llround(11.7 / 360.0 * (1 << 17)));
        const std::int64_t start = benchClock().nowMicros();
        for (auto [at, by] : jumps)
            encoder.addAngleJump({at, by});
        bench.onCommand(Command::AbsTest);
        for (int n = 1; n <= 680 && bench.accuracy().running(); ++n) {
            const double wait = static_cast<double>(start + n * 300000 - benchClock().nowMicros()) / 1000.0;
            if (wait > 0)
                benchSleep(wait);
            bench.onTimer(kTimerAbsTest);
        }
    });
    dlg.waitForBench();
}

// The Results window after two accuracy tests of QM-1 against the plan: the
// first without a jump, the second with two (27° and 45°), shown with its
// angle plot and jump map, failing both its own verdict and the plan's.
QWidget* resultsWindowScene()
{
    installBenchClock(std::make_shared<VirtualClock>());
    sceneDataRoot();
    static QTemporaryDir store;
    ResultsStoreOptions o;
    o.localPath = QDir(store.path()).filePath("results.sqlite");
    auto results = std::make_shared<ResultsStore>(o);
    std::shared_ptr<SimBox> box;
    auto* dlg = new CQuillmarkDlg(makeDemoBus(&box));
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    dlg->keepResults(results, true);
    EncoderModel& encoder = box->encoder();
    encoder.setSpeedRpm(0.9);
    for (auto [c, text] : {std::pair{Control::GaugeField, "2"}, std::pair{Control::Description, "QM-1"}}) {
        dlg->view().setText(c, text);
        dlg->toBench([c, t = QString(text)](Bench& b) { b.onEdited(c, t); });
    }
    dlg->toBench([](Bench& b) { b.onCommand(Command::ClickingSetting); });
    accuracyTest(*dlg, encoder, {});
    accuracyTest(*dlg, encoder, {{100.0, 27.0}, {250.0, -45.0}});
    results->flush(10000);
    dlg->resultsMenu().openResults();
    runEvents(200);
    ResultsWindow* w = dlg->resultsMenu().resultsWindow();
    if (!w)
        return dlg;
    w->setParent(nullptr, w->windowFlags());
    QObject::connect(w, &QObject::destroyed, [dlg] { delete dlg; });
    w->setAttribute(Qt::WA_DontShowOnScreen);
    w->show();
    QApplication::processEvents();
    return w;
}

// The Test plan dialog on the plan above, a tolerance being typed wrong.
QWidget* testPlanScene()
{
    sceneDataRoot();
    auto* dlg = new CQuillmarkDlg(makeDemoBus());
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    dlg->resultsMenu().openTestPlan();
    runEvents(100);
    TestPlanDialog* d = dlg->resultsMenu().testPlanDialog();
    if (!d)
        return dlg;
    d->setParent(nullptr, d->windowFlags());
    QObject::connect(d, &QObject::destroyed, [dlg] { delete dlg; });
    if (QLineEdit* e = d->fieldEdit(QStringLiteral("sincos.sin_pp.tolerance"))) {
        e->setText(QStringLiteral("-0.1"));
        emit e->textEdited(e->text());
    }
    d->setAttribute(Qt::WA_DontShowOnScreen);
    d->show();
    QApplication::processEvents();
    return d;
}

const SceneRegistrar resultsWindowRegistrar("results-window", resultsWindowScene);
const SceneRegistrar testPlanRegistrar("test-plan", testPlanScene);

}  // namespace
