#include "app/quillmark_dlg.h"

#include "bench/bench.h"
#include "bench/bench_state.h"
#include "app/global_hot_key.h"
#include "app/about_dialog.h"
#include "app/calibration_dialogs.h"
#include "app/force_dialog.h"
#include "app/quillmark_app.h"
#include "app/sincos_dialog.h"
#include "app/window_dialogs.h"
#include "bench/bench_thread.h"
#include "interface/protocol_table.h"
#include "results/results_store.h"
#include "ui_quillmark_dlg.h"
#include "widgets/colour_button.h"
#include "widgets/lamp_images.h"
#include "widgets/meter.h"
#include "widgets/widget_fonts.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QRegularExpressionValidator>
#include <QThread>
#include <QTimer>

// Threading. Widgets are touched on the GUI thread only. A view call made
// there is applied at once. From a worker, a setter is queued to the GUI
// thread (calls of one worker keep their order); a getter or a modal dialog
// is queued too and the worker waits for the answer. That wait also ends
// when the window starts to close: the close joins the workers, and a
// worker waiting for the GUI thread would never be joined. It then gets a
// neutral answer (empty text, false, 0, a cancelled dialog).

namespace {

constexpr int kHotKeyId = 199;
constexpr char kHotKeyLetter = 's';

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

CQuillmarkDlg::CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CQuillmarkDlg>())
{
    CQuillmarkApp::installFontSubstitutions();
    ui_->setupUi(this);
    // A fixed dialog template: no resizing, a minimize box, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // The .ui file carries the template's title; the box search replaces it.

    mapControls();
    styleControls();
    fillLists();

    benchThread_ = std::make_unique<BenchThread>();
    benchThread_->setTickHandler([this](int id) {
        if (!shutDown_)
            bench_->onTimer(id);
    });

    hotKey_ = std::make_unique<GlobalHotKey>(kHotKeyId, kHotKeyLetter, this);
    dialogs_ = std::make_unique<WindowDialogs>(this);
    sinCosView_ = std::make_unique<SinCosDialogView>(*dialogs_, this);
    dialogs_->setSinCosView(sinCosView_.get());
    dialogs_->registerDialog(DialogKind::SinCos, [this](QWidget* parent) {
        auto* d = new SinCosDialog(parent);
        connect(d, &SinCosDialog::refreshDue, this, [this] { toBench([](Bench& b) { b.onSinCosRefresh(); }); });
        connect(d, &SinCosDialog::collectionPressed, this,
                [this] { toBench([](Bench& b) { b.onSinCosCollection(); }); });
        connect(d, &SinCosDialog::backToHome, this, [this] { toBench([](Bench& b) { b.onSinCosBackToHome(); }); });
        return d;
    });

    state_ = std::make_unique<BenchState>();
    bench_ = std::make_unique<Bench>(*state_, *this);
    connectControls();
    registerCalibrationDialogs();

    dialogs_->registerDialog(DialogKind::Force, [this](QWidget* parent) {
        auto* d = new ForceDialog(parent);
        auto input = [this](ForceInput in, const QString& text = {}) {
            toBench([in, text](Bench& b) { b.onForce(in, text); });
        };
        connect(d, &ForceDialog::entered, this, [input] { input(ForceInput::Enter); });
        connect(d, &ForceDialog::nameEdited, this, [input](const QString& t) { input(ForceInput::NameEdited, t); });
        connect(d, &ForceDialog::startStopClicked, this, [input] { input(ForceInput::StartStop); });
        connect(d, &ForceDialog::liveTick, this, [input] { input(ForceInput::LiveTick); });
        connect(d, &ForceDialog::closing, this, [input] { input(ForceInput::Close); });
        return d;
    });

    // Start-up runs here, before the bench thread takes any work; from then
    // on every handler, tick and device change runs on the bench thread.
    // Device changes arrive on a backend thread.
    bench_->startUp(std::move(backend), [this](const DeviceChangeEvent& e) {
        benchThread_->post([this, e] {
            if (!closing_ && !shutDown_)
                bench_->onDeviceChange(e);
        });
    });
}

