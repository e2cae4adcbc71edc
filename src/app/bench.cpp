#include "app/bench.h"

#include "common/bench_clock.h"
#include "interface/configuration_command.h"
#include "interface/continuous_reading.h"
#include "interface/frame_display.h"
#include "interface/settings_ops.h"
#include "measure/config_file_ops.h"

#include <QDir>
#include <QStandardPaths>

Bench::Bench(BenchState& state, BenchView& view)
    : state_(state),
      view_(view),
      settingsOps_(std::make_unique<InterfaceSettingsOps>(*this)),
      frameDisplay_(std::make_unique<FrameDisplay>(*this)),
      configuration_(std::make_unique<ConfigurationCommand>(*this)),
      reading_(std::make_unique<ContinuousReading>(*this)),
      configFiles_(std::make_unique<ConfigFileOps>(*this))
{
    state_.link.hooks.stopAll = [this] { stopAll(); };
    state_.link.hooks.showMessage = [this](const std::string& m) {
        view_.showMessage(QString::fromStdString(m));
    };
    state_.displayBase = static_cast<int>(DisplayBase::Hex);
}

Bench::~Bench()
{
    shutdown();
}

// ---------------------------------------------------------------- sending

WorkerHandle Bench::send()
{
    return requestSend(state_.link, state_.packetParams());
}

void Bench::pulse(Flag f, double ms)
{
    flags().raise(f);
    send();
    benchSleep(ms);
    flags().lower(f);
}

void Bench::haltStream(double stopMs)
{
    flags().lower(Flag::ReadActive);
    benchSleep(100);
    pulse(Flag::StopCmd, stopMs);
    view_.setText(Control::ReadData, "Read data");
    for (Control c : kStreamButtons)
        view_.setEnabled(c, true);
    benchSleep(100);
}

// ------------------------------------------------------ start-up and close

QString Bench::configDirectory() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/config";
}

QString Bench::defaultConfigPath() const
{
    return configDirectory() + "/FileName.cfg";
}

void Bench::startUp(std::shared_ptr<UsbBackend> backend,
                    std::function<void(const DeviceChangeEvent&)> notify)
{
    if (!notify)
        notify = [this](const DeviceChangeEvent& e) { onDeviceChange(e); };
    state_.link.usbDevice = std::make_unique<BoxUsbDevice>(std::move(backend), std::move(notify), true);
    searchBox();

    view_.setChecked(Control::MenuClock4_8, true);
    view_.setChecked(Control::MenuBinary, true);

    flags().lower(Flag::ResolutionActive);
    flags().lower(Flag::StopCmd);
    settingsOps_->initialiseControls();
    view_.setChecked(Control::TimedCapture, true);
    view_.setLamp(Control::CaptureLamp, LampImage::Unlit);
    view_.setLamp(Control::EepromLamp, LampImage::Unlit);

    view_.setButtonColours(Control::PowerControl, kColourPressed, kColourApplied);
    view_.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);

    state_.eepromRunning = false;
    view_.setProgress(Control::AbsProgress, 0);
    view_.setProgress(Control::ResolutionProgress, 0);

    view_.setEnabled(Control::PowerControl, true);
    configFiles_->loadAtStartUp();
}

void Bench::closeWindow()
{
    settingsOps_->readFromControls();
    configFiles_->writeAtClose();

    flags().lower(Flag::ReadActive);
    benchSleep(100);
    pulse(Flag::StopCmd, 10);

    view_.setText(Control::ReadData, "Read data");
    for (Control c : kStreamButtons)
        view_.setEnabled(c, true);
}

void Bench::shutdown()
{
    if (shutDown_.exchange(true))
        return;
    stopAll();
    // Closing the device cancels every pending transfer, which wakes the
    // workers that wait on one; then none is left to join.
    state_.link.inEndpoint.set(nullptr);
    state_.link.outEndpoint.set(nullptr);
    if (state_.link.usbDevice)
        state_.link.usbDevice->close();
    state_.link.workers.joinAll();
    state_.link.usbDevice.reset();
}

// ------------------------------------------------------------ sequencing

void Bench::onTimer(int id)
{
    if (id < 0 || id >= kTimerCount)
        return;
    runTimerTick(id);
}

