// The calibration dialogs as widgets, opened from the main window on the
// simulated box: captions and lists, the access dialog's confirm by button
// and by Enter, Enter in the calibration dialog, and closing.
#include "app/calibration_dialogs.h"
#include "app/quillmark_dlg.h"
#include "app/window_dialogs.h"
#include "bench/bench.h"
#include "bench/encoder_calibration.h"
#include "bench/timers.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "widgets/lamp_images.h"
#include "support/pump_events.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Closes every message box that opens while it lives and keeps its text.
class MessageWatcher {
public:
    MessageWatcher()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                box->close();
            }
        });
        timer_.start(10);
    }
    QStringList texts;

private:
    QTimer timer_;
};

void pressEnter(QWidget* target)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

class CalibrationDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dataRoot.isValid());
        qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
        bus = std::make_shared<SimBus>();
        bus->addDevice(std::make_shared<SimBox>());
        dlg = std::make_unique<CQuillmarkDlg>(bus);
        dlg->show();
        pumpEvents();
        qobject_cast<QAction*>(dlg->controlObject(Control::MenuCalibration))->trigger();
        dlg->waitForBench();
        pumpEvents(20);
    }
    void TearDown() override
    {
        dlg.reset();
        qunsetenv("XDG_DATA_HOME");
    }
    CalibrationDialog* calibration() const
    {
        return qobject_cast<CalibrationDialog*>(dlg->windowDialogs().dialog(DialogKind::Calibration));
    }
    CalibrationAccessDialog* access() const
    {
        return qobject_cast<CalibrationAccessDialog*>(dlg->windowDialogs().dialog(DialogKind::CalibrationAccess));
    }
    QPushButton* button(CalControl c) const { return qobject_cast<QPushButton*>(calibration()->control(c)); }
    void openAccess()
    {
        button(CalControl::Access)->click();
        dlg->waitForBench();
        pumpEvents(20);
        ASSERT_NE(access(), nullptr);
    }
    void typeCode(const QString& code)
    {
        auto* field = qobject_cast<QLineEdit*>(access()->codeField());
        field->setText(code);
    }

    QTemporaryDir dataRoot;
    std::shared_ptr<SimBus> bus;
    std::unique_ptr<CQuillmarkDlg> dlg;
};

}  // namespace

TEST_F(CalibrationDialogsTest, OpensWithEveryCaptionAndComboAndHidesTheMainWindow)
{
    CalibrationDialog* d = calibration();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(dlg->QWidget::isVisible());
    EXPECT_EQ(d->windowTitle(), "Encoder_calibration");

    QStringList captions;
    for (QWidget* w : d->findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            captions << b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            captions << l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            captions << g->title();
    }
    for (const char* c : {"编码器1校准", "编码器1校准信息", "编码器2校准", "编码器2校准信息", "CCW/CW:", "极对数:",
                          "载波频率:", "校准权限", "启动校准", "粗圈偏心", "细圈ADC", "粗圈ADC", "细圈半径", "零点对齐",
                          "粗圈sin:", "粗圈cos:", "细圈sin:", "细圈cos:", "细圈半径:", "粗圈零偏:", "细圈零偏:",
                          "用户零偏:", "温度:", "粗ADC:", "细ADC:", "偏心%:", "程序版本号:", "程序版本解析:",
                          "获取校准信息", "返回主页", "唤醒", "唤醒后请转动编码器至少2圈", "对空气校准", "B1B2校正",
                          "请将编码器先逆时针转一圈后顺时针转一圈", "零偏补偿:", "B1角度:", "B2角度:", "编码器序号:"})
        EXPECT_TRUE(captions.contains(QString::fromUtf8(c))) << c;
    EXPECT_EQ(captions.count("获取校准信息"), 2);
    EXPECT_EQ(captions.count("零点对齐"), 2);

    auto items = [d](CalControl c) {
        QStringList out;
        auto* combo = qobject_cast<QComboBox*>(d->control(c));
        for (int i = 0; i < combo->count(); ++i)
            out << combo->itemText(i);
        return out;
    };
    EXPECT_EQ(items(CalControl::Direction), (QStringList{"    O", "    N"}));
    EXPECT_EQ(items(CalControl::PolePairs),
              (QStringList{"  无UVW信号", "  一对极", "  二对极", "  三对极", "  四对极", "  五对极", "  六对极",
                           "  八对极", "  十对极", "  十六对极"}));
    EXPECT_EQ(items(CalControl::Carrier), (QStringList{"    25K", "    31.25k"}));
    EXPECT_FALSE(button(CalControl::Start)->isEnabled());
    EXPECT_FALSE(button(CalControl::Wake)->isEnabled());
    EXPECT_EQ(qobject_cast<CLamp*>(d->control(CalControl::StartLamp))->lamp(), Lamp::Unlit);
}

