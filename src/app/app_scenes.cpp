// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "simbox/demo_bus.h"
#include "widgets/screenshot_scenes.h"

#include <QCoreApplication>
#include <QElapsedTimer>

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

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
