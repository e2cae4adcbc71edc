// Screenshot scenes of the calibration dialogs.
#include "app/calibration_dialogs.h"
#include "app/quillmark_dlg.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "common/clock.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "widgets/lamp_images.h"
#include "widgets/screenshot_scenes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <functional>

namespace {

// Runs the window's event loop until `done` or `ms` of real time.
bool pumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QWidget* accessScene()
{
    auto* d = new CalibrationAccessDialog;
    if (auto* field = d->findChild<QLineEdit*>("codeEdit"))
        field->setText("482");
    return d;
}

// Both encoders calibrated on the simulated box, through the real timers:
// encoder 2 woken, calibrated against air, zeroed and B1/B2-corrected, then
// encoder 1 with a fine-radius step the encoder refuses (0x22); both
// information panes filled. Starting encoder 1 sets every step indicator
// back to idle, so encoder 1's results are the ones lit. The picture is
// taken before the window goes.
QWidget* calibrationScene()
{
    // The only scene of its process: the bench and the box four times faster.
    installBenchClock(std::make_shared<SteadyClock>(4));
    auto bus = std::make_shared<SimBus>();
    auto box = std::make_shared<SimBox>();
    bus->addDevice(box);
    box->calibration().setOutcome(CalFirmwareStep::FineRadius, CalOutcome::Fail);

    auto* window = new CQuillmarkDlg(bus);
    window->setAttribute(Qt::WA_DontShowOnScreen);
    window->show();
    Bench& bench = window->bench();
    bench.onCommand(Command::EncoderCalibration);
    auto* d = qobject_cast<CalibrationDialog*>(window->windowDialogs().dialog(DialogKind::Calibration));
    QPixmap shot;
    if (d) {
        d->setAttribute(Qt::WA_DontShowOnScreen);
        auto lit = [d](CalControl c) {
            return qobject_cast<CLamp*>(d->control(c))->lamp() != Lamp::Unlit;
        };
        auto filled = [d](CalControl c) {
            QWidget* w = d->control(c);
            if (auto* e = qobject_cast<QLineEdit*>(w))
                return !e->text().isEmpty();
            return false;
        };
        auto step = [&](CalControl button, const std::function<bool()>& done, int ms = 4000) {
            bench.onCalibrationButton(button);
            pumpUntil(done, ms);
        };
        bench.onCalibrationButton(CalControl::Access);
        bench.onCalibrationAccessCode("482", false);
        pumpUntil([&] { return lit(CalControl::AccessLamp); }, 2000);

        box->calibration().setKind(CalEncoderKind::Waking);
        step(CalControl::Wake, [&] { return lit(CalControl::Wake2Lamp); }, 6000);
        step(CalControl::AirCal, [&] { return lit(CalControl::AirCalLamp); });
        step(CalControl::Zero2, [&] { return lit(CalControl::Zero2Lamp); });
        step(CalControl::B1B2, [&] { return lit(CalControl::B2Lamp); }, 6000);
        step(CalControl::Info2, [&] { return filled(CalControl::Info2Serial); }, 6000);

        box->calibration().setKind(CalEncoderKind::CoarseFine);
        step(CalControl::Start, [&] { return lit(CalControl::StartLamp); }, 8000);
        step(CalControl::CoarseEcc, [&] { return lit(CalControl::CoarseEccLamp); });
        step(CalControl::FineAdc, [&] { return lit(CalControl::FineAdcLamp); });
        step(CalControl::CoarseAdc, [&] { return lit(CalControl::CoarseAdcLamp); });
        step(CalControl::FineRadius, [&] { return lit(CalControl::FineRadiusLamp); });
        step(CalControl::Zero1, [&] { return lit(CalControl::Zero1Lamp); });
        step(CalControl::Info1, [&] { return filled(CalControl::Info1FineAdc); }, 8000);
        pumpUntil([] { return false; }, 600);
        d->show();
        QApplication::processEvents();
        shot = d->grab();
    }
    delete window;

    auto* picture = new QLabel;
    picture->setPixmap(shot);
    picture->setFixedSize(shot.size() / shot.devicePixelRatio());
    return picture;
}

const SceneRegistrar calibrationAccessScene("calibration-access", accessScene);
const SceneRegistrar calibrationDialogScene("calibration", calibrationScene);

}  // namespace