void CQuillmarkDlg::keepResults(std::shared_ptr<ResultsStore> store, bool simulated)
{
    resultsStore_ = store;
    QPointer<CQuillmarkDlg> self(this);
    store->setNotice([self](const QString& text, const QString& detail) {
        QMetaObject::invokeMethod(
            qApp,
            [self, text, detail] {
                if (!self)
                    return;
                // Not modal: a test in progress goes on.
                auto* box = new QMessageBox(QMessageBox::Information, self->windowTitle(), text, QMessageBox::Ok, self);
                box->setDetailedText(detail);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->setModal(false);
                box->show();
            },
            Qt::QueuedConnection);
    });
    ResultSink sink = [store, simulated](const TestReport& r) { store->record(ResultRow::make(r.command, r.passed, r.figures, r.serial, r.config, simulated)); };
    toBench([sink](Bench& b) { b.context().setResultSink(sink); });
    waitForBench();
}

CQuillmarkDlg::~CQuillmarkDlg()
{
    beginClosing();
    // Stop-all and the box released on the bench thread, after whatever it
    // is doing; every worker is joined there, before the state and the
    // widgets go. Its calls of the view get neutral answers now.
    {
        std::lock_guard lock(callMutex_);
        shutDown_ = true;  // a close command waiting for a message box gets its answer
    }
    callDone_.notify_all();
    benchThread_->runAndWait([this] { bench_->shutdown(); });
    benchThread_->stop();
    bench_.reset();
    state_.reset();
}

void CQuillmarkDlg::waitForBench()
{
    std::atomic<bool> done{false};
    benchThread_->post([&done] { done = true; });
    while (!done.load())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // What the bench posted meanwhile is applied too.
    QCoreApplication::processEvents();
}

QLineEdit* CQuillmarkDlg::fieldWidthEdit(int k) const
{
    return qobject_cast<QLineEdit*>(controlObject(fieldWidthControl(k)));
}

