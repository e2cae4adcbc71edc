#pragma once
// The seam between the operations and the screen. The controls' states are
// one model that every view shares; the window mirrors it onto its widgets.
// The rest (message boxes, file dialogs, timers, the secondary dialogs) each
// view implements: the window on the GUI thread (blocking where the caller
// needs an answer, such as a message box), tests with a recorder, the tool
// on the console. Every call may come from any thread.
#include "bench/control.h"
#include "bench/control_states.h"
#include "bench/dialog_host.h"

#include <QColor>
#include <QString>
#include <QStringList>

// Colours of the owner-drawn buttons.
inline const QColor kColourPressed{205, 205, 180};
inline const QColor kColourApplied{127, 255, 0};
inline const QColor kColourNotApplied{210, 105, 30};

struct FileDialogRequest {
    QString defaultName;       // "FileName" + counter
    QString defaultExtension;  // appended to a name typed without one
    QStringList filters;       // e.g. "(*.cfg) (*.cfg)", "Word(*.doc) (*.doc)", "all(*.*) (*.*)"
    QString directory;
};

class BenchView {
public:
    virtual ~BenchView() = default;

    // The controls' states; the setters below write them. Any thread, never
    // waiting for the screen.
    ControlStates& controls() { return controls_; }
    const ControlStates& controls() const { return controls_; }

    // Caption of a button, text of an edit or label, current entry of a list.
    void setText(Control c, const QString& text) { controls_.setText(c, text); }
    void setEnabled(Control c, bool on) { controls_.setEnabled(c, on); }
    void setVisible(Control c, bool on) { controls_.setVisible(c, on); }
    // Check boxes and menu check marks.
    void setChecked(Control c, bool on) { controls_.setChecked(c, on); }
    // Drop-down lists.
    void setCurrentIndex(Control c, int index) { controls_.setCurrentIndex(c, index); }
    void setLamp(Control c, LampImage image) { controls_.setLamp(c, image); }
    void setProgress(Control c, int value) { controls_.setProgress(c, value); }
    void setButtonColours(Control c, QColor pressed, QColor normal) { controls_.setButtonColours(c, pressed, normal); }
    // The width edit marked as the gauge's field (0: none).
    void setGaugeHighlight(int field) { controls_.setGaugeHighlight(field); }
    // The gauge's value, then a redraw.
    void setGaugeValue(double value) { controls_.setGaugeValue(value); }

    virtual void setTitle(const QString& title) = 0;
    virtual void showWindow() = 0;
    virtual void repaintWindow() = 0;

    // Modal; returns when the user closed it.
    virtual void showMessage(const QString& text) = 0;
    // Empty when cancelled.
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
    virtual QString openFileName(const FileDialogRequest& request) = 0;

    // Window timers 0..6.
    virtual void startTimer(int id, int periodMs) = 0;
    virtual void killTimer(int id) = 0;

    // The secondary dialogs and the main window's giving way to them.
    virtual DialogHost& dialogs() = 0;

private:
    ControlStates controls_;
};
