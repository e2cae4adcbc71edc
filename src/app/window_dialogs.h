#pragma once
// The window's side of the dialog host: creates each secondary dialog from
// its registered factory, shows it, deletes it when it closes, and hides or
// shows the main window. Every call may come from any thread; widgets are
// touched on the GUI thread only.
#include "bench/dialog_host.h"
#include "bench/sincos_view.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

class ForceDialogView;

class WindowDialogs : public DialogHost {
public:
    using Factory = std::function<QWidget*(QWidget* parent)>;

    explicit WindowDialogs(QWidget* mainWindow);
    ~WindowDialogs() override;

    void registerDialog(DialogKind kind, Factory factory);
    // The open dialog of `kind` (GUI thread), or null.
    QWidget* dialog(DialogKind kind) const;

    void openDialog(DialogKind kind) override;
    void closeDialog(DialogKind kind) override;
    bool isDialogOpen(DialogKind kind) const override;
    void hideMainWindow() override;
    void showMainWindow() override;
    CalibrationView& calibrationView() override;
    // The window's calibration view (it owns it); until set, calls do nothing.
    void setCalibrationView(CalibrationView* view) { calibrationView_ = view; }
    SinCosView& sinCos() override;
    // The window's adapter behind sinCos(); it outlives this host.
    void setSinCosView(SinCosView* view) { sinCos_ = view; }
    ForceView& forceView() override;

    // Set once the window begins to close: nothing new is opened.
    void setClosing() { closing_ = true; }

private:
    static constexpr int kKinds = 4;
    static int index(DialogKind k) { return static_cast<int>(k); }
    template <typename F>
    void onGui(F&& f);

    QWidget* main_;
    std::array<Factory, kKinds> factories_;
    std::array<QPointer<QWidget>, kKinds> open_;
    std::array<std::atomic<bool>, kKinds> isOpen_{};
    std::atomic<bool> closing_{false};
    CalibrationView* calibrationView_ = nullptr;
    SinCosView* sinCos_ = nullptr;
    std::unique_ptr<ForceDialogView> forceView_;
};
