// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "simbox/demo_bus.h"
#include "widgets/screenshot_scenes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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
    Bench& bench = dlg->bench();
    bench.onCommand(Command::ClickingSetting);
    bench.onCommand(Command::SaveFile);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar captureSceneRegistrar("main-capture", captureScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
