#pragma once
// The seam between the operations and the screen. The main window implements
// it with widgets; tests implement it with a recorder. Every call may come
// from any thread: implementations apply it on the GUI thread (queued, or
// blocking where the caller needs an answer, such as a message box).
#include "bench/control.h"
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

    // Caption of a button, text of an edit or label, current text of a list.
    virtual void setText(Control c, const QString& text) = 0;
    virtual QString text(Control c) const = 0;
    virtual void setEnabled(Control c, bool on) = 0;
    virtual bool isEnabled(Control c) const = 0;
    virtual void setVisible(Control c, bool on) = 0;
    virtual bool isVisible(Control c) const = 0;
    // Check boxes and menu check marks.
    virtual void setChecked(Control c, bool on) = 0;
    virtual bool isChecked(Control c) const = 0;
    // Drop-down lists.
    virtual void setCurrentIndex(Control c, int index) = 0;
    virtual int currentIndex(Control c) const = 0;

    virtual void setLamp(Control c, LampImage image) = 0;
    virtual void setProgress(Control c, int value) = 0;
    virtual void setButtonColours(Control c, QColor pressed, QColor normal) = 0;
    // The width edit marked as the gauge's field (0: none).
    virtual void setGaugeHighlight(int field) = 0;
    // The gauge's value, then a redraw.
    virtual void setGaugeValue(double value) = 0;

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
};
