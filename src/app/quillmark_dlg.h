#pragma once
// The main window: builds its controls from quillmark_dlg.ui, maps them to
// Control values, forwards every click, menu command, timer tick and device
// change to the bench, and owns the bench state for the life of the window.
#include "bench/bench_view.h"

#include <QDialog>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

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
class WindowDialogs;
namespace Ui {
class CQuillmarkDlg;
}
class ResultsStore;

class CQuillmarkDlg : public QDialog, public BenchView {
    Q_OBJECT
public:
    // Opens the box on `backend` (a bus without devices gives a window with
    // an empty title) and brings the controls to their start-up state.
    explicit CQuillmarkDlg(std::shared_ptr<UsbBackend> backend, QWidget* parent = nullptr);
    ~CQuillmarkDlg() override;

    Bench& bench() { return *bench_; }
    GlobalHotKey& hotKey() { return *hotKey_; }
    // The widget (or, for a menu item, the QAction) behind a control.
    QObject* controlObject(Control c) const { return controls_[static_cast<int>(c)]; }
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

    // BenchView. Callable from any thread (see quillmark_dlg.cpp).
    void setText(Control c, const QString& text) override;
    QString text(Control c) const override;
    void setEnabled(Control c, bool on) override;
    bool isEnabled(Control c) const override;
    void setVisible(Control c, bool on) override;
    bool isVisible(Control c) const override;
    void setChecked(Control c, bool on) override;
    bool isChecked(Control c) const override;
    void setCurrentIndex(Control c, int index) override;
    int currentIndex(Control c) const override;
    void setLamp(Control c, LampImage image) override;
    void setProgress(Control c, int value) override;
    void setButtonColours(Control c, QColor pressed, QColor normal) override;
    void setGaugeHighlight(int field) override;
    void setGaugeValue(double value) override;
    void setTitle(const QString& title) override;
    void showWindow() override;
    void repaintWindow() override;
    void showMessage(const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
    void startTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    DialogHost& dialogs() override;
    WindowDialogs& windowDialogs() { return *dialogs_; }

    // The QWidget members of the same names stay reachable.
    using QDialog::isEnabled;
    using QDialog::isVisible;
    using QDialog::setEnabled;
    using QDialog::setVisible;

public slots:
    // Enter: the default command does nothing.
    void accept() override;
    // Esc and the close box: the close command, then the dialog ends.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void mapControls();
    void styleControls();
    void fillLists();
    void connectControls();
    void beginClosing();
    // The calibration access and calibration dialogs, their view and their
    // input to the bench.
    void registerCalibrationDialogs();

    // Runs `apply` on the GUI thread: at once when called there, else queued.
    template <typename F>
    void post(F&& apply) const;
    // Runs `get` on the GUI thread and waits for its answer; once the close
    // has begun a worker gets `fallback` at once instead.
    template <typename R, typename F>
    R ask(F&& get, R fallback) const;

    QString fileDialog(const FileDialogRequest& request, bool save);

    std::unique_ptr<Ui::CQuillmarkDlg> ui_;
    std::array<QObject*, kControlCount> controls_{};
    std::unique_ptr<BenchThread> benchThread_;
    std::unique_ptr<GlobalHotKey> hotKey_;
    std::unique_ptr<SinCosDialogView> sinCosView_;  // outlives dialogs_, which points to it
    std::unique_ptr<WindowDialogs> dialogs_;
    std::unique_ptr<CalibrationWindowView> calibrationView_;
    std::unique_ptr<BenchState> state_;
    std::shared_ptr<ResultsStore> resultsStore_;  // outlives the bench and its workers
    std::unique_ptr<Bench> bench_;

    // Workers waiting for an answer from the GUI thread.
    mutable std::mutex callMutex_;
    mutable std::condition_variable callDone_;
    std::atomic<bool> closing_{false};
    bool closeRun_ = false;
    std::atomic<bool> shutDown_{false};
};
