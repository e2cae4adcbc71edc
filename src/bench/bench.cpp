#include "bench/bench.h"

#include "bench/accuracy.h"
#include "bench/box_setup.h"
#include "bench/capture.h"
#include "bench/config_files.h"
#include "bench/configuration.h"
#include "bench/encoder_calibration.h"
#include "bench/eeprom_write.h"
#include "bench/force_test.h"
#include "bench/frame_display.h"
#include "bench/reading.h"
#include "bench/resolution.h"
#include "bench/settings_editor.h"
#include "bench/sincos_test.h"
#include "common/clock.h"
#include "common/logging.h"

#include <QStandardPaths>

Bench::Bench(BenchState& state, BenchView& view)
    : ctx_(state, view),
      editor_(std::make_unique<SettingsEditor>(ctx_)),
      display_(std::make_unique<FrameDisplay>(ctx_, *editor_)),
      setup_(std::make_unique<BoxSetup>(ctx_, *editor_, *display_)),
      configuration_(std::make_unique<ConfigurationCommand>(ctx_, *editor_, *display_)),
      reading_(std::make_unique<Reading>(ctx_, *editor_, *display_)),
      configFiles_(std::make_unique<ConfigFiles>(ctx_, *editor_, *display_, configDirectory())),
      calibration_(std::make_unique<EncoderCalibration>(ctx_)),
      sincos_(std::make_unique<SinCosTest>(ctx_, *editor_, *display_)),
      capture_(std::make_unique<Capture>(ctx_, *editor_)),
      accuracy_(std::make_unique<AccuracyTest>(ctx_, *editor_, *display_)),
      resolution_(std::make_unique<ResolutionTest>(ctx_, *editor_)),
      eeprom_(std::make_unique<EepromWrite>(ctx_, *editor_)),
      force_(std::make_unique<ForceTest>(ctx_, *editor_, [this] { return reading_->startReader(); }))
{
    registerOperations();
    ctx_.operations = &operations_;
    // Settings that took with the sin/cos protocol start the sin/cos test.
    configuration_->setSinCosStart([this] { sincos_->startOrStop(); });
    reading_->setForceSink(force_.get());
    ctx_.setStopAll([this] { stopAll(); });
    state.link.hooks.stopAll = [this] { stopAll(); };
    state.link.hooks.showMessage = [&view](const std::string& m) { view.showMessage(QString::fromStdString(m)); };
    state.displayBase = static_cast<int>(DisplayBase::Hex);
}

namespace {

OperationDecl declare(const char* name, std::optional<Operation> outcome, std::vector<Command> commands,
                      std::function<void(Command)> onCommand)
{
    OperationDecl d;
    d.name = name;
    d.outcome = outcome;
    d.commands = std::move(commands);
    d.onCommand = std::move(onCommand);
    return d;
}

}  // namespace

