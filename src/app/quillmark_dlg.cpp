#include "app/quillmark_dlg.h"

#include "bench/bench.h"
#include "bench/bench_state.h"
#include "app/global_hot_key.h"
#include "app/about_dialog.h"
#include "app/calibration_dialogs.h"
#include "app/force_dialog.h"
#include "app/quillmark_app.h"
#include "app/results_menu.h"
#include "app/sincos_dialog.h"
#include "app/window_controls.h"
#include "app/window_dialogs.h"
#include "app/window_view.h"
#include "bench/bench_thread.h"
#include "results/results_store.h"
#include "ui_quillmark_dlg.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

// Threading. Widgets are touched on the GUI thread only: the view
// (window_view) mirrors the bench's control states onto them there, and the
// window forwards every input to the bench thread.

namespace {

constexpr int kHotKeyId = 199;
constexpr char kHotKeyLetter = 's';

}  // namespace

CQuillmarkDlg::CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, QWidget* parent)
    : CQuillmarkDlg(std::move(backend), std::nullopt, parent)
{
}

CQuillmarkDlg::CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, std::optional<StartInterface> firstRun,
                             QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CQuillmarkDlg>())
{
    CQuillmarkApp::installFontSubstitutions();
    ui_->setupUi(this);
    // A fixed dialog template: no resizing, a minimize box, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // The .ui file carries the template's title; the box search replaces it.

    widgets_ = std::make_unique<WindowControls>(*ui_, this);

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

    view_ = std::make_unique<WindowView>(this, *widgets_, *benchThread_, *dialogs_);
    state_ = std::make_unique<BenchState>();
    bench_ = std::make_unique<Bench>(*state_, *view_);
    bench_->context().setBenchThreadPost([this](std::function<void()> work) {
        benchThread_->post([this, work = std::move(work)] {
            if (!shutDown_)
                work();
        });
    });
    resultsMenu_ = new ResultsMenu(
        this, [this] { return text(Control::Description).trimmed(); },
        [this](std::shared_ptr<const TestPlan> plan) { toBench([plan](Bench& b) { b.context().setPlan(plan); }); });
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
    bench_->startUp(
        std::move(backend),
        [this](const DeviceChangeEvent& e) {
            benchThread_->post([this, e] {
                if (!closing_ && !shutDown_)
                    bench_->onDeviceChange(e);
            });
        },
        std::move(firstRun));
    resultsMenu_->loadPlanAtStart();
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
    resultsMenu_->setStorePath(store->options().localPath);
    ResultSink sink = [store, simulated, menu = resultsMenu_](const TestReport& r) {
        ResultRow row = ResultRow::make(r.command, r.passed, r.figures, r.serial, r.config, simulated, r.trace);
        menu->recorded(row);
        store->record(std::move(row));
    };
    toBench([sink](Bench& b) { b.context().setResultSink(sink); });
    waitForBench();
}

CQuillmarkDlg::~CQuillmarkDlg()
{
    beginClosing();
    // Stop-all and the box released on the bench thread, after whatever it
    // is doing; every worker is joined there, before the state and the
    // widgets go. Its calls of the view get neutral answers now.
    shutDown_ = true;
    view_->shutDown();
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
    return widgets_->fieldWidthEdit(k);
}

QObject* CQuillmarkDlg::controlObject(Control c) const
{
    return widgets_->object(c);
}

QString CQuillmarkDlg::text(Control c) const
{
    return widgets_->text(c);
}

bool CQuillmarkDlg::isEnabled(Control c) const
{
    return widgets_->isEnabled(c);
}

bool CQuillmarkDlg::isVisible(Control c) const
{
    return widgets_->isVisible(c);
}

bool CQuillmarkDlg::isChecked(Control c) const
{
    return widgets_->isChecked(c);
}

int CQuillmarkDlg::currentIndex(Control c) const
{
    return widgets_->currentIndex(c);
}

BenchView& CQuillmarkDlg::view()
{
    return *view_;
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
    connect(u.actionResults, &QAction::triggered, resultsMenu_, &ResultsMenu::openResults);
    connect(u.actionTestPlan, &QAction::triggered, resultsMenu_, &ResultsMenu::openTestPlan);
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
    closing_ = true;
    view_->beginClosing();
}

