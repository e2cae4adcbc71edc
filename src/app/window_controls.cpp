#include "app/window_controls.h"

#include "interface/protocol_table.h"
#include "ui_quillmark_dlg.h"
#include "widgets/colour_button.h"
#include "widgets/lamp_images.h"
#include "widgets/meter.h"
#include "widgets/widget_fonts.h"

#include <QAbstractItemView>
#include <QRegularExpressionValidator>

namespace {

const QColor kListPopupColour{245, 245, 220};
const QColor kDescriptionColour{205, 205, 180};
const QColor kGaugeFieldColour{127, 255, 0};
const QColor kToolsMenuColour{211, 211, 211};

Lamp toLamp(LampImage image)
{
    switch (image) {
    case LampImage::Lit:
        return Lamp::Lit;
    case LampImage::Passed:
        return Lamp::Passed;
    case LampImage::Unlit:
        break;
    }
    return Lamp::Unlit;
}

// Background `bg` with black text: how the coloured edits and lists paint.
void paintBackground(QWidget* w, const QColor& bg)
{
    QPalette p = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, bg);
        p.setColor(group, QPalette::Text, Qt::black);
    }
    w->setPalette(p);
}

}  // namespace

WindowControls::WindowControls(Ui::CQuillmarkDlg& ui, QWidget* owner)
{
    map(ui);
    style(ui, owner);
    fillLists(ui);
}

QLineEdit* WindowControls::fieldWidthEdit(int k) const
{
    return qobject_cast<QLineEdit*>(object(fieldWidthControl(k)));
}

void WindowControls::map(Ui::CQuillmarkDlg& u)
{
    auto set = [this](Control c, QObject* o) { objects_[static_cast<int>(c)] = o; };

    set(Control::Protocols, u.protocolsList);
    set(Control::ContentCount, u.contentCountEdit);
    QLineEdit* labels[] = {u.fieldLabel1, u.fieldLabel2, u.fieldLabel3, u.fieldLabel4, u.fieldLabel5,
                           u.fieldLabel6, u.fieldLabel7, u.fieldLabel8, u.fieldLabel9, u.fieldLabel10};
    QLineEdit* widths[] = {u.fieldWidth1, u.fieldWidth2, u.fieldWidth3, u.fieldWidth4, u.fieldWidth5,
                           u.fieldWidth6, u.fieldWidth7, u.fieldWidth8, u.fieldWidth9, u.fieldWidth10};
    QLineEdit* values[] = {u.fieldValue1, u.fieldValue2, u.fieldValue3, u.fieldValue4, u.fieldValue5,
                           u.fieldValue6, u.fieldValue7, u.fieldValue8, u.fieldValue9, u.fieldValue10};
    for (int k = 1; k <= 10; ++k) {
        set(fieldLabelControl(k), labels[k - 1]);
        set(fieldWidthControl(k), widths[k - 1]);
        set(fieldValueControl(k), values[k - 1]);
    }
    set(Control::CrcList, u.crcList);
    set(Control::TurnList, u.turnList);
    set(Control::GrayBinaryText, u.grayBinaryEdit);
    set(Control::FrequencyText, u.frequencyEdit);
    set(Control::ClickingSetting, u.clickingSettingButton);

    set(Control::GaugeField, u.gaugeFieldEdit);
    set(Control::DisplayBase, u.displayBaseList);
    set(Control::RawFrame, u.rawFrameEdit);
    set(Control::Gauge, u.gauge);
    set(Control::Angle, u.angleEdit);
    set(Control::Frozen1, u.frozen1Edit);
    set(Control::Frozen2, u.frozen2Edit);
    set(Control::Frozen3, u.frozen3Edit);
    set(Control::Description, u.descriptionEdit);

    set(Control::ReadData, u.readDataButton);
    set(Control::SincosTest, u.sincosTestButton);
    set(Control::ResetAngle, u.resetAngleButton);
    set(Control::ResetMultiTurn, u.resetMultiTurnButton);
    set(Control::SaveFile, u.saveFileButton);
    set(Control::TimedCapture, u.timedCaptureCheck);
    set(Control::CaptureSeconds, u.captureSecondsEdit);
    set(Control::CaptureLamp, u.captureLamp);
    set(Control::SaveAsDecimal, u.saveAsDecimalCheck);
    set(Control::AutomaticSave, u.automaticSaveCheck);
    set(Control::WriteEeprom, u.writeEepromButton);
    set(Control::EepromValue, u.eepromValueEdit);
    set(Control::EepromLamp, u.eepromLamp);

    set(Control::AbsTest, u.absTestButton);
    set(Control::AbsProgress, u.absProgress);
    set(Control::AbsLamp, u.absLamp);
    set(Control::ErrorAngle, u.errorAngleEdit);
    set(Control::ErrorIndex, u.errorIndexEdit);
    set(Control::AbsRowCheck, u.absRowCheck);
    set(Control::Resolution, u.resolutionButton);
    set(Control::ResolutionProgress, u.resolutionProgress);
    set(Control::TruncateBits, u.truncateBitsEdit);
    set(Control::CycleCount, u.cycleCountEdit);
    set(Control::ResolutionResult, u.resolutionResultEdit);
    set(Control::PowerControl, u.powerControlButton);

    set(Control::MenuLoadConfig, u.actionLoadConfig);
    set(Control::MenuSaveConfig, u.actionSaveConfig);
    set(Control::MenuClock9_6, u.actionClock9_6);
    set(Control::MenuClock4_8, u.actionClock4_8);
    set(Control::MenuClock2_4, u.actionClock2_4);
    set(Control::MenuClock1_2, u.actionClock1_2);
    set(Control::MenuBinary, u.actionBinary);
    set(Control::MenuGray, u.actionGray);
    set(Control::MenuCalibration, u.actionCalibration);
    set(Control::MenuForce, u.actionForce);
    set(Control::MenuAbout, u.actionAbout);
}