// Each operation in one entry. Stop-all runs each stage in this order.
void Bench::registerOperations()
{
    OperationRegistry& r = operations_;
    r.add(declare("configuration", Operation::Configure, {Command::ClickingSetting},
           [this](Command) { configuration_->run(); }));
    r.add(declare("reading", Operation::Read, {Command::ReadData, Command::ResetAngle, Command::ResetMultiTurn},
           [this](Command c) {
               if (c == Command::ReadData)
                   reading_->readData();
               else if (c == Command::ResetAngle)
                   reading_->reset(Flag::ResetAngleCmd, Control::ResetAngle);
               else
                   reading_->reset(Flag::ResetTurnsCmd, Control::ResetMultiTurn);
           }));
    r.add(declare("power", std::nullopt, {Command::PowerControl}, [this](Command) { setup_->powerControl(); }));
    r.add(declare("configuration files", std::nullopt, {Command::SaveConfigFile, Command::LoadConfigFile},
           [this](Command c) {
               if (c == Command::SaveConfigFile)
                   configFiles_->save();
               else
                   configFiles_->load();
           }));

    OperationDecl calibration = declare("calibration", Operation::Calibration, {Command::EncoderCalibration},
                              [this](Command) { calibration_->open(); });
    calibration.timers = {{kTimerCalibration, [this] { return calibration_->running(); }, [this] { calibration_->tick(); }}};
    // The engine lowers its own five flags (Cal0D, CalDash, CalI, CalP, CalInfo2).
    calibration.stopBeforeFlags = [this] { calibration_->stopAll(); };
    r.add(std::move(calibration));

    OperationDecl eeprom = declare("EEPROM write", Operation::Eeprom, {Command::WriteEeprom}, [this](Command) { eeprom_->press(); });
    eeprom.timers = {{kTimerEeprom, [this] { return eeprom_->running(); }, [this] { eeprom_->tick(); }}};
    eeprom.busy = {{Busy::Eeprom, [this] { return eeprom_->running(); }}};
    eeprom.stopBeforeFlags = [this] { eeprom_->reset(); };
    r.add(std::move(eeprom));

    OperationDecl force = declare("force test", Operation::Force, {Command::ForceTest}, [this](Command) { force_->press(); });
    force.timers = {{kTimerForce, [this] { return force_->timerRunning(); }, [this] { force_->tick(); }}};
    force.stopBeforeFlags = [this] { force_->reset(); };
    r.add(std::move(force));

    OperationDecl resolution = declare("resolution", Operation::Resolution, {Command::Resolution},
                             [this](Command) { resolution_->run(); });
    resolution.stopBeforeFlags = [this] { resolution_->onStopAll(); };
    r.add(std::move(resolution));

    // The capture ends and its file closes before the reads are cancelled,
    // so its worker does not start another transfer.
    OperationDecl capture = declare("capture", Operation::Capture, {Command::SaveFile}, [this](Command) { capture_->saveFile(); });
    capture.timers = {{kTimerCapture, [this] { return capture_->capturing(); }, [this] { capture_->tick(); }},
                      {kTimerAutoSave, [this] { return capture_->pausing(); }, [this] { capture_->pauseTick(); }}};
    capture.stopBeforeReads = [this] { capture_->onStopAll(); };
    capture.onBoxRemoval = [this] { capture_->onBoxRemoval(); };
    r.add(std::move(capture));

    OperationDecl accuracy = declare("accuracy test", Operation::AbsTest, {Command::AbsTest}, [this](Command) { accuracy_->absTest(); });
    accuracy.timers = {{kTimerAbsTest, [this] { return accuracy_->running(); }, [this] { accuracy_->tick(); }}};
    accuracy.busy = {{Busy::AbsTest, [this] { return accuracy_->running(); }}};
    accuracy.stopBeforeReads = [this] { accuracy_->onStopAll(); };
    accuracy.onBoxArrival = [this] { accuracy_->onBoxArrival(); };
    r.add(std::move(accuracy));

    OperationDecl sincos = declare("sin/cos test", Operation::SinCos, {Command::SincosTest}, [this](Command) { sincos_->startOrStop(); });
    sincos.timers = {{kTimerSinCos, [this] { return sincos_->running(); }, [this] { sincos_->tick(); }}};
    sincos.stopAfterReads = [this] { sincos_->onStopAll(); };
    r.add(std::move(sincos));
}

Bench::~Bench()
{
    shutdown();
}

// ------------------------------------------------------ start-up and close

QString Bench::configDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/config";
}

QString Bench::defaultConfigPath()
{
    return configDirectory() + "/FileName.cfg";
}