TEST_F(CalibrationDialogsTest, AccessByEnterAndByButton)
{
    MessageWatcher messages;
    openAccess();
    EXPECT_EQ(access()->windowTitle(), "密码界面");

    // An empty field and Enter: one message, the dialog stays.
    pressEnter(access()->codeField());
    dlg->waitForBench();
    pumpEvents(80);
    EXPECT_EQ(messages.texts, QStringList{"密码不能为空"});
    ASSERT_NE(access(), nullptr);

    // A wrong code by the button: the field is emptied for another try.
    typeCode("482 ");
    access()->findChild<QPushButton*>("confirmButton")->click();
    dlg->waitForBench();
    pumpEvents(80);
    EXPECT_EQ(messages.texts, (QStringList{"密码不能为空", "密码输入错误"}));
    ASSERT_NE(access(), nullptr);
    EXPECT_TRUE(qobject_cast<QLineEdit*>(access()->codeField())->text().isEmpty());

    // The right code by Enter grants access and closes the dialog, which is
    // deleted; the next display tick unlocks the first steps.
    QPointer<CalibrationAccessDialog> gone = access();
    typeCode("482");
    pressEnter(access()->codeField());
    dlg->waitForBench();
    pumpEvents(50);
    EXPECT_TRUE(gone.isNull());
    EXPECT_EQ(messages.texts.size(), 2);
    dlg->toBench([](Bench& b) { b.onCalibrationDisplayTick(); });
    dlg->waitForBench();
    EXPECT_TRUE(button(CalControl::Start)->isEnabled());
    EXPECT_TRUE(button(CalControl::Wake)->isEnabled());
    EXPECT_EQ(qobject_cast<CLamp*>(calibration()->control(CalControl::AccessLamp))->lamp(), Lamp::Passed);
}

TEST_F(CalibrationDialogsTest, EnterDoesNothingAndReturnHomeDeletesTheDialog)
{
    QPointer<CalibrationDialog> d = calibration();
    ASSERT_FALSE(d.isNull());
    pressEnter(button(CalControl::Access));
    pressEnter(d);
    dlg->waitForBench();
    pumpEvents(30);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(access(), nullptr);

    button(CalControl::Home)->click();
    dlg->waitForBench();
    pumpEvents(30);
    EXPECT_TRUE(d.isNull());
    // Timer 3 brings the main window back at its next tick.
    dlg->toBench([](Bench& b) { b.onTimer(kTimerCalibration); });
    dlg->waitForBench();
    dlg->waitForBench();
    pumpEvents(30);
    EXPECT_TRUE(dlg->QWidget::isVisible());
}

TEST_F(CalibrationDialogsTest, TheCloseBoxClosesAsReturnHomeDoes)
{
    QPointer<CalibrationDialog> d = calibration();
    ASSERT_FALSE(d.isNull());
    d->close();
    dlg->waitForBench();
    pumpEvents(30);
    EXPECT_TRUE(d.isNull());
    EXPECT_TRUE(dlg->bench().calibration().engine().closed());
}

TEST(CalibrationMainWindow, HidingTheMainWindowDoesNotEndItsDialogLoop)
{
    QTemporaryDir dataRoot;
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    auto bus = std::make_shared<SimBus>();
    CQuillmarkDlg dlg(bus);
    bool stillRunning = false;
    QTimer::singleShot(0, &dlg, [&] { dlg.windowDialogs().hideMainWindow(); });
    QTimer::singleShot(150, &dlg, [&] {
        stillRunning = true;
        dlg.windowDialogs().showMainWindow();
        dlg.done(QDialog::Accepted);
    });
    dlg.exec();
    EXPECT_TRUE(stillRunning);
    qunsetenv("XDG_DATA_HOME");
}
