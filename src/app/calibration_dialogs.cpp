#include "app/calibration_dialogs.h"

#include "app/window_dialogs.h"
#include "calibration/cal_access.h"
#include "ui_calibration_access_dialog.h"
#include "ui_calibration_dialog.h"
#include "widgets/lamp_images.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace {

bool isEnter(const QKeyEvent* e)
{
    return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
}

Lamp lampOf(CalIndicator state)
{
    switch (state) {
    case CalIndicator::Success: return Lamp::Passed;
    case CalIndicator::Failure: return Lamp::Lit;
    case CalIndicator::Idle: break;
    }
    return Lamp::Unlit;
}

constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

}  // namespace

// ------------------------------------------------------------ access dialog

CalibrationAccessDialog::CalibrationAccessDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CalibrationAccessDialog>())
{
    ui_->setupUi(this);
    setWindowFlags(kFixedDialogFlags);
    setFixedSize(size());
    connect(ui_->confirmButton, &QPushButton::clicked, this, [this] { confirm(false); });
    ui_->codeEdit->setFocus();
}

CalibrationAccessDialog::~CalibrationAccessDialog() = default;

QWidget* CalibrationAccessDialog::codeField() const
{
    return ui_->codeEdit;
}

void CalibrationAccessDialog::confirm(bool enterKey)
{
    const QString typed = ui_->codeEdit->text();
    ui_->codeEdit->clear();
    emit codeConfirmed(typed, enterKey);
}