void Bench::startUp(std::shared_ptr<UsbBackend> backend, std::function<void(const DeviceChangeEvent&)> notify,
                    std::optional<StartInterface> firstRun)
{
    BenchView& view = ctx_.view;
    if (!notify)
        notify = [this](const DeviceChangeEvent& e) { onDeviceChange(e); };
    ctx_.link.usbDevice = std::make_unique<BoxUsbDevice>(std::move(backend), std::move(notify), true);
    setup_->searchBox();

    view.setChecked(Control::MenuClock4_8, true);
    view.setChecked(Control::MenuBinary, true);

    ctx_.flags().lower(Flag::ResolutionActive);
    ctx_.flags().lower(Flag::StopCmd);
    editor_->initialiseControls();
    view.setChecked(Control::TimedCapture, true);
    view.setLamp(Control::CaptureLamp, LampImage::Unlit);
    view.setLamp(Control::EepromLamp, LampImage::Unlit);
    ctx_.showEditText(Control::EepromValue, QStringLiteral("0"));

    view.setButtonColours(Control::PowerControl, kColourPressed, kColourApplied);
    view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);

    view.setProgress(Control::AbsProgress, 0);
    view.setProgress(Control::ResolutionProgress, 0);
    accuracy_->initialiseControls();
    resolution_->initialiseControls();

    view.setEnabled(Control::PowerControl, true);
    if (!configFiles_->loadAtStartUp() && firstRun)
        applyStartInterface(*firstRun);
}

void Bench::applyStartInterface(const StartInterface& s)
{
    ctx_.view.setCurrentIndex(Control::Protocols, s.protocol);
    onChosen(Control::Protocols, s.protocol);
    auto type = [this](Control c, const QString& text) {
        ctx_.view.setText(c, text);
        onEdited(c, text);
    };
    type(Control::ContentCount, QString::number(s.widths.size()));
    for (int k = 1; k <= kFieldColumns; ++k)
        type(fieldWidthControl(k), QString::number(k <= s.widths.size() ? s.widths[k - 1] : 0));
    type(Control::GaugeField, QString::number(s.gaugeField));
}

void Bench::closeWindow()
{
    editor_->takeEdits();
    configFiles_->writeAtClose();

    ctx_.flags().lower(Flag::ReadActive);
    benchSleep(100);
    ctx_.box.stop(10);

    ctx_.view.setText(Control::ReadData, "Read data");
    for (Control c : kStreamButtons)
        ctx_.view.setEnabled(c, true);
}

void Bench::shutdown()
{
    if (shutDown_.exchange(true))
        return;
    stopAll();
    BoxLink& link = ctx_.link;
    // What was asked of the box goes out first (the close command's stop).
    link.outQueue.drain(1000);
    link.outQueue.close();
    // Closing the device cancels every pending transfer, which wakes the
    // workers that wait on one; then none is left to join.
    link.inEndpoint.set(nullptr);
    link.outEndpoint.set(nullptr);
    link.inGate.cancelAll();
    if (link.usbDevice)
        link.usbDevice->close();
    link.workers.joinAll();
    link.usbDevice.reset();
}

// ------------------------------------------------------------ input

void Bench::onCommand(Command command)
{
    const OperationDecl* op = operations_.byCommand(command);
    qCDebug(lcBench) << "command" << static_cast<int>(command) << (op ? op->name : "(none)");
    operations_.dispatch(command);
}

void Bench::onEdited(Control edit, const QString& text)
{
    editor_->onEdited(edit, text);
}

void Bench::onChosen(Control list, int index)
{
    switch (list) {
    case Control::Protocols: editor_->onProtocolChosen(index); break;
    case Control::TurnList: editor_->onTurnChosen(index); break;
    case Control::CrcList: editor_->onCrcChosen(index); break;
    case Control::DisplayBase: display_->onDisplayBaseChosen(index); break;
    default: break;
    }
}

void Bench::onToggled(Control box, bool on)
{
    switch (box) {
    case Control::AbsRowCheck: ctx_.state.restartOnRead = on; break;
    case Control::TimedCapture: capture_->onTimedCaptureToggled(on); break;
    case Control::AutomaticSave: capture_->onAutoSaveToggled(on); break;
    case Control::SaveAsDecimal: capture_->onSaveAsDecimalToggled(on); break;
    default: break;
    }
}

void Bench::onSpin(Control edit, int direction)
{
    switch (edit) {
    case Control::ContentCount: editor_->onCountSpin(direction); break;
    case Control::TruncateBits: editor_->onTruncateSpin(direction); break;
    case Control::GaugeField: display_->onGaugeFieldSpin(direction); break;
    case Control::ErrorIndex: accuracy_->onErrorIndexSpin(direction); break;
    default: break;
    }
}

