#pragma once
// The main window's widgets by Control: mapped from quillmark_dlg.ui, styled,
// and kept equal to the bench's control states. GUI thread only.
#include "bench/control_states.h"

#include <array>

class QLineEdit;
class QObject;
class QWidget;
namespace Ui {
class CQuillmarkDlg;
}

class WindowControls {
public:
    // Maps, styles and fills the widgets `ui` built on `owner`.
    WindowControls(Ui::CQuillmarkDlg& ui, QWidget* owner);

    // The widget (or, for a menu item, the QAction) behind a control.
    QObject* object(Control c) const { return objects_[static_cast<int>(c)]; }
    QLineEdit* fieldWidthEdit(int k) const;

    // Puts the changed parts of `state` on control `change.control`'s widget.
    void apply(const ControlChange& change, const ControlState& state);

    // What the widgets show (for the window's tests and screenshots).
    QString text(Control c) const;
    bool isEnabled(Control c) const;
    bool isVisible(Control c) const;  // the control's own state, also while the window is hidden
    bool isChecked(Control c) const;
    int currentIndex(Control c) const;

private:
    void map(Ui::CQuillmarkDlg& ui);
    void style(Ui::CQuillmarkDlg& ui, QWidget* owner);
    void fillLists(Ui::CQuillmarkDlg& ui);

    std::array<QObject*, kControlCount> objects_{};
};
