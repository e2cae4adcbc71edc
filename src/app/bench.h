#pragma once
// The operations of the main window, working on the bench state and
// speaking to the screen only through the view. The window forwards every
// click, menu command, timer tick and device change here; tests call the
// same entry points with a recording view.
#include "app/bench_state.h"
#include "app/bench_view.h"
#include "interface/interface_settings.h"
#include "link/command_flags.h"

#include <memory>

class InterfaceSettingsOps;
class FrameDisplay;
class ConfigurationCommand;
class ContinuousReading;
class ConfigFileOps;

// Messages of the shared guards.
inline const QString kMsgPowerOn = QStringLiteral("Please set  Power_on");
inline const QString kMsgSetConfiguration = QStringLiteral("Please set the configuration");
inline const QString kMsgReconnectUsb =
    QStringLiteral("Please Reconnect Orvik_encoder_box's power or connect to the usb ");
inline const QString kMsgReconnectPower = QStringLiteral("Please Reconnect Orvik_encoder_box's power  ");
inline const QString kMsgOnly485 = QStringLiteral("This model only supports the 485 ");
inline const QString kMsgOnlySinCos = QStringLiteral("This model only supports the sin_cosine");
inline const QString kMsgUnsupportedTtl = QStringLiteral("This model unsupported the TTL ");

// Colours of the owner-drawn buttons.
inline const QColor kColourPressed{205, 205, 180};
inline const QColor kColourApplied{127, 255, 0};
inline const QColor kColourNotApplied{210, 105, 30};

// The six buttons that a stop gives back: "Read data", "Resolution", "Abs
// test", "Save file", "Power control" and "Write eepprom".
inline constexpr Control kStreamButtons[] = {Control::ReadData, Control::Resolution, Control::AbsTest,
                                             Control::SaveFile, Control::PowerControl, Control::WriteEeprom};

// Window timer ids and periods.
enum TimerId { kTimerAbsTest = 0, kTimerCapture, kTimerSinCos, kTimerCalibration, kTimerForce,
               kTimerAutoSave, kTimerEeprom, kTimerCount };
inline constexpr int kTimerPeriodMs[kTimerCount] = {300, 500, 350, 450, 10, 1000, 500};

class Bench {
public:
    Bench(BenchState& state, BenchView& view);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    BenchState& state() { return state_; }
    BenchView& view() { return view_; }
    CommandFlags& flags() { return state_.link.flags; }

    // --- Start-up, close and destruction of the window ---
    // Opens the box on `backend`, sets the controls to their start-up state
    // and loads the default configuration file.
    // Device changes arrive on a backend thread; `notify` hands them to the
    // GUI thread (empty: handled on the backend thread, as tests do).
    void startUp(std::shared_ptr<UsbBackend> backend,
                 std::function<void(const DeviceChangeEvent&)> notify = {});
    // Close command (Esc, close box): writes the default configuration file
    // and stops the box. The window then ends.
    void closeWindow();
    // Destruction: stop-all, then the box released; every worker joined and
    // every pending transfer cancelled.
    void shutdown();

    // --- Sending ---
    // Starts a sender for the flags that are up now.
    WorkerHandle send();
    // Raise `f`, send, wait `ms`, lower `f`.
    void pulse(Flag f, double ms);
    // Ends a stream before a change: lower ReadActive, wait 100 ms, pulse
    // StopCmd for `stopMs`, give "Read data" its caption back, enable the six
    // stream buttons and wait 100 ms.
    void haltStream(double stopMs);

    // --- Sequencing ---
    void onTimer(int id);
    // Returns the bench to idle. Callable from any thread.
    void stopAll();
    void powerControl();
    void onDeviceChange(const DeviceChangeEvent& event);
    // Runs the box search, sets the title and tells the user when a device
    // refused access (the udev rule is missing).
    void searchBox();

    // --- Interface settings ---
    void onProtocolChanged();
    void onClockItem(ClockItem item);
    void onCodeModeItem(int codeMode);
    void onTurnChanged();
    void onCrcChanged();
    void onWidthEdited(int field);
    void onCountSpin(int direction);
    void onTruncateSpin(int direction);

    // --- Configuration command and decoded display ---
    void sendConfiguration();
    void onGaugeFieldSpin(int direction);
    void onDisplayBaseChanged();
    // Splits v into the fields and shows them (any thread).
    void decodeFrame(std::int64_t v);
    void showRawFrame(std::int64_t v);

    // --- Reading ---
    void readData();
    void resetAngle();
    void resetMultiTurn();

    // --- Configuration files ---
    void saveConfigFile();
    void loadConfigFile();

    // --- Commands whose operations are not on this bench yet ---
    void saveFile() {}
    void absTest() {}
    void resolutionTest() {}
    void sincosTest() {}
    void writeEeprom() {}
    void openCalibration() {}
    void openForceTest() {}
    void onErrorIndexSpin(int /*direction*/) {}

    InterfaceSettingsOps& settingsOps() { return *settingsOps_; }
    FrameDisplay& frameDisplay() { return *frameDisplay_; }
    ContinuousReading& reading() { return *reading_; }
    ConfigFileOps& configFiles() { return *configFiles_; }

    // Directory of configuration files (config/ under the data root).
    QString configDirectory() const;
    QString defaultConfigPath() const;

private:
    void runTimerTick(int id);

    BenchState& state_;
    BenchView& view_;
    std::unique_ptr<InterfaceSettingsOps> settingsOps_;
    std::unique_ptr<FrameDisplay> frameDisplay_;
    std::unique_ptr<ConfigurationCommand> configuration_;
    std::unique_ptr<ContinuousReading> reading_;
    std::unique_ptr<ConfigFileOps> configFiles_;
    std::atomic<bool> shutDown_{false};
};
