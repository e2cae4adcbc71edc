// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "app/force_dialog.h"
#include "app/window_dialogs.h"
#include "bench/accuracy.h"
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "app/sincos_dialog.h"
#include "app/window_dialogs.h"
#include "simbox/sim_box.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "results/results_store.h"
#include "simbox/demo_bus.h"
#include "widgets/meter.h"
#include "widgets/screenshot_scenes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cmath>
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
    dlg->view().setText(Control::GaugeField, "1");
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
        QApplication::processEvents(QEventLoop::AllEvents, 20);
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

// The main window after an absolute accuracy test that found two jumps, the
// browser showing the first. The 680 steps run on a clock 10 times faster,
// one tick every 300 bench ms as timer 0 gives them, all on the bench thread.
QWidget* absTestScene()
{
    // A scene is the only one of its process: the whole test runs in
    // virtual time, as fast as the bench can compute it.
    installBenchClock(std::make_shared<VirtualClock>());
    std::shared_ptr<SimBox> box;
    auto* dlg = new CQuillmarkDlg(makeDemoBus(&box));
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    EncoderModel& encoder = box->encoder();
    encoder.setSpeedRpm(0.9);
    dlg->view().setText(Control::GaugeField, "2");
    dlg->toBench([&encoder](Bench& bench) {
        bench.onEdited(Control::GaugeField, "2");
        bench.onCommand(Command::ClickingSetting);
        encoder.setPositionCounts(std::llround(11.7 / 360.0 * (1 << 17)));
        const std::int64_t start = benchClock().nowMicros();
        encoder.addAngleJump({100.0, 27.0});
        encoder.addAngleJump({250.0, -45.0});
        bench.onCommand(Command::AbsTest);
        for (int n = 1; n <= 680 && bench.accuracy().running(); ++n) {
            const double wait = static_cast<double>(start + n * 300000 - benchClock().nowMicros()) / 1000.0;
            if (wait > 0)
                benchSleep(wait);
            bench.onTimer(kTimerAbsTest);
        }
        bench.onSpin(Control::ErrorIndex, -1);
    });
    dlg->waitForBench();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
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
    auto type = [&](Control c, const QString& text) {
        dlg->view().setText(c, text);
        dlg->toBench([=](Bench& b) { b.onEdited(c, text); });
        dlg->waitForBench();
    };
    type(fieldWidthControl(1), "17");
    type(fieldWidthControl(2), "8");
    type(fieldWidthControl(3), "0");
    type(Control::ContentCount, "2");
    dlg->toBench([=](Bench& b) { b.onCommand(Command::ClickingSetting); });
    dlg->waitForBench();
    dlg->toBench([=](Bench& b) { b.onCommand(Command::ForceTest); });
    dlg->waitForBench();
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
        dlg->toBench([=](Bench& b) { b.onForce(ForceInput::NameEdited, name); });
        dlg->waitForBench();
        dlg->toBench([=](Bench& b) { b.onForce(ForceInput::Enter); });
        dlg->waitForBench();
        runEvents(20);  // timer 4 has passed the last "STOP" on to the reader
        push(0);
        dlg->toBench([=](Bench& b) { b.onForce(ForceInput::StartStop); });
        dlg->waitForBench();
        runEvents(40);
        push(newtons);
        dlg->toBench([=](Bench& b) { b.onForce(ForceInput::StartStop); });
        dlg->waitForBench();
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
    dlg->toBench([=](Bench& b) { b.onForce(ForceInput::StartStop); });
    dlg->waitForBench();
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

// The notice of a line's results server that cannot be reached, shown once
// over the main window after the first result ("Clicking setting").
QWidget* resultsNoticeScene()
{
    static QTemporaryDir dir;
    ResultsStoreOptions o;
    o.localPath = dir.filePath("results.sqlite");
    QString error;
    o.server = ResultsLocation::parse("postgresql://line@127.0.0.1:1/quillmark", &error);
    auto store = std::make_shared<ResultsStore>(o);
    auto* dlg = new CQuillmarkDlg(makeDemoBus());
    dlg->setAttribute(Qt::WA_DontShowOnScreen);
    dlg->show();
    dlg->keepResults(store);
    dlg->toBench([](Bench& b) { b.onCommand(Command::ClickingSetting); });
    dlg->waitForBench();
    store->flush(10000);
    runEvents(300);
    const QList<QMessageBox*> boxes = dlg->findChildren<QMessageBox*>();
    if (boxes.isEmpty())
        return dlg;
    auto* shot = new QLabel;
    shot->setPixmap(boxes.first()->grab());
    QObject::connect(shot, &QObject::destroyed, [dlg] { delete dlg; });
    return shot;
}

const SceneRegistrar resultsNoticeRegistrar("results-notice", resultsNoticeScene);
const SceneRegistrar forceSceneRegistrar("force", forceScene);
const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar sinCosSceneRegistrar("sincos", sinCosScene);
const SceneRegistrar absScene("abs-test", absTestScene);
const SceneRegistrar readingSceneRegistrar("main-reading", readingScene);
const SceneRegistrar captureSceneRegistrar("main-capture", captureScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