void CalibrationAccessDialog::keyPressEvent(QKeyEvent* e)
{
    if (isEnter(e)) {
        // One confirm per press; the dialog's default handling (accept,
        // the default button) is not run as well.
        if (!e->isAutoRepeat())
            confirm(true);
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// ------------------------------------------------------------ calibration dialog

CalibrationDialog::CalibrationDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CalibrationDialog>())
{
    ui_->setupUi(this);
    setWindowFlags(kFixedDialogFlags | Qt::WindowMinimizeButtonHint);
    setFixedSize(size());
    mapControls();
    fillCalibrationCombos(*this);

    // Locked until access is granted; the steps wait for their start.
    for (CalControl c : {CalControl::Start, CalControl::Wake, CalControl::CoarseEcc, CalControl::FineAdc,
                         CalControl::CoarseAdc, CalControl::FineRadius, CalControl::Zero1, CalControl::AirCal,
                         CalControl::Zero2, CalControl::B1B2, CalControl::Info2})
        applyEnabled(c, false);

    for (int i = 0; i < kCalControlCount; ++i) {
        const auto c = static_cast<CalControl>(i);
        if (auto* b = qobject_cast<QAbstractButton*>(control(c)))
            connect(b, &QAbstractButton::clicked, this, [this, c] { emit buttonPressed(c); });
        else if (auto* combo = qobject_cast<QComboBox*>(control(c)))
            connect(combo, &QComboBox::activated, this, [this, c](int index) { emit comboChosen(c, index); });
    }
    connect(&displayTimer_, &QTimer::timeout, this, &CalibrationDialog::displayTick);
    displayTimer_.start(kDisplayPeriodMs);
}

CalibrationDialog::~CalibrationDialog() = default;

void CalibrationDialog::mapControls()
{
    Ui::CalibrationDialog& u = *ui_;
    auto set = [this](CalControl c, QWidget* w) { controls_[static_cast<std::size_t>(c)] = w; };
    set(CalControl::Direction, u.directionCombo);
    set(CalControl::PolePairs, u.polePairsCombo);
    set(CalControl::Carrier, u.carrierCombo);
    set(CalControl::Access, u.accessButton);
    set(CalControl::Start, u.startButton);
    set(CalControl::CoarseEcc, u.coarseEccButton);
    set(CalControl::FineAdc, u.fineAdcButton);
    set(CalControl::CoarseAdc, u.coarseAdcButton);
    set(CalControl::FineRadius, u.fineRadiusButton);
    set(CalControl::Zero1, u.zero1Button);
    set(CalControl::Info1, u.info1Button);
    set(CalControl::Home, u.homeButton);
    set(CalControl::Wake, u.wakeButton);
    set(CalControl::AirCal, u.airCalButton);
    set(CalControl::Zero2, u.zero2Button);
    set(CalControl::B1B2, u.b1b2Button);
    set(CalControl::Info2, u.info2Button);

    set(CalControl::AccessLamp, u.accessLamp);
    set(CalControl::StartLamp, u.startLamp);
    set(CalControl::CoarseEccLamp, u.coarseEccLamp);
    set(CalControl::FineAdcLamp, u.fineAdcLamp);
    set(CalControl::CoarseAdcLamp, u.coarseAdcLamp);
    set(CalControl::FineRadiusLamp, u.fineRadiusLamp);
    set(CalControl::Zero1Lamp, u.zero1Lamp);
    set(CalControl::WakeLamp, u.wakeLamp);
    set(CalControl::Wake2Lamp, u.wake2Lamp);
    set(CalControl::AirCalLamp, u.airCalLamp);
    set(CalControl::Zero2Lamp, u.zero2Lamp);
    set(CalControl::B1Lamp, u.b1Lamp);
    set(CalControl::B2Lamp, u.b2Lamp);

    set(CalControl::Info1CoarseZero, u.info1CoarseZero);
    set(CalControl::Info1FineZero, u.info1FineZero);
    set(CalControl::Info1CoarseSin, u.info1CoarseSin);
    set(CalControl::Info1CoarseCos, u.info1CoarseCos);
    set(CalControl::Info1FineRadius, u.info1FineRadius);
    set(CalControl::Info1UserZero, u.info1UserZero);
    set(CalControl::Info1Temperature, u.info1Temperature);
    set(CalControl::Info1FineSin, u.info1FineSin);
    set(CalControl::Info1FineCos, u.info1FineCos);
    set(CalControl::Info1EccentricitySin, u.info1EccentricitySin);
    set(CalControl::Info1EccentricityCos, u.info1EccentricityCos);
    set(CalControl::Info1FirmwareCode, u.info1FirmwareCode);
    set(CalControl::Info1FirmwareText, u.info1FirmwareText);
    set(CalControl::Info1CoarseAdc, u.info1CoarseAdc);
    set(CalControl::Info1FineAdc, u.info1FineAdc);

    set(CalControl::Info2CoarseSin, u.info2CoarseSin);
    set(CalControl::Info2CoarseCos, u.info2CoarseCos);
    set(CalControl::Info2FineSin, u.info2FineSin);
    set(CalControl::Info2FineCos, u.info2FineCos);
    set(CalControl::Info2ZeroOffset, u.info2ZeroOffset);
    set(CalControl::Info2B1Angle, u.info2B1Angle);
    set(CalControl::Info2B2Angle, u.info2B2Angle);
    set(CalControl::Info2Serial, u.info2Serial);

    for (CalControl c : {CalControl::AccessLamp, CalControl::StartLamp, CalControl::CoarseEccLamp,
                         CalControl::FineAdcLamp, CalControl::CoarseAdcLamp, CalControl::FineRadiusLamp,
                         CalControl::Zero1Lamp, CalControl::WakeLamp, CalControl::Wake2Lamp, CalControl::AirCalLamp,
                         CalControl::Zero2Lamp, CalControl::B1Lamp, CalControl::B2Lamp})
        applyIndicator(c, CalIndicator::Idle);
}

void fillCalibrationCombos(CalibrationDialog& dialog)
{
    auto fill = [&dialog](CalControl c, std::span<const CalComboItem> items) {
        auto* combo = qobject_cast<QComboBox*>(dialog.control(c));
        for (const CalComboItem& item : items)
            combo->addItem(QString::fromUtf8(item.text));
        combo->setCurrentIndex(0);
    };
    fill(CalControl::Direction, calDirectionItems());
    fill(CalControl::PolePairs, calPolePairItems());
    fill(CalControl::Carrier, calCarrierItems());
}

void CalibrationDialog::applyEnabled(CalControl c, bool on)
{
    if (QWidget* w = control(c))
        w->setEnabled(on);
}

void CalibrationDialog::applyText(CalControl c, const QString& text)
{
    QWidget* w = control(c);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        p->setPlainText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
}

void CalibrationDialog::applyIndicator(CalControl c, CalIndicator state)
{
    if (auto* lamp = qobject_cast<CLamp*>(control(c)))
        lamp->setLamp(lampOf(state));
}

void CalibrationDialog::applySelection(CalControl combo, int index)
{
    if (auto* box = qobject_cast<QComboBox*>(control(combo)))
        box->setCurrentIndex(index);
}

void CalibrationDialog::keyPressEvent(QKeyEvent* e)
{
    if (isEnter(e)) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// Esc closes the dialog as "返回主页" does.
void CalibrationDialog::reject()
{
    close();
}

void CalibrationDialog::closeEvent(QCloseEvent* e)
{
    // Not QDialog's handling, which would reject (and so close) once more.
    displayTimer_.stop();
    emit buttonPressed(CalControl::Home);
    e->accept();
}

// ------------------------------------------------------------ window view

template <typename F>
void CalibrationWindowView::onDialog(F&& apply)
{
    auto run = [this, apply = std::forward<F>(apply)] {
        if (auto* d = qobject_cast<CalibrationDialog*>(dialogs_.dialog(DialogKind::Calibration)))
            apply(*d);
    };
    if (QThread::currentThread() == context_->thread())
        run();
    else
        QMetaObject::invokeMethod(context_, std::move(run), Qt::QueuedConnection);
}

void CalibrationWindowView::setEnabled(CalControl c, bool on)
{
    onDialog([c, on](CalibrationDialog& d) { d.applyEnabled(c, on); });
}

void CalibrationWindowView::setText(CalControl c, const QString& text)
{
    onDialog([c, text](CalibrationDialog& d) { d.applyText(c, text); });
}

void CalibrationWindowView::setIndicator(CalControl c, CalIndicator state)
{
    onDialog([c, state](CalibrationDialog& d) { d.applyIndicator(c, state); });
}

void CalibrationWindowView::selectItem(CalControl combo, int index)
{
    onDialog([combo, index](CalibrationDialog& d) { d.applySelection(combo, index); });
}
