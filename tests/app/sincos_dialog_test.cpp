// The sin/cos analysis dialog in the real window on the simulated box: its
// captions, how it replaces the main window, its charts, and that closing
// and reopening it leaves nothing behind.
#include "app/quillmark_dlg.h"
#include "app/sincos_dialog.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "bench/bench_state.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "widgets/data_show.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPointer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

void runEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct Window {
    Window()
    {
        qputenv("XDG_DATA_HOME", root.path().toUtf8());
        auto bus = std::make_shared<SimBus>();
        box = std::make_shared<SimBox>();
        SinCosShape shape;
        box->encoder().setSinCos(shape);
        box->encoder().setSpeedRpm(
            sinCosRpmForPeriods(2, kSinCosShownSamples, box->samplePeriodMicros(), shape.periodsPerTurn));
        bus->addDevice(box);
        dlg = std::make_unique<CQuillmarkDlg>(bus);
        dlg->setAttribute(Qt::WA_DontShowOnScreen);
        dlg->show();
        onBench([](Bench& b) { b.onChosen(Control::Protocols, 7); });  // sin_cosine
    }
    // Runs `work` on the bench thread and waits for it and for what it showed.
    void onBench(std::function<void(Bench&)> work)
    {
        dlg->toBench(std::move(work));
        dlg->waitForBench();
    }
    SinCosDialog* dialog() const
    {
        return qobject_cast<SinCosDialog*>(dlg->windowDialogs().dialog(DialogKind::SinCos));
    }
    QTemporaryDir root;
    std::shared_ptr<SimBox> box;
    std::unique_ptr<CQuillmarkDlg> dlg;
};

}  // namespace

TEST(SinCosDialog, CaptionsFieldsAndLegends)
{
    SinCosDialog d;
    EXPECT_EQ(d.windowTitle(), "Orvik_encoder_box");
    QStringList labels;
    for (QLabel* l : d.findChildren<QLabel*>())
        labels << l->text();
    for (const char* caption :
         {"Count:", "SIN+_DC_offset:", "SIN+_Peak_to_peak:", "SIN-_DC_offset:", "SIN-_Peak_to_peak:",
          "COS+_DC_offset:", "COS+_Peak_to_peak:", "COS-_DC_offset:", "COS-_Peak_to_peak:", "Z+_DC_offset:",
          "Z+_Peak_to_peak:", "Z-_DC_offset:", "Z-_Peak_to_peak:", "phase difference sin+/cos+:",
          "phase difference sin-/cos-:", "SIN+/SIN-", "SIN+：Red", "SIN-：Yellow", "COS+/COS-", "COS+：Red",
          "COS-：Yellow", "Z+/Z-", "Z+：Red", "Z：Yellow"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(caption))) << caption;
    EXPECT_EQ(labels.count("V"), 12);
    ASSERT_EQ(d.findChildren<QGroupBox*>().size(), 1);
    EXPECT_EQ(d.findChildren<QGroupBox*>().front()->title(), "SIN_COS_WAVE");
    EXPECT_EQ(d.findChildren<CDataShow*>().size(), 3);

    QStringList buttons;
    for (QPushButton* p : d.findChildren<QPushButton*>())
        buttons << p->text();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Back to home", "Collection"}));
    EXPECT_EQ(d.fieldEdit(SinCosField::Count)->text(), "");
    for (int f = 1; f < kSinCosFieldCount; ++f) {
        EXPECT_EQ(d.fieldEdit(SinCosField(f))->text(), "xxx") << f;
        EXPECT_TRUE(d.fieldEdit(SinCosField(f))->isReadOnly());
    }
    EXPECT_EQ(d.refreshTimer()->interval(), 50);
    EXPECT_EQ(d.size(), d.minimumSize());
    EXPECT_EQ(d.size(), d.maximumSize());
}