void Bench::onMenuItem(Control item)
{
    switch (item) {
    case Control::MenuClock9_6: editor_->onClockItem(ClockItem::MHz9_6); break;
    case Control::MenuClock4_8: editor_->onClockItem(ClockItem::MHz4_8); break;
    case Control::MenuClock2_4: editor_->onClockItem(ClockItem::MHz2_4); break;
    case Control::MenuClock1_2: editor_->onClockItem(ClockItem::MHz1_2); break;
    case Control::MenuBinary: editor_->onCodeModeItem(0); break;
    case Control::MenuGray: editor_->onCodeModeItem(128); break;
    default: break;
    }
}

void Bench::onCalibrationButton(CalControl button)
{
    calibration_->onButton(button);
}

void Bench::onCalibrationCombo(CalControl combo, int index)
{
    calibration_->onCombo(combo, index);
}

void Bench::onCalibrationDisplayTick()
{
    calibration_->onDisplayTick();
}

void Bench::onCalibrationAccessCode(const QString& typed, bool enterKey)
{
    calibration_->onAccessCode(typed, enterKey);
}

void Bench::onHotKey(int id)
{
    capture_->hotKey(id);
}

void Bench::onForce(ForceInput input, const QString& text)
{
    force_->onInput(input, text);
}

void Bench::onDeviceChange(const DeviceChangeEvent& event)
{
    setup_->onDeviceChange(event);
}

void Bench::onSinCosRefresh()
{
    sincos_->refresh();
}

void Bench::onSinCosCollection()
{
    sincos_->collection();
}

void Bench::onSinCosBackToHome()
{
    sincos_->backToHome();
}

// ------------------------------------------------------------ sequencing

void Bench::onTimer(int id)
{
    if (!operations_.tick(id))
        ctx_.view.killTimer(id);
}

void Bench::stopAll()
{
    BenchView& view = ctx_.view;
    BenchState& st = ctx_.state;
    CommandFlags& f = ctx_.flags();
    for (int id = kTimerCount - 1; id >= 0; --id)
        view.killTimer(id);

    const bool sincosWasRunning = f.isUp(Flag::SincosActive);
    const bool captureWasRunning = f.isUp(Flag::SaveActive);
    operations_.stopBeforeFlags();
    f.lowerEveryOperationFlag();
    operations_.stopBeforeReads();
    // No reader of an earlier operation may take what the box sends next.
    ctx_.link.inGate.cancelAll();
    operations_.stopAfterReads();

    view.setText(Control::WriteEeprom, "Write eepprom");
    view.setText(Control::ReadData, "Read data");

    if (sincosWasRunning)
        benchSleep(200);
    if (captureWasRunning)
        view.setText(Control::SaveFile, "Save file");

    for (Control c : {Control::WriteEeprom, Control::AbsTest, Control::Resolution, Control::PowerControl,
                      Control::ReadData, Control::ResetAngle, Control::ResetMultiTurn})
        view.setEnabled(c, true);

    st.link.removalSeen = false;
    f.lower(Flag::AbsStepActive);
    st.link.lastSendOk = false;
    f.lower(Flag::ConfigBeginCmd);
    st.drainArmed = false;
    st.configApplied = false;
    for (Flag fl : {Flag::ResolutionActive, Flag::ReadActive, Flag::PowerOnCmd, Flag::ConfigCmd})
        f.lower(fl);

    view.setText(Control::AbsTest, "Abs test");
    view.setText(Control::SincosTest, "sincos test");
    view.setLamp(Control::CaptureLamp, LampImage::Unlit);

    view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);

    display_->decodeFrame(0);
    view.setGaugeValue(st.gaugeAngle.load());

    for (Control c : {Control::ReadData, Control::Resolution, Control::AbsTest, Control::SaveFile})
        view.setEnabled(c, true);
    view.setText(Control::ClickingSetting, "Clicking setting");
    view.setLamp(Control::EepromLamp, LampImage::Unlit);
}