void Bench::runTimerTick(int id)
{
    switch (id) {
    case kTimerAbsTest:      // absolute accuracy test step
    case kTimerCapture:      // capture timing step
    case kTimerSinCos:       // sin/cos capture cycle
    case kTimerCalibration:  // calibration engine step
    case kTimerForce:        // force-test watch
    case kTimerAutoSave:     // automatic-save pause
    case kTimerEeprom:       // EEPROM write step
    default:
        // These operations are not on this bench yet; their ticks do nothing.
        break;
    }
}

void Bench::stopAll()
{
    CommandFlags& f = flags();
    for (int id = kTimerCount - 1; id >= 0; --id)
        view_.killTimer(id);

    const bool sincosWasRunning = f.isUp(Flag::SincosActive);
    const bool captureWasRunning = f.isUp(Flag::SaveActive);

    // The calibration engine lowers its own five flags (Cal0D, CalDash,
    // CalI, CalP, CalInfo2); every other flag drops here.
    for (Flag fl : {Flag::PowerOnCmd, Flag::ForceActive, Flag::SincosActive, Flag::ResetAngleCmd,
                    Flag::ResetTurnsCmd, Flag::AbsStepActive, Flag::ResolutionActive, Flag::SaveActive,
                    Flag::ReadActive, Flag::StopCmd, Flag::PowerOffCmd, Flag::ConfigCmd,
                    Flag::ConfigQueryCmd, Flag::Cal1DCmd, Flag::CalParamCmd,
                    Flag::CoarseEccentricityCmd, Flag::FineAdcCmd, Flag::CoarseAdcCmd,
                    Flag::FineRadiusCmd, Flag::ZeroAlignCmd, Flag::CalInfoCmd, Flag::Cal16Cmd,
                    Flag::CalEqualsCmd, Flag::EepromWriteCmd, Flag::EepromReadCmd})
        f.lower(fl);
    state_.hotKeyCapture = false;
    state_.eepromRunning = false;

    view_.setText(Control::WriteEeprom, "Write eepprom");
    view_.setText(Control::ReadData, "Read data");
    state_.samplingAlive = false;

    if (sincosWasRunning)
        benchSleep(200);
    if (captureWasRunning)
        view_.setText(Control::SaveFile, "Save file");

    for (Control c : {Control::WriteEeprom, Control::AbsTest, Control::Resolution, Control::PowerControl,
                      Control::ReadData, Control::ResetAngle, Control::ResetMultiTurn})
        view_.setEnabled(c, true);

    state_.link.removalSeen = false;
    f.lower(Flag::AbsStepActive);
    state_.link.lastSendOk = false;
    f.lower(Flag::ConfigBeginCmd);
    state_.drainArmed = false;
    state_.configApplied = false;
    state_.absTestActive = false;
    for (Flag fl : {Flag::ResolutionActive, Flag::ReadActive, Flag::PowerOnCmd, Flag::ConfigCmd})
        f.lower(fl);

    view_.setText(Control::AbsTest, "Abs test");
    view_.setText(Control::SincosTest, "sincos test");
    view_.setLamp(Control::CaptureLamp, LampImage::Unlit);

    view_.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);

    decodeFrame(0);
    view_.setGaugeValue(state_.gaugeAngle.load());

    for (Control c : {Control::ReadData, Control::Resolution, Control::AbsTest, Control::SaveFile})
        view_.setEnabled(c, true);
    view_.setText(Control::ClickingSetting, "Clicking setting");
    view_.setLamp(Control::EepromLamp, LampImage::Unlit);
}

