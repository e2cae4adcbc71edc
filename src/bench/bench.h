#pragma once
// The bench: owns the operations and hands every input of the window to the
// one it belongs to. It runs on the bench thread (tests call it directly);
// it never touches a widget and speaks to the screen only through the view.
#include "bench/bench_context.h"
#include "bench/calibration_view.h"
#include "bench/commands.h"
#include "bench/force_view.h"
#include "bench/operation_registry.h"
#include "bench/timers.h"
#include "interface/interface_settings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QList>

class AccuracyTest;
class BoxSetup;
class Capture;
class ConfigFiles;
class ConfigurationCommand;
class EncoderCalibration;
class EepromWrite;
class ForceTest;
class FrameDisplay;
class Reading;
class ResolutionTest;
class SettingsEditor;
class SinCosTest;

// The interface a first start (no saved FileName.cfg) begins with instead
// of the defaults: the simulated box's encoder, so that its gauge turns on
// the first "Read data".
struct StartInterface {
    int protocol = 0;         // entry of the protocol list
    QList<int> widths;        // the field widths, first field first
    int gaugeField = 0;
};

class Bench {
public:
    Bench(BenchState& state, BenchView& view);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    BenchContext& context() { return ctx_; }
    Capture& capture() { return *capture_; }
    const AccuracyTest& accuracy() const { return *accuracy_; }
    const SinCosTest& sinCos() const { return *sincos_; }
    EepromWrite& eepromWrite() { return *eeprom_; }
    ResolutionTest& resolution() { return *resolution_; }
    ForceTest& force() { return *force_; }
    EncoderCalibration& calibration() { return *calibration_; }
    // Where every operation's outcome is posted.
    OutcomeBoard& outcomes() { return ctx_.outcomes; }
    // Every operation: its commands, timers, modes and stop-all stages.
    const OperationRegistry& operations() const { return operations_; }

    // --- Start-up, close and destruction of the window ---
    // Opens the box on `backend`, sets the controls to their start-up state
    // and loads the default configuration file. Device changes arrive on a
    // backend thread; `notify` hands them to the bench thread (empty: handled
    // on the backend thread, as tests do).
    // Without a saved FileName.cfg, `firstRun` (if any) is set as the user
    // would set it.
    void startUp(std::shared_ptr<UsbBackend> backend,
                 std::function<void(const DeviceChangeEvent&)> notify = {},
                 std::optional<StartInterface> firstRun = std::nullopt);
    // Close command (Esc, close box): writes the default configuration file
    // (telling the user when it cannot) and stops the box.
    void closeWindow();
    // Destruction: stop-all, then the box released; every worker joined and
    // every pending transfer cancelled.
    void shutdown();

    // --- The user's input, as the window forwards it ---
    void onCommand(Command command);
    // An edit's text as typed (numbers, widths, labels, description).
    void onEdited(Control edit, const QString& text);
    // The user chose entry `index` of a list.
    void onChosen(Control list, int index);
    // A check box the user ticked or cleared.
    void onToggled(Control box, bool on);
    // A spin button next to `edit`: -1 down, +1 up.
    void onSpin(Control edit, int direction);
    // A clock or code item of the menus.
    void onMenuItem(Control item);

    // The calibration dialogs: a button (or the close box, as "返回主页"),
    // a combo choice, the dialog's 500 ms display tick, and the access
    // dialog's confirm with the typed code.
    void onCalibrationButton(CalControl button);
    void onCalibrationCombo(CalControl combo, int index);
    void onCalibrationDisplayTick();
    void onCalibrationAccessCode(const QString& typed, bool enterKey);
    const EncoderCalibration& calibration() const { return *calibration_; }
    // The sin/cos analysis dialog: its 50 ms refresh, "Collection", and
    // "Back to home" or its close box.
    void onSinCosRefresh();
    void onSinCosCollection();
    void onSinCosBackToHome();
    // Input of the force dialog (the name's text with NameEdited).
    void onForce(ForceInput input, const QString& text = {});

    void onTimer(int id);
    // The global hot key with this identifier was pressed.
    void onHotKey(int id);
    void onDeviceChange(const DeviceChangeEvent& event);
    // Returns the bench to idle. Callable from any thread.
    void stopAll();

    // Directory of configuration files (config/ under the data root).
    static QString configDirectory();
    static QString defaultConfigPath();

private:
    void registerOperations();
    void applyStartInterface(const StartInterface& s);

    BenchContext ctx_;
    OperationRegistry operations_;
    std::unique_ptr<SettingsEditor> editor_;
    std::unique_ptr<FrameDisplay> display_;
    std::unique_ptr<BoxSetup> setup_;
    std::unique_ptr<ConfigurationCommand> configuration_;
    std::unique_ptr<Reading> reading_;
    std::unique_ptr<ConfigFiles> configFiles_;
    std::unique_ptr<EncoderCalibration> calibration_;
    std::unique_ptr<SinCosTest> sincos_;
    std::unique_ptr<Capture> capture_;
    std::unique_ptr<AccuracyTest> accuracy_;
    std::unique_ptr<ResolutionTest> resolution_;
    std::unique_ptr<EepromWrite> eeprom_;
    std::unique_ptr<ForceTest> force_;
    std::atomic<bool> shutDown_{false};
};
