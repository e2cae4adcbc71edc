// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "app/force_dialog.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "simbox/demo_bus.h"
#include "widgets/meter.h"
#include "widgets/screenshot_scenes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

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
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return dlg;
}

void runEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The force test on the simulated box after ten contestants (one of them
// twice), with an eleventh attempt under way: the top list full, the last
// result in the record field, the gauge live. The main window stays behind
// the dialog and goes with it.
QWidget* forceScene()
{
    std::shared_ptr<SimBox> box;
    auto* dlg = new CQuillmarkDlg(makeDemoBus(&box));
    EncoderModel& enc = box->encoder();
    enc.setResolution(17, 0, 8);  // position above a status byte
    enc.setSpeedRpm(0);
    Bench& bench = dlg->bench();
    auto type = [&](Control c, const QString& text) {
        dlg->setText(c, text);
        bench.onEdited(c, text);
    };
    type(fieldWidthControl(1), "17");
    type(fieldWidthControl(2), "8");
    type(fieldWidthControl(3), "0");
    type(Control::ContentCount, "2");
    bench.onCommand(Command::ClickingSetting);
    bench.onCommand(Command::ForceTest);
    runEvents(100);
    auto* force = qobject_cast<ForceDialog*>(dlg->windowDialogs().dialog(DialogKind::Force));
    if (!force)
        return dlg;

    // Newtons to the position that gives them: 27.863 N per degree.
    auto push = [&](double newtons) {
        enc.setPositionCounts(static_cast<std::int64_t>(newtons / 27.863 / 360.0 * 131071.0 + 0.5));
        runEvents(120);
    };
    auto contestant = [&](const QString& name, double newtons) {
        force->nameEdit()->setText(name);
        bench.onForce(ForceInput::NameEdited, name);
        bench.onForce(ForceInput::Enter);
        runEvents(20);  // timer 4 has passed the last "STOP" on to the reader
        push(0);
        bench.onForce(ForceInput::StartStop);
        runEvents(40);
        push(newtons);
        bench.onForce(ForceInput::StartStop);
    };
    const std::pair<const char*, double> contest[] = {
        {"Hercules", 512.4}, {"Atlas", 468.9}, {"Milo", 455.0}, {"Ajax", 301.7}, {"Samson", 389.2},
        {"Brunhild", 276.3}, {"Atlas", 497.5}, {"Theseus", 352.8}, {"Hippolyta", 333.1},
        {"Beowulf", 298.6}, {"Cu Chulainn", 421.0},
    };
    for (const auto& [name, newtons] : contest)
        contestant(QString::fromUtf8(name), newtons);
    // Cu Chulainn tries again: an attempt under way.
    runEvents(20);
    push(0);
    bench.onForce(ForceInput::StartStop);
    runEvents(40);
    push(236.4);
    runEvents(150);

    force->setParent(nullptr, force->windowFlags());
    QObject::connect(force, &QObject::destroyed, [dlg] { delete dlg; });
    // Shown again as a window of its own, so that it settles before the grab.
    force->setAttribute(Qt::WA_DontShowOnScreen);
    force->show();
    QApplication::processEvents();
    return force;
}

const SceneRegistrar forceSceneRegistrar("force", forceScene);
const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
