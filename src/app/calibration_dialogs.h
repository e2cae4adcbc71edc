#pragma once
// The calibration dialogs: the access-code dialog and the calibration dialog
// for the two kinds of encoder, and the window's implementation of the
// calibration view over the open dialog. The dialogs only report presses,
// choices, the typed code and their display tick; the bench decides.
#include "bench/calibration_view.h"

#include <QDialog>
#include <QTimer>
#include <array>
#include <memory>

class QKeyEvent;
class WindowDialogs;
namespace Ui {
class CalibrationAccessDialog;
class CalibrationDialog;
}

// "密码界面": the code field and "确认". Enter confirms like the button, once
// per key press (a held key's repeats are ignored), and does not close the
// dialog by itself.
class CalibrationAccessDialog : public QDialog {
    Q_OBJECT
public:
    explicit CalibrationAccessDialog(QWidget* parent = nullptr);
    ~CalibrationAccessDialog() override;

    QWidget* codeField() const;

signals:
    // The code as typed; the field is empty afterwards.
    void codeConfirmed(const QString& typed, bool enterKey);

public slots:
    void accept() override {}

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void confirm(bool enterKey);
    std::unique_ptr<Ui::CalibrationAccessDialog> ui_;
};

// "Encoder_calibration": both encoders' panes. Runs its 500 ms display
// timer while it is open.
class CalibrationDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDisplayPeriodMs = 500;

    explicit CalibrationDialog(QWidget* parent = nullptr);
    ~CalibrationDialog() override;

    // The widget behind a control (a button, combo, indicator or field).
    QWidget* control(CalControl c) const { return controls_[static_cast<std::size_t>(c)]; }

    void applyEnabled(CalControl c, bool on);
    void applyText(CalControl c, const QString& text);
    void applyIndicator(CalControl c, CalIndicator state);
    void applySelection(CalControl combo, int index);

signals:
    // A button; the close box reports "返回主页".
    void buttonPressed(CalControl button);
    void comboChosen(CalControl combo, int index);
    void displayTick();

public slots:
    // Enter does nothing here.
    void accept() override {}
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void mapControls();
    std::unique_ptr<Ui::CalibrationDialog> ui_;
    std::array<QWidget*, kCalControlCount> controls_{};
    QTimer displayTimer_;
};

// The calibration view of the window: applies each call to the calibration
// dialog if it is open, on the GUI thread (queued from other threads, in
// order). Lives as long as the window.
class CalibrationWindowView : public CalibrationView {
public:
    CalibrationWindowView(QObject* guiContext, WindowDialogs& dialogs) : context_(guiContext), dialogs_(dialogs) {}

    void setEnabled(CalControl c, bool on) override;
    void setText(CalControl c, const QString& text) override;
    void setIndicator(CalControl c, CalIndicator state) override;
    void selectItem(CalControl combo, int index) override;

private:
    template <typename F>
    void onDialog(F&& apply);
    QObject* context_;
    WindowDialogs& dialogs_;
};

// Fills the three combos with their items.
void fillCalibrationCombos(CalibrationDialog& dialog);
