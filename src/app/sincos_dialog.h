#pragma once
// The sin/cos analysis dialog: three charts (SIN±, COS±, Z±), the position
// count, each track's DC offset and peak-to-peak, the phase of each pair,
// "Collection" and "Back to home". It only shows what the sin/cos test gives
// it and hands the user's presses and its 50 ms refresh to the bench.
#include "bench/sincos_view.h"

#include <QDialog>
#include <array>
#include <memory>

class CDataShow;
class QLineEdit;
class QTimer;
class WindowDialogs;
namespace Ui {
class SinCosDialog;
}

class SinCosDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 50;

    explicit SinCosDialog(QWidget* parent = nullptr);
    ~SinCosDialog() override;

    // What the sin/cos test shows (GUI thread).
    void reset();
    void setField(SinCosField field, const QString& text);
    void setCollectionCaption(const QString& caption);
    void showTraces(const SinCosTraces& traces);

    QLineEdit* fieldEdit(SinCosField field) const { return fields_[static_cast<std::size_t>(field)]; }
    // Chart 0 (SIN±), 1 (COS±) or 2 (Z±).
    CDataShow* chart(int index) const { return charts_.at(static_cast<std::size_t>(index)); }
    QTimer* refreshTimer() const { return refresh_; }

signals:
    // Every 50 ms while the dialog is open.
    void refreshDue();
    void collectionPressed();
    // "Back to home", the close box or Esc.
    void backToHome();

public slots:
    // Enter does not close the dialog.
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::SinCosDialog> ui_;
    std::array<QLineEdit*, kSinCosFieldCount> fields_{};
    std::array<CDataShow*, 3> charts_{};
    QTimer* refresh_ = nullptr;
    std::array<double, kSinCosShownSamples> x_{};
};

// The window's SinCosView: hands each call to the open dialog on the GUI
// thread; calls made while no dialog is open are dropped. Owned by the
// window, it outlives every dialog.
class SinCosDialogView : public SinCosView {
public:
    SinCosDialogView(WindowDialogs& dialogs, QObject* guiContext) : dialogs_(dialogs), context_(guiContext) {}

    void reset() override;
    void setField(SinCosField field, const QString& text) override;
    void setCollectionCaption(const QString& caption) override;
    void showTraces(std::shared_ptr<const SinCosTraces> traces) override;

private:
    template <typename F>
    void toDialog(F&& apply);
    WindowDialogs& dialogs_;
    QObject* context_;
};