TEST(SinCosDialog, ChartsRepaintWhenTheirSamplesChangeNotOnATimer)
{
    SinCosDialog d;
    d.setAttribute(Qt::WA_DontShowOnScreen);
    d.show();
    runEvents(100);
    const int before = d.chart(0)->paintCount();
    runEvents(300);
    EXPECT_EQ(d.chart(0)->paintCount(), before) << "nothing new, no repaint";

    SinCosTraces t{};
    for (auto& track : t)
        track.fill(2.0);
    d.showTraces(t);
    d.showTraces(t);
    runEvents(100);
    // Both series and both calls folded into one repaint.
    EXPECT_EQ(d.chart(0)->paintCount(), before + 1);
    EXPECT_EQ(d.chart(2)->seriesCount(2), kSinCosShownSamples);
}

TEST(SinCosDialog, ReplacesTheMainWindowAndGoesWithoutATraceFiveTimesOver)
{
    Window w;
    w.onBench([&](Bench& b) { b.onCommand(Command::ClickingSetting); });  // starts the test
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE(round);
        if (round > 1)
            w.onBench([&](Bench& b) { b.onCommand(Command::SincosTest); });
        runEvents(50);
        SinCosDialog* d = w.dialog();
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->isVisible());
        EXPECT_FALSE(w.dlg->isVisible());
        EXPECT_EQ(w.dlg->findChildren<SinCosDialog*>().size(), 1u);

        // Live samples reach the charts (within a cycle or two of the
        // window's own timer 2, which runs meanwhile).
        w.onBench([&](Bench& b) { b.onTimer(kTimerSinCos); });
        for (int waited = 0; waited < 1000 && d->chart(1)->seriesCount(1) == 0; waited += 50)
            runEvents(50);
        EXPECT_EQ(d->chart(1)->seriesCount(1), kSinCosShownSamples);
        EXPECT_FALSE(d->fieldEdit(SinCosField::Count)->text().isEmpty());

        // "Collection" arms the fit: the press reaches the bench, which
        // shows "Turning encoder" until the next refresh fits and disarms.
        d->findChild<QPushButton*>("collectionButton")->click();
        for (int waited = 0; waited < 2000 && d->fieldEdit(SinCosField::CosPlusOffset)->text() == "xxx"; waited += 50)
            runEvents(50);
        EXPECT_NE(d->fieldEdit(SinCosField::CosPlusOffset)->text(), "xxx");

        QPointer<SinCosDialog> gone(d);
        QPointer<QTimer> refresh(d->refreshTimer());
        d->findChild<QPushButton*>("backToHomeButton")->click();
        w.dlg->waitForBench();
        runEvents(20);
        EXPECT_TRUE(gone.isNull()) << "deleted, not hidden";
        EXPECT_TRUE(refresh.isNull()) << "its refresh timer went with it";
        w.onBench([&](Bench& b) { b.onTimer(kTimerSinCos); });  // the cycle that ends the test
        runEvents(20);
        EXPECT_TRUE(w.dlg->isVisible());
        EXPECT_TRUE(w.dlg->findChildren<SinCosDialog*>().isEmpty());
        EXPECT_EQ(w.dlg->text(Control::SincosTest), "sincos_test");
    }
}

TEST(SinCosDialog, EscEndsTheTestAndEnterDoesNot)
{
    Window w;
    w.onBench([&](Bench& b) { b.onCommand(Command::ClickingSetting); });
    runEvents(50);
    ASSERT_NE(w.dialog(), nullptr);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(w.dialog(), &enter);
    runEvents(20);
    ASSERT_NE(w.dialog(), nullptr);
    EXPECT_TRUE(w.dialog()->isVisible());

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w.dialog(), &esc);
    w.dlg->waitForBench();
    runEvents(20);
    EXPECT_EQ(w.dialog(), nullptr);
    w.onBench([&](Bench& b) { b.onTimer(kTimerSinCos); });
    runEvents(20);
    EXPECT_TRUE(w.dlg->isVisible());
    EXPECT_FALSE(w.dlg->bench().context().state.link.flags.isUp(Flag::SincosActive));
}
