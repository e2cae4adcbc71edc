// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "app/sincos_dialog.h"
#include "app/window_dialogs.h"
#include "simbox/sim_box.h"
#include "simbox/demo_bus.h"
#include "widgets/screenshot_scenes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>

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
    dlg->setText(Control::GaugeField, "1");
    dlg->toBench([](Bench& bench) {
        bench.onEdited(Control::GaugeField, "1");
        bench.onSpin(Control::GaugeField, +1);
        bench.onCommand(Command::ClickingSetting);
        bench.onCommand(Command::ReadData);
    });
    dlg->waitForBench();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 400)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

// The sin/cos analysis dialog after a fit, on the demo box's sin/cos
// encoder: settings applied with sin_cosine start the test, "Collection"
// arms the fit, a few capture cycles and refreshes run. The dialog belongs
// to its window, so the scene is its rendering, taken before the window
// (and with it the dialog) goes.
QWidget* sinCosScene()
{
    std::shared_ptr<SimBox> box;
    auto bus = makeDemoBus(&box);
    SinCosShape shape;
    shape.cosPlusOffset = shape.cosMinusOffset = 2.3;
    shape.sinPlusOffset = shape.sinMinusOffset = 2.7;
    shape.sinAmplitude = 0.6;
    shape.noiseVolts = 0.01;
    shape.periodsPerTurn = 2;
    box->encoder().setSinCos(shape);
    box->encoder().setSpeedRpm(
        sinCosRpmForPeriods(2, kSinCosShownSamples, box->samplePeriodMicros(), shape.periodsPerTurn));
    auto dlg = std::make_unique<CQuillmarkDlg>(bus);
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    dlg->toBench([&](Bench& bench) { bench.onChosen(Control::Protocols, 7); });
    dlg->waitForBench();  // sin_cosine
    dlg->toBench([&](Bench& bench) { bench.onCommand(Command::ClickingSetting); });
    dlg->waitForBench();
    auto* sincos = qobject_cast<SinCosDialog*>(dlg->windowDialogs().dialog(DialogKind::SinCos));
    if (!sincos)
        return nullptr;
    sincos->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->toBench([&](Bench& bench) { bench.onSinCosCollection(); });
    dlg->waitForBench();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    auto* shot = new QLabel;
    shot->setPixmap(sincos->grab());
    shot->setFixedSize(sincos->size());
    return shot;
}

// The main window in the middle of a timed capture: "Stop Collecting", the
// lamp lit on the second tick, the timed-capture box disabled. The capture
// goes to a temporary data root, not the user's.
QWidget* captureScene()
{
    static QTemporaryDir root;
    qputenv("XDG_DATA_HOME", root.path().toUtf8());
    auto* dlg = new CQuillmarkDlg(makeDemoBus());
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    dlg->toBench([](Bench& bench) {
        bench.onCommand(Command::ClickingSetting);
        bench.onCommand(Command::SaveFile);
    });
    dlg->waitForBench();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar sinCosSceneRegistrar("sincos", sinCosScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar captureSceneRegistrar("main-capture", captureScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