void Bench::powerControl()
{
    CommandFlags& f = flags();
    if (state_.settings().modes.sinCosMode)
        return;
    if (!state_.link.inEndpoint.present()) {
        view_.showMessage(kMsgReconnectUsb);
        return;
    }
    if (f.isUp(Flag::SaveActive) || state_.absTestActive || f.isUp(Flag::ConfigCmd) ||
        f.isUp(Flag::ResolutionActive) || f.isUp(Flag::SincosActive) || f.isUp(Flag::ReadActive))
        return;

    if (!settingsOps_->readFromControls())
        return;
    const std::array<QString, 3> values{view_.text(Control::FieldValue1), view_.text(Control::FieldValue2),
                                        view_.text(Control::FieldValue3)};

    f.raise(Flag::StopCmd);
    state_.link.senderWorker = send();
    benchSleep(100);
    f.lower(Flag::StopCmd);

    f.set(Flag::PowerOffCmd, !f.isUp(Flag::PowerOffCmd));
    if (f.isUp(Flag::PowerOffCmd)) {
        send();
        benchSleep(50);
        view_.setButtonColours(Control::PowerControl, kColourNotApplied, kColourNotApplied);
        state_.frozenValueTexts = values;
        view_.setText(Control::Frozen1, values[0]);
        view_.setText(Control::Frozen2, values[1]);
        view_.setText(Control::Frozen3, values[2]);
    } else {
        f.raise(Flag::PowerOnCmd);
        send();
        benchSleep(50);
        f.lower(Flag::PowerOnCmd);
        view_.setButtonColours(Control::PowerControl, kColourPressed, kColourApplied);
    }
    view_.setText(Control::PowerControl, "Power Control");
}

void Bench::onDeviceChange(const DeviceChangeEvent& e)
{
    BoxLink& link = state_.link;
    stopAll();
    benchSleep(10);

    switch (e.kind) {
    case DeviceChangeEvent::Kind::Arrival:
        link.arrivalSeen = true;
        link.nodesChanged = false;
        break;
    case DeviceChangeEvent::Kind::NodesChanged:
        link.nodesChanged = true;
        link.removalSeen = false;
        break;
    case DeviceChangeEvent::Kind::RemovalComplete:
        link.removalSeen = true;
        if (link.usbDevice && e.deviceId != 0 && e.deviceId == link.usbDevice->openDeviceId()) {
            link.usbDevice->close();
            view_.setTitle(QString());
        }
        link.inEndpoint.set(nullptr);
        link.outEndpoint.set(nullptr);
        view_.showWindow();
        break;
    }

    if (link.removalSeen) {
        if (!link.nodesChanged)
            return;
        link.nodesChanged = false;
        searchBox();
    }
    if (link.nodesChanged && link.arrivalSeen) {
        searchBox();
        link.arrivalSeen = false;
        link.nodesChanged = false;
        flags().lower(Flag::SaveActive);
        flags().lower(Flag::ReadActive);
        state_.absTestActive = false;
    }
}

void Bench::searchBox()
{
    view_.setTitle(QString::fromStdString(findBox(state_.link)));
    if (!state_.link.accessError.empty())
        view_.showMessage(QString::fromStdString(state_.link.accessError));
}

// ------------------------------------------------- forwarding to the parts

void Bench::onProtocolChanged() { settingsOps_->onProtocolChanged(); }
void Bench::onClockItem(ClockItem item) { settingsOps_->onClockItem(item); }
void Bench::onCodeModeItem(int codeMode) { settingsOps_->onCodeModeItem(codeMode); }
void Bench::onTurnChanged() { settingsOps_->onTurnChanged(); }
void Bench::onCrcChanged() { settingsOps_->onCrcChanged(); }
void Bench::onWidthEdited(int field) { settingsOps_->onWidthEdited(field); }
void Bench::onCountSpin(int direction) { settingsOps_->onCountSpin(direction); }
void Bench::onTruncateSpin(int direction) { settingsOps_->onTruncateSpin(direction); }
void Bench::sendConfiguration() { configuration_->run(); }
void Bench::onGaugeFieldSpin(int direction) { frameDisplay_->onGaugeFieldSpin(direction); }
void Bench::onDisplayBaseChanged() { frameDisplay_->onDisplayBaseChanged(); }
void Bench::decodeFrame(std::int64_t v) { frameDisplay_->decodeFrame(v); }
void Bench::showRawFrame(std::int64_t v) { frameDisplay_->showRawFrame(v); }
void Bench::readData() { reading_->readData(); }
void Bench::resetAngle() { reading_->reset(Flag::ResetAngleCmd, Control::ResetAngle); }
void Bench::resetMultiTurn() { reading_->reset(Flag::ResetTurnsCmd, Control::ResetMultiTurn); }
void Bench::saveConfigFile() { configFiles_->save(); }
void Bench::loadConfigFile() { configFiles_->load(); }
