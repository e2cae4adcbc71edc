#pragma once
// The main window: builds its controls from quillmark_dlg.ui, maps them to
// Control values, forwards every click, menu command, timer tick and device
// change to the bench, and owns the bench state for the life of the window.
#include "bench/bench.h"
#include "bench/bench_view.h"
#include "bench/control.h"

#include <QDialog>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class Bench;
class BenchThread;
class CalibrationWindowView;
struct BenchState;
class GlobalHotKey;
class QAction;
class QLineEdit;
class QTimer;
class SinCosDialogView;
class UsbBackend;
class WindowControls;
class WindowDialogs;
class WindowView;
namespace Ui {
class CQuillmarkDlg;
}
class ResultsMenu;
class ResultsStore;

class CQuillmarkDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the box on `backend` (a bus without devices gives a window with
    // an empty title) and brings the controls to their start-up state.
    explicit CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, QWidget* parent = nullptr);
    // Without a saved FileName.cfg the window starts with `firstRun`.
    CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, std::optional<StartInterface> firstRun,
                  QWidget* parent = nullptr);
    ~CQuillmarkDlg() override;

    Bench& bench() { return *bench_; }
    GlobalHotKey& hotKey() { return *hotKey_; }
    // The widget (or, for a menu item, the QAction) behind a control.
    QObject* controlObject(Control c) const;
    QLineEdit* fieldWidthEdit(int k) const;
    // Waits, applying the view's updates meanwhile, until the bench thread
    // has run everything handed to it so far (for tests and screenshots).
    void waitForBench();

    // Finished tests go to `store` from now on. Its notice (the server or
    // file cannot be reached) shows once, without stopping anything.
    // `simulated` marks each result's figures ("simulated": true).
    void keepResults(std::shared_ptr<ResultsStore> store, bool simulated = false);
    // Hands the user's input to the bench thread, in order.
    void toBench(std::function<void(Bench&)> work);
    // True once the close command or the destruction has begun.
    bool closing() const { return closing_.load(); }

    // The view the bench speaks to.
    BenchView& view();
    WindowDialogs& windowDialogs() { return *dialogs_; }
    // The Results window and the Test plan dialog (Tools menu).
    ResultsMenu& resultsMenu() { return *resultsMenu_; }

    // What the widgets show (GUI thread; the window's tests).
    QString text(Control c) const;
    bool isEnabled(Control c) const;
    bool isVisible(Control c) const;
    bool isChecked(Control c) const;
    int currentIndex(Control c) const;

    // The QWidget members of the same names stay reachable.
    using QDialog::isEnabled;
    using QDialog::isVisible;

public slots:
    // Enter: the default command does nothing.
    void accept() override;
    // Esc and the close box: the close command, then the dialog ends.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void connectControls();
    void beginClosing();
    // The calibration access and calibration dialogs, their view and their
    // input to the bench.
    void registerCalibrationDialogs();

    std::unique_ptr<Ui::CQuillmarkDlg> ui_;
    std::unique_ptr<WindowControls> widgets_;
    std::unique_ptr<BenchThread> benchThread_;
    std::unique_ptr<GlobalHotKey> hotKey_;
    std::unique_ptr<SinCosDialogView> sinCosView_;  // outlives dialogs_, which points to it
    std::unique_ptr<WindowDialogs> dialogs_;
    std::unique_ptr<WindowView> view_;
    std::unique_ptr<CalibrationWindowView> calibrationView_;
    std::unique_ptr<BenchState> state_;
    std::shared_ptr<ResultsStore> resultsStore_;  // outlives the bench and its workers
    ResultsMenu* resultsMenu_ = nullptr;           // a child; the bench's workers are joined before it goes
    std::unique_ptr<Bench> bench_;

    std::atomic<bool> closing_{false};
    bool closeRun_ = false;
    std::atomic<bool> shutDown_{false};
};
