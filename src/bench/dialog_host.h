#pragma once
// The secondary dialogs, as the operations see them: opened and closed by
// kind, with the main window giving way while some of them are open. Each
// dialog that shows results has a small view interface of its own (declared
// beside its operation) that the window implements with widgets and tests
// with fakes. Dialogs are deleted when they close.
enum class DialogKind { CalibrationAccess, Calibration, SinCos, Force };

class CalibrationView;
class SinCosView;
class ForceView;

class DialogHost {
public:
    virtual ~DialogHost() = default;

    // Creates and shows the dialog (a second open re-shows the one that is
    // open). Any thread.
    virtual void openDialog(DialogKind kind) = 0;
    // Closes and deletes it; nothing when it is not open. Any thread.
    virtual void closeDialog(DialogKind kind) = 0;
    virtual bool isDialogOpen(DialogKind kind) const = 0;

    virtual void hideMainWindow() = 0;
    virtual void showMainWindow() = 0;

    // The calibration dialog's controls (a no-op while it is not open).
    virtual CalibrationView& calibrationView() = 0;
    // What the sin/cos analysis dialog shows (dropped while it is closed).
    virtual SinCosView& sinCos() = 0;
    // The force dialog's view; its calls do nothing while no dialog is open.
    virtual ForceView& forceView() = 0;
};