void CQuillmarkDlg::mapControls()
{
    Ui::CQuillmarkDlg& u = *ui_;
    auto set = [this](Control c, QObject* o) { controls_[static_cast<int>(c)] = o; };

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

void CQuillmarkDlg::styleControls()
{
    Ui::CQuillmarkDlg& u = *ui_;

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
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
    for (int k = 1; k <= 10; ++k)
        fieldWidthEdit(k)->setValidator(digits);
    u.errorIndexEdit->setValidator(digits);

    for (CLamp* lamp : {u.captureLamp, u.eepromLamp, u.absLamp})
        lamp->setLamp(Lamp::Unlit);
}

void CQuillmarkDlg::fillLists()
{
    Ui::CQuillmarkDlg& u = *ui_;
    for (const ProtocolInfo& p : protocolTable())
        u.protocolsList->addItem(QString::fromUtf8(p.name.data(), static_cast<qsizetype>(p.name.size())));
    u.turnList->addItems({QStringLiteral("Single turn"), QStringLiteral("Multiturn")});
    u.crcList->addItems({QStringLiteral("inverted"), QStringLiteral("notinverted")});
    u.displayBaseList->addItems({QStringLiteral("Binary"), QStringLiteral("Decimal"), QStringLiteral("Hex")});
    u.displayBaseList->setCurrentIndex(2);
}

void CQuillmarkDlg::connectControls()
{
    Ui::CQuillmarkDlg& u = *ui_;

    // Lists fire on the user's choice only, not when the bench selects an item.
    auto list = [this](QComboBox* w, Control c) {
        connect(w, &QComboBox::activated, this, [this, c](int index) { toBench([=](Bench& b) { b.onChosen(c, index); }); });
    };
    list(u.protocolsList, Control::Protocols);
    list(u.crcList, Control::CrcList);
    list(u.turnList, Control::TurnList);
    list(u.displayBaseList, Control::DisplayBase);

    // Edits go to the bench as they are typed (not when the bench writes them).
    auto edit = [this](Control c) {
        if (auto* e = qobject_cast<QLineEdit*>(controlObject(c)))
            connect(e, &QLineEdit::textEdited, this,
                    [this, c](const QString& text) { toBench([=](Bench& b) { b.onEdited(c, text); }); });
    };
    for (int k = 1; k <= 10; ++k) {
        edit(fieldWidthControl(k));
        edit(fieldLabelControl(k));
    }
    for (Control c : {Control::ContentCount, Control::TruncateBits, Control::GaugeField, Control::CaptureSeconds,
                      Control::Description, Control::EepromValue})
        edit(c);
    for (Control c : {Control::CycleCount, Control::ErrorIndex})
        edit(c);

    auto spin = [this](QToolButton* down, QToolButton* up, Control c) {
        connect(down, &QToolButton::clicked, this, [this, c] { toBench([c](Bench& b) { b.onSpin(c, -1); }); });
        connect(up, &QToolButton::clicked, this, [this, c] { toBench([c](Bench& b) { b.onSpin(c, +1); }); });
    };
    spin(u.contentCountSpinDown, u.contentCountSpinUp, Control::ContentCount);
    spin(u.truncateBitsSpinDown, u.truncateBitsSpinUp, Control::TruncateBits);
    spin(u.gaugeFieldSpinDown, u.gaugeFieldSpinUp, Control::GaugeField);
    // Up browses towards the last error, down towards the first.
    spin(u.errorIndexSpinDown, u.errorIndexSpinUp, Control::ErrorIndex);

    auto command = [this](auto* sender, auto signal, Command cmd) {
        connect(sender, signal, this, [this, cmd] { toBench([cmd](Bench& b) { b.onCommand(cmd); }); });
    };
    command(u.clickingSettingButton, &QAbstractButton::clicked, Command::ClickingSetting);
    command(u.readDataButton, &QAbstractButton::clicked, Command::ReadData);
    command(u.resetAngleButton, &QAbstractButton::clicked, Command::ResetAngle);
    command(u.resetMultiTurnButton, &QAbstractButton::clicked, Command::ResetMultiTurn);
    command(u.powerControlButton, &QAbstractButton::clicked, Command::PowerControl);
    command(u.sincosTestButton, &QAbstractButton::clicked, Command::SincosTest);
    command(u.absTestButton, &QAbstractButton::clicked, Command::AbsTest);
    command(u.resolutionButton, &QAbstractButton::clicked, Command::Resolution);
    command(u.actionLoadConfig, &QAction::triggered, Command::LoadConfigFile);
    command(u.actionSaveConfig, &QAction::triggered, Command::SaveConfigFile);
    command(u.actionCalibration, &QAction::triggered, Command::EncoderCalibration);
    command(u.saveFileButton, &QAbstractButton::clicked, Command::SaveFile);
    // The hot key acts like "Save file", marked as a hot-key capture.
    connect(hotKey_.get(), &GlobalHotKey::activated, this,
            [this](int id) { toBench([id](Bench& b) { b.onHotKey(id); }); });
    command(u.writeEepromButton, &QAbstractButton::clicked, Command::WriteEeprom);
    command(u.actionForce, &QAction::triggered, Command::ForceTest);

    auto toggle = [this](QAbstractButton* w, Control c) {
        connect(w, &QAbstractButton::clicked, this, [this, c](bool on) { toBench([=](Bench& b) { b.onToggled(c, on); }); });
    };
    toggle(u.absRowCheck, Control::AbsRowCheck);
    toggle(u.timedCaptureCheck, Control::TimedCapture);
    toggle(u.automaticSaveCheck, Control::AutomaticSave);
    toggle(u.saveAsDecimalCheck, Control::SaveAsDecimal);

    // Check marks belong to the bench: undo the toggle Qt makes on a click
    // and let the handler set the marks.
    auto marked = [this](QAction* a, Control item) {
        connect(a, &QAction::triggered, this, [this, a, item](bool checked) {
            a->setChecked(!checked);
            toBench([item](Bench& b) { b.onMenuItem(item); });
        });
    };
    marked(u.actionClock9_6, Control::MenuClock9_6);
    marked(u.actionClock4_8, Control::MenuClock4_8);
    marked(u.actionClock2_4, Control::MenuClock2_4);
    marked(u.actionClock1_2, Control::MenuClock1_2);
    marked(u.actionBinary, Control::MenuBinary);
    marked(u.actionGray, Control::MenuGray);
    connect(u.actionAbout, &QAction::triggered, this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
}

void CQuillmarkDlg::registerCalibrationDialogs()
{
    calibrationView_ = std::make_unique<CalibrationWindowView>(this, *dialogs_);
    dialogs_->setCalibrationView(calibrationView_.get());
    dialogs_->registerDialog(DialogKind::CalibrationAccess, [this](QWidget* parent) {
        auto* d = new CalibrationAccessDialog(parent);
        connect(d, &CalibrationAccessDialog::codeConfirmed, this, [this](const QString& typed, bool enterKey) {
            toBench([=](Bench& b) { b.onCalibrationAccessCode(typed, enterKey); });
        });
        return d;
    });
    dialogs_->registerDialog(DialogKind::Calibration, [this](QWidget* parent) {
        auto* d = new CalibrationDialog(parent);
        connect(d, &CalibrationDialog::buttonPressed, this,
                [this](CalControl c) { toBench([c](Bench& b) { b.onCalibrationButton(c); }); });
        connect(d, &CalibrationDialog::comboChosen, this,
                [this](CalControl c, int index) { toBench([=](Bench& b) { b.onCalibrationCombo(c, index); }); });
        connect(d, &CalibrationDialog::displayTick, this,
                [this] { toBench([](Bench& b) { b.onCalibrationDisplayTick(); }); });
        return d;
    });
}

void CQuillmarkDlg::toBench(std::function<void(Bench&)> work)
{
    if (closing_)
        return;
    benchThread_->post([this, work = std::move(work)] {
        if (!closing_ && !shutDown_)
            work(*bench_);
    });
}

// ------------------------------------------------------------ close

void CQuillmarkDlg::accept() {}

void CQuillmarkDlg::keyPressEvent(QKeyEvent* e)
{
    // QDialog would press the default button on Enter; this window has none.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CQuillmarkDlg::reject()
{
    if (closeRun_)
        return;
    closeRun_ = true;
    // The window goes at once; the close command runs on the bench thread
    // after what is queued there, and the dialog ends when it is done.
    // Workers get neutral answers from now on; the close command itself may
    // still tell the user that the settings could not be kept.
    beginClosing();
    setResult(QDialog::Rejected);
    hide();
    benchThread_->post([this] {
        bench_->closeWindow();
        QMetaObject::invokeMethod(this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
    });
}

void CQuillmarkDlg::beginClosing()
{
    dialogs_->setClosing();
    {
        std::lock_guard lock(callMutex_);
        closing_ = true;
    }
    callDone_.notify_all();
}

// ------------------------------------------------------------ marshalling

template <typename F>
void CQuillmarkDlg::post(F&& apply) const
{
    if (QThread::currentThread() == thread()) {
        apply();
        return;
    }
    QMetaObject::invokeMethod(const_cast<CQuillmarkDlg*>(this), std::forward<F>(apply),
                              Qt::QueuedConnection);
}

template <typename R, typename F>
R CQuillmarkDlg::ask(F&& get, R fallback) const
{
    if (QThread::currentThread() == thread())
        return get();

    struct Answer {
        bool done = false;
        R value{};
    };
    auto answer = std::make_shared<Answer>();
    // During the close command the bench thread is still answered.
    const bool answerWhileClosing = benchThread_ && benchThread_->isCurrent() && !shutDown_;
    {
        std::lock_guard lock(callMutex_);
        if (closing_ && !answerWhileClosing)
            return fallback;
    }
    QMetaObject::invokeMethod(
        const_cast<CQuillmarkDlg*>(this),
        [this, answer, answerWhileClosing, get = std::forward<F>(get)]() mutable {
            // Asked before the close began but reached only after it: the
            // worker has already been answered.
            if (closing_ && !answerWhileClosing)
                return;
            R value = get();
            {
                std::lock_guard lock(callMutex_);
                answer->value = std::move(value);
                answer->done = true;
            }
            callDone_.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(callMutex_);
    callDone_.wait(lock, [&] { return answer->done || (closing_ && (!answerWhileClosing || shutDown_)); });
    return answer->done ? answer->value : fallback;
}

// ------------------------------------------------------------ BenchView

void CQuillmarkDlg::setText(Control c, const QString& text)
{
    post([this, c, text] {
        QObject* o = controlObject(c);
        if (auto* e = qobject_cast<QLineEdit*>(o))
            e->setText(text);
        else if (auto* b = qobject_cast<QAbstractButton*>(o))
            b->setText(text);
        else if (auto* l = qobject_cast<QComboBox*>(o))
            l->setCurrentIndex(l->findText(text, Qt::MatchExactly));
        else if (auto* lb = qobject_cast<QLabel*>(o))
            lb->setText(text);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setText(text);
    });
}

QString CQuillmarkDlg::text(Control c) const
{
    return ask(
        [this, c]() -> QString {
            QObject* o = controlObject(c);
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
        },
        QString());
}

void CQuillmarkDlg::setEnabled(Control c, bool on)
{
    post([this, c, on] {
        QObject* o = controlObject(c);
        if (auto* w = qobject_cast<QWidget*>(o))
            w->setEnabled(on);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setEnabled(on);
    });
}

bool CQuillmarkDlg::isEnabled(Control c) const
{
    return ask(
        [this, c] {
            QObject* o = controlObject(c);
            if (auto* w = qobject_cast<QWidget*>(o))
                return w->isEnabled();
            if (auto* a = qobject_cast<QAction*>(o))
                return a->isEnabled();
            return false;
        },
        false);
}

void CQuillmarkDlg::setVisible(Control c, bool on)
{
    post([this, c, on] {
        QObject* o = controlObject(c);
        if (auto* w = qobject_cast<QWidget*>(o))
            w->setVisible(on);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setVisible(on);
    });
}

bool CQuillmarkDlg::isVisible(Control c) const
{
    // The control's own state, also while the window itself is hidden.
    return ask(
        [this, c] {
            QObject* o = controlObject(c);
            if (auto* w = qobject_cast<QWidget*>(o))
                return !w->isHidden();
            if (auto* a = qobject_cast<QAction*>(o))
                return a->isVisible();
            return false;
        },
        false);
}

void CQuillmarkDlg::setChecked(Control c, bool on)
{
    post([this, c, on] {
        QObject* o = controlObject(c);
        if (auto* b = qobject_cast<QAbstractButton*>(o))
            b->setChecked(on);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setChecked(on);
    });
}

bool CQuillmarkDlg::isChecked(Control c) const
{
    return ask(
        [this, c] {
            QObject* o = controlObject(c);
            if (auto* b = qobject_cast<QAbstractButton*>(o))
                return b->isChecked();
            if (auto* a = qobject_cast<QAction*>(o))
                return a->isChecked();
            return false;
        },
        false);
}

void CQuillmarkDlg::setCurrentIndex(Control c, int index)
{
    post([this, c, index] {
        if (auto* l = qobject_cast<QComboBox*>(controlObject(c)))
            l->setCurrentIndex(index);
    });
}

int CQuillmarkDlg::currentIndex(Control c) const
{
    return ask(
        [this, c] {
            if (auto* l = qobject_cast<QComboBox*>(controlObject(c)))
                return l->currentIndex();
            return -1;
        },
        -1);
}

void CQuillmarkDlg::setLamp(Control c, LampImage image)
{
    post([this, c, image] {
        if (auto* lamp = qobject_cast<CLamp*>(controlObject(c)))
            lamp->setLamp(toLamp(image));
    });
}

void CQuillmarkDlg::setProgress(Control c, int value)
{
    post([this, c, value] {
        if (auto* bar = qobject_cast<QProgressBar*>(controlObject(c)))
            bar->setValue(value);
    });
}

void CQuillmarkDlg::setButtonColours(Control c, QColor pressed, QColor normal)
{
    post([this, c, pressed, normal] {
        if (auto* b = qobject_cast<CColourButton*>(controlObject(c))) {
            b->setPressedColour(pressed);
            b->setNormalColour(normal);
        }
    });
}

void CQuillmarkDlg::setGaugeHighlight(int field)
{
    post([this, field] {
        for (int k = 1; k <= 10; ++k) {
            QLineEdit* e = fieldWidthEdit(k);
            if (k == field)
                paintBackground(e, kGaugeFieldColour);
            else
                e->setPalette(QPalette());
        }
    });
}

void CQuillmarkDlg::setGaugeValue(double value)
{
    post([this, value] {
        ui_->gauge->setValue(value);
        ui_->gauge->update();
    });
}

void CQuillmarkDlg::setTitle(const QString& title)
{
    post([this, title] { setWindowTitle(title); });
}

void CQuillmarkDlg::showWindow()
{
    post([this] {
        if (!closing_)
            show();
    });
}

void CQuillmarkDlg::repaintWindow()
{
    post([this] {
        update();
        for (QWidget* w : findChildren<QWidget*>())
            w->update();
    });
}

void CQuillmarkDlg::showMessage(const QString& text)
{
    ask(
        [this, text] {
            QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
            box.exec();
            return true;
        },
        false);
}

QString CQuillmarkDlg::fileDialog(const FileDialogRequest& request, bool save)
{
    QFileDialog dialog(this);
    // Qt's own dialog: the same on every desktop, and it runs offscreen.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
    if (!request.filters.isEmpty())
        dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.defaultName.isEmpty())
        dialog.selectFile(request.defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString CQuillmarkDlg::saveFileName(const FileDialogRequest& request)
{
    return ask([this, request] { return fileDialog(request, true); }, QString());
}

QString CQuillmarkDlg::openFileName(const FileDialogRequest& request)
{
    return ask([this, request] { return fileDialog(request, false); }, QString());
}

void CQuillmarkDlg::startTimer(int id, int periodMs)
{
    benchThread_->startTimer(id, periodMs);
}

void CQuillmarkDlg::killTimer(int id)
{
    benchThread_->killTimer(id);
}

DialogHost& CQuillmarkDlg::dialogs()
{
    return *dialogs_;
}
