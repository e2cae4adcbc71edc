#pragma once
// The bench's view for the command line: no widgets. Control states are
// remembered so that operations read back what they wrote; message boxes
// become stderr lines and are kept; file dialogs answer with the path the
// command was given; timers run on the bench thread, their periods shortened
// by the bench clock's speed so that ticks keep pace with the box.
// Every call may come from any thread.
#include "bench/bench_view.h"
#include "bench/calibration_view.h"
#include "bench/force_view.h"
#include "bench/sincos_view.h"

#include <QStringList>
#include <array>
#include <functional>
#include <map>
#include <mutex>

class BenchThread;

// The sin/cos dialog's fields, kept as the test writes them while it is open.
class ConsoleSinCosView : public SinCosView {
public:
    void reset() override;
    void setField(SinCosField field, const QString& text) override;
    void setCollectionCaption(const QString& caption) override;
    void showTraces(std::shared_ptr<const SinCosTraces>) override {}

    QString field(SinCosField field) const;
    // "Collection" while the fit is not armed (also after each fit),
    // "Turning encoder" while it is.
    QString collectionCaption() const;
    // Bumps each time the fields were written after a reset.
    int writes() const;

private:
    mutable std::mutex mutex_;
    std::array<QString, kSinCosFieldCount> fields_{};
    QString collectionCaption_ = kSinCosCollection;
    int writes_ = 0;
};

class ConsoleCalibrationView : public CalibrationView {
public:
    void setEnabled(CalControl, bool) override {}
    void setText(CalControl, const QString&) override {}
    void setIndicator(CalControl, CalIndicator) override {}
    void selectItem(CalControl, int) override {}
};

class ConsoleForceView : public ForceView {
public:
    void setGaugeValue(double) override {}
    void setLiveText(const QString&) override {}
    void setRecordText(const QString&) override {}
    void setNameConfirmed(bool) override {}
    void setAttemptRunning(bool) override {}
    void setTopList(const std::array<ForceTopRow, ForceTopList::kRows>&) override {}
};

// No windows: a dialog is only a flag; the sin/cos dialog's fields are kept.
class ConsoleDialogHost : public DialogHost {
public:
    void openDialog(DialogKind kind) override;
    void closeDialog(DialogKind kind) override;
    bool isDialogOpen(DialogKind kind) const override;
    void hideMainWindow() override {}
    void showMainWindow() override {}
    CalibrationView& calibrationView() override { return calibration_; }
    ConsoleSinCosView& sinCos() override { return sinCos_; }
    ForceView& forceView() override { return force_; }

private:
    mutable std::mutex mutex_;
    std::map<DialogKind, bool> open_;
    ConsoleCalibrationView calibration_;
    ConsoleSinCosView sinCos_;
    ConsoleForceView force_;
};

class ConsoleView : public BenchView {
public:
    // `timers` runs the bench's timers; messages go to stderr unless `quiet`.
    explicit ConsoleView(BenchThread& timers, bool quiet = false);

    void setTitle(const QString&) override {}
    void showWindow() override {}
    void repaintWindow() override {}
    void showMessage(const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
    void startTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    ConsoleDialogHost& dialogs() override { return dialogs_; }

    // The path the next file dialogs answer with (empty: cancelled).
    void setFileAnswer(const QString& path);
    QStringList messages() const;
    // Called with the new text whenever a control's text is set (any thread).
    void setTextObserver(std::function<void(Control, const QString&)> observer);
    // Progress changes are echoed on stderr (for a terminal).
    void setShowProgress(bool on);
    // Whether a progress line was echoed (it wants a line end).
    bool progressShown() const;

private:
    void onControlWritten(Control c, const ControlState& s);

    BenchThread& timers_;
    const bool quiet_;
    mutable std::mutex mutex_;
    QStringList messages_;
    QString fileAnswer_;
    bool showProgress_ = false;
    bool progressShown_ = false;
    std::map<Control, int> progressShownAt_;
    std::function<void(Control, const QString&)> observer_;
    ConsoleDialogHost dialogs_;
};
