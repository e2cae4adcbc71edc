// The force dialog: its look at opening, scaling from the original layout,
// and its round trip through the window, the bench and the simulated box.
#include "app/force_dialog.h"
#include "app/quillmark_dlg.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "bench/bench_state.h"
#include "simbox/demo_bus.h"
#include "widgets/colour_button.h"
#include "widgets/meter.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

bool runEventsUntil(const std::function<bool()>& done, int ms = 2000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (done())
            return true;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

std::map<QString, QRect> geometries(const QWidget& w)
{
    std::map<QString, QRect> out;
    for (const QWidget* c : w.findChildren<QWidget*>())
        if (!c->objectName().isEmpty() && !c->objectName().startsWith(QLatin1String("qt_")))
            out[c->objectName()] = c->geometry();
    return out;
}

}  // namespace

TEST(ForceDialog, OpensEmptyWithRankingsAndItsFonts)
{
    ForceDialog d;
    for (int row = 1; row <= 10; ++row) {
        EXPECT_EQ(d.cell(row, 0)->text(), QString::asprintf("%3d", row));
        EXPECT_EQ(d.cell(row, 1)->text(), "");
        EXPECT_EQ(d.cell(row, 2)->text(), "0");
        EXPECT_TRUE(d.cell(row, 2)->isReadOnly());
    }
    EXPECT_EQ(d.cell(1, 0)->palette().color(QPalette::Base), QColor(245, 245, 220));
    EXPECT_EQ(d.findChild<QPushButton*>("startButton")->text(), "START");
    auto* enter = d.findChild<CColourButton*>("enterButton");
    EXPECT_EQ(enter->normalColour(), QColor(210, 105, 30));
    EXPECT_EQ(enter->pressedColour(), QColor(205, 205, 180));
    EXPECT_TRUE(d.findChild<QPushButton*>("defaultButton")->isHidden());
    EXPECT_EQ(d.gauge()->dial().maxValue, 600);
    // "MyFont": bold, fixed pitch, a 25-pixel cell; START's face is larger.
    const QFont f = d.cell(1, 1)->font();
    EXPECT_TRUE(f.bold());
    EXPECT_LE(QFontMetrics(f).height(), 25);
    EXPECT_GE(QFontMetrics(f).height(), 22);
    EXPECT_NEAR(QFontMetricsF(f).horizontalAdvance('W'), 10.0, 1.5);
    EXPECT_GT(d.findChild<QPushButton*>("startButton")->font().pixelSize(), f.pixelSize());

    d.setTopList({ForceTopRow{"Ann", 5015.378}, ForceTopRow{"", 0.076}});
    EXPECT_EQ(d.cell(1, 1)->text(), "Ann");
    EXPECT_EQ(d.cell(1, 2)->text(), "5015.378");
    EXPECT_EQ(d.cell(2, 2)->text(), "0.076");
    EXPECT_EQ(d.cell(3, 2)->text(), "0");
}

TEST(ForceDialog, ScalesFromTheOriginalLayoutWithoutDrift)
{
    ForceDialog d;
    d.setAttribute(Qt::WA_DontShowOnScreen);
    d.show();
    QApplication::processEvents();
    const QSize original = d.size();
    const auto before = geometries(d);
    ASSERT_GT(before.size(), 40u);

    d.resize(original * 2);
    QApplication::processEvents();
    const QRect start = before.at("startButton");
    EXPECT_EQ(d.findChild<QWidget*>("startButton")->geometry(),
              QRect(start.x() * 2, start.y() * 2, start.width() * 2, start.height() * 2));

    // Odd sizes in between would round away a pixel each time if every
    // resize scaled from the previous one.
    for (QSize s : {QSize(1001, 703), QSize(777, 555), QSize(1333, 911), QSize(901, 601)}) {
        d.resize(s);
        QApplication::processEvents();
    }
    d.resize(original);
    QApplication::processEvents();
    EXPECT_EQ(geometries(d), before);
}

TEST(ForceDialog, RoundTripThroughTheWindowAndTheSimulatedBox)
{
    std::shared_ptr<SimBox> box;
    CQuillmarkDlg w(makeDemoBus(&box));
    box->encoder().setResolution(17, 0, 8);
    box->encoder().setSpeedRpm(0);
    for (auto [c, text] : {std::pair{fieldWidthControl(1), "17"}, std::pair{fieldWidthControl(2), "8"},
                           std::pair{fieldWidthControl(3), "0"}, std::pair{Control::ContentCount, "2"}}) {
        w.view().setText(c, text);
        w.toBench([c, text = QString(text)](Bench& b) { b.onEdited(c, text); });
    }
    w.toBench([](Bench& b) { b.onCommand(Command::ClickingSetting); });
    w.waitForBench();
    ASSERT_TRUE(w.bench().context().state.configApplied);

    qobject_cast<QAction*>(w.controlObject(Control::MenuForce))->trigger();

    w.waitForBench();
    QPointer<ForceDialog> d = qobject_cast<ForceDialog*>(w.windowDialogs().dialog(DialogKind::Force));
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->isWindow());

    // Enter in the dialog presses nothing; the dialog stays.
    QKeyEvent enterKey(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(d, &enterKey);
    EXPECT_TRUE(d->isVisible());

    d->nameEdit()->setFocus();
    d->nameEdit()->setText("Ann");
    emit d->nameEdit()->textEdited("Ann");
    w.waitForBench();
    d->findChild<QPushButton*>("enterButton")->click();
    w.waitForBench();
    EXPECT_EQ(d->findChild<CColourButton*>("enterButton")->normalColour(), QColor(127, 255, 0));

    auto* start = d->findChild<QPushButton*>("startButton");
    start->click();
    w.waitForBench();
    EXPECT_EQ(start->text(), "STOP");
    EXPECT_FALSE(d->nameEdit()->isEnabled());
    EXPECT_FALSE(d->findChild<QPushButton*>("backButton")->isEnabled());
    EXPECT_TRUE(d->liveTimerActive());
    runEventsUntil([] { return false; }, 50);
    box->encoder().setPositionCounts(65536);
    EXPECT_TRUE(runEventsUntil([&] { return d->liveText() == "5015.378"; }));
    EXPECT_DOUBLE_EQ(d->gauge()->value(), 5015.378);
    start->click();
    w.waitForBench();
    EXPECT_EQ(start->text(), "START");
    EXPECT_FALSE(d->liveTimerActive());
    EXPECT_EQ(d->recordText(), "5015.378");
    EXPECT_EQ(d->cell(1, 1)->text(), "Ann");
    EXPECT_EQ(d->cell(1, 2)->text(), "5015.378");

    // "Back to home": the dialog is deleted and timer 4 ends the stream.
    d->findChild<QPushButton*>("backButton")->click();
    w.waitForBench();
    EXPECT_TRUE(runEventsUntil([&] { return d.isNull(); }));
    EXPECT_TRUE(runEventsUntil([&] { return !w.bench().context().flags().isUp(Flag::ForceActive); }));

    // The next choice of the menu item opens a new, empty dialog.
    qobject_cast<QAction*>(w.controlObject(Control::MenuForce))->trigger();
    w.waitForBench();
    QPointer<ForceDialog> again = qobject_cast<ForceDialog*>(w.windowDialogs().dialog(DialogKind::Force));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->cell(1, 1)->text(), "");
    EXPECT_EQ(again->cell(1, 2)->text(), "0");
}