void WindowControls::style(Ui::CQuillmarkDlg& u, QWidget* owner)
{

    // The window's bold font: a face 15 pixels high (cell height).
    const QFont bold = arialFont(15, true);
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.clickingSettingButton, u.resolutionButton, u.readDataButton, u.resetAngleButton,
             u.absTestButton, u.powerControlButton, u.saveFileButton, u.resetMultiTurnButton,
             u.writeEepromButton, u.descriptionLabel, u.protocolsLabel, u.crcLabel, u.turnLabel,
             u.grayBinaryLabel, u.frequencyLabel})
        w->setFont(bold);

    for (QComboBox* list : {u.protocolsList, u.crcList, u.turnList, u.displayBaseList})
        paintBackground(list->view(), kListPopupColour);
    paintBackground(u.descriptionEdit, kDescriptionColour);

    QPalette tools = u.menuTools->palette();
    tools.setColor(QPalette::Window, kToolsMenuColour);
    tools.setColor(QPalette::Base, kToolsMenuColour);
    u.menuTools->setPalette(tools);
    u.menuTools->setAutoFillBackground(true);

    // Widths are digits only.
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), owner);
    for (int k = 1; k <= 10; ++k)
        fieldWidthEdit(k)->setValidator(digits);
    u.errorIndexEdit->setValidator(digits);

    for (CLamp* lamp : {u.captureLamp, u.eepromLamp, u.absLamp})
        lamp->setLamp(Lamp::Unlit);
}

void WindowControls::fillLists(Ui::CQuillmarkDlg& u)
{
    for (const ProtocolInfo& p : protocolTable())
        u.protocolsList->addItem(QString::fromUtf8(p.name.data(), static_cast<qsizetype>(p.name.size())));
    u.turnList->addItems({QStringLiteral("Single turn"), QStringLiteral("Multiturn")});
    u.crcList->addItems({QStringLiteral("inverted"), QStringLiteral("notinverted")});
    u.displayBaseList->addItems({QStringLiteral("Binary"), QStringLiteral("Decimal"), QStringLiteral("Hex")});
    u.displayBaseList->setCurrentIndex(2);
}

void WindowControls::apply(const ControlChange& change, const ControlState& s)
{
    QObject* o = object(change.control);
    const std::uint32_t f = change.fields;
    if (auto* e = qobject_cast<QLineEdit*>(o)) {
        if ((f & kFieldText) && e->text() != s.text)
            e->setText(s.text);
        if (f & kFieldHighlight) {
            if (s.highlighted)
                paintBackground(e, kGaugeFieldColour);
            else
                e->setPalette(QPalette());
        }
    } else if (auto* l = qobject_cast<QComboBox*>(o)) {
        if (f & (kFieldIndex | kFieldText))
            l->setCurrentIndex(s.index);
    } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
        if (f & kFieldText)
            b->setText(s.text);
        if (f & kFieldChecked)
            b->setChecked(s.checked);
        if (auto* cb = qobject_cast<CColourButton*>(b); cb && (f & kFieldColours)) {
            cb->setPressedColour(s.pressed);
            cb->setNormalColour(s.normal);
        }
    } else if (auto* lamp = qobject_cast<CLamp*>(o)) {
        if (f & kFieldLamp)
            lamp->setLamp(toLamp(s.lamp));
    } else if (auto* lb = qobject_cast<QLabel*>(o)) {
        if (f & kFieldText)
            lb->setText(s.text);
    } else if (auto* a = qobject_cast<QAction*>(o)) {
        if (f & kFieldText)
            a->setText(s.text);
        if (f & kFieldChecked)
            a->setChecked(s.checked);
        if (f & kFieldEnabled)
            a->setEnabled(s.enabled);
        if (f & kFieldVisible)
            a->setVisible(s.visible);
        return;
    } else if (auto* bar = qobject_cast<QProgressBar*>(o)) {
        if (f & kFieldProgress)
            bar->setValue(s.progress);
    } else if (auto* gauge = qobject_cast<CGauge*>(o)) {
        if (f & kFieldValue) {
            gauge->setValue(s.value);
            gauge->update();
        }
    }
    if (auto* w = qobject_cast<QWidget*>(o)) {
        if (f & kFieldEnabled)
            w->setEnabled(s.enabled);
        if (f & kFieldVisible)
            w->setVisible(s.visible);
    }
}

QString WindowControls::text(Control c) const
{
    QObject* o = object(c);
    if (auto* e = qobject_cast<QLineEdit*>(o))
        return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->text();
    if (auto* l = qobject_cast<QComboBox*>(o))
        return l->currentText();
    if (auto* lb = qobject_cast<QLabel*>(o))
        return lb->text();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->text();
    return {};
}

bool WindowControls::isEnabled(Control c) const
{
    QObject* o = object(c);
    if (auto* w = qobject_cast<QWidget*>(o))
        return w->isEnabled();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->isEnabled();
    return false;
}

bool WindowControls::isVisible(Control c) const
{
    QObject* o = object(c);
    if (auto* w = qobject_cast<QWidget*>(o))
        return !w->isHidden();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->isVisible();
    return false;
}

bool WindowControls::isChecked(Control c) const
{
    QObject* o = object(c);
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->isChecked();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->isChecked();
    return false;
}

int WindowControls::currentIndex(Control c) const
{
    if (auto* l = qobject_cast<QComboBox*>(object(c)))
        return l->currentIndex();
    return -1;
}
