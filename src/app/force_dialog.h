#pragma once
// "Force test": the contest dialog. It shows what the force test gives it
// (live force on the gauge and in a field, the last attempt's result, the
// top list) and hands its input to the bench as signals; it never touches
// the link. Modeless, resizable; its controls scale with the window from
// their original geometry.
#include "bench/force_view.h"

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <memory>
#include <vector>

class CMeter_fprce;
class QLineEdit;
class QTimer;
class WindowDialogs;
namespace Ui {
class ForceDialog;
}

// "MyFont": a bold fixed-pitch face whose cell is `height` pixels high and
// whose characters are `width` pixels wide (Liberation Mono stands in).
QFont myFont(int height, int width);

class ForceDialog : public QDialog {
    Q_OBJECT
public:
    explicit ForceDialog(QWidget* parent = nullptr);
    ~ForceDialog() override;

    // What the force test shows (GUI thread).
    void setGaugeValue(double newtons);
    void setLiveText(const QString& text);
    void setRecordText(const QString& text);
    void setNameConfirmed(bool confirmed);
    void setAttemptRunning(bool running);
    void setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows);

    CMeter_fprce* gauge() const;
    QLineEdit* nameEdit() const;
    // Row 1..10; column 0 ranking, 1 name, 2 power.
    QLineEdit* cell(int row, int column) const;
    QString liveText() const;
    QString recordText() const;
    bool liveTimerActive() const;

signals:
    void entered();
    void nameEdited(const QString& text);
    void startStopClicked();
    void liveTick();
    // "Back to home" or the close box: the dialog closes and is deleted.
    void closing();

public slots:
    // Enter presses the hidden default button, which does nothing.
    void accept() override {}
    // Esc closes as the close box does.
    void reject() override { close(); }

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    std::unique_ptr<Ui::ForceDialog> ui_;
    QTimer* liveTimer_ = nullptr;
    // Every control's rectangle as the .ui gives it, and the client size it
    // belongs to: resizing scales from these, so repeated resizes never drift.
    QSize originalSize_;
    std::vector<std::pair<QPointer<QWidget>, QRect>> original_;
};

// The force test's view in the window: applies each call on the GUI thread
// to the open force dialog, or drops it when none is open.
class ForceDialogView : public ForceView {
public:
    ForceDialogView(WindowDialogs& dialogs, QObject* gui) : dialogs_(dialogs), gui_(gui) {}

    void setGaugeValue(double newtons) override;
    void setLiveText(const QString& text) override;
    void setRecordText(const QString& text) override;
    void setNameConfirmed(bool confirmed) override;
    void setAttemptRunning(bool running) override;
    void setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows) override;

private:
    template <typename F>
    void toDialog(F&& apply);
    WindowDialogs& dialogs_;
    QObject* gui_;
};
