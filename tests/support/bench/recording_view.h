#pragma once
// A BenchView for tests: remembers every control's state, records messages
// and timer calls, and answers file dialogs from a queue. Thread-safe, so
// workers may call it like they call the window.
#include "bench/bench_view.h"
#include "bench/calibration_view.h"
#include "bench/sincos_view.h"
#include "bench/force_view.h"

#include <QStringList>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

// The calibration dialog's controls as the operation last set them. Before
// any call every control is enabled, empty, idle and at entry 0.
class FakeCalibrationView : public CalibrationView {
public:
    void setEnabled(CalControl c, bool on) override;
    void setText(CalControl c, const QString& text) override;
    void setIndicator(CalControl c, CalIndicator state) override;
    void selectItem(CalControl combo, int index) override;

    bool isEnabled(CalControl c) const;
    QString text(CalControl c) const;
    CalIndicator indicator(CalControl c) const;
    int selected(CalControl c) const;

private:
    struct State {
        bool enabled = true;
        QString text;
        CalIndicator indicator = CalIndicator::Idle;
        int index = 0;
    };
    mutable std::mutex mutex_;
    std::map<CalControl, State> controls_;
};

class RecordingDialogHost;

// The sin/cos dialog's screen: field texts, the "Collection" caption and the
// samples the charts got. Like the dialog, it drops calls while closed.
class RecordingSinCosView : public SinCosView {
public:
    explicit RecordingSinCosView(const RecordingDialogHost& host) : host_(host) {}

    void reset() override;
    void setField(SinCosField field, const QString& text) override;
    void setCollectionCaption(const QString& caption) override;
    void showTraces(std::shared_ptr<const SinCosTraces> traces) override;

    QString field(SinCosField field) const;
    QString collectionCaption() const;
    // Sample sets the charts were given since the last reset, and the last one.
    int tracesShown() const;
    std::shared_ptr<const SinCosTraces> lastTraces() const;

private:
    bool open() const;
    const RecordingDialogHost& host_;
    mutable std::mutex mutex_;
    std::array<QString, kSinCosFieldCount> fields_{};
    QString caption_;
    int tracesShown_ = 0;
    std::shared_ptr<const SinCosTraces> traces_;
};

// Records what the force test shows in its dialog.
class RecordingForceView : public ForceView {
public:
    void setGaugeValue(double newtons) override;
    void setLiveText(const QString& text) override;
    void setRecordText(const QString& text) override;
    void setNameConfirmed(bool confirmed) override;
    void setAttemptRunning(bool running) override;
    void setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows) override;

    double gaugeValue() const;
    int gaugeRedraws() const;
    QString liveText() const;
    QString recordText() const;
    bool nameConfirmed() const;
    bool attemptRunning() const;
    // "name=power" per listed row, as the cells show them; empty rows left out.
    QStringList topList() const;

private:
    mutable std::mutex mutex_;
    double gauge_ = 0;
    int redraws_ = 0;
    QString live_, record_;
    bool confirmed_ = false;
    bool running_ = false;
    std::array<ForceTopRow, ForceTopList::kRows> rows_{};
};

// Records what the operations ask of the dialogs.
class RecordingDialogHost : public DialogHost {
public:
    RecordingDialogHost() : sinCos_(*this) {}

    void openDialog(DialogKind kind) override;
    void closeDialog(DialogKind kind) override;
    bool isDialogOpen(DialogKind kind) const override;
    void hideMainWindow() override;
    void showMainWindow() override;
    FakeCalibrationView& calibrationView() override { return calibration_; }
    RecordingSinCosView& sinCos() override { return sinCos_; }
    RecordingForceView& forceView() override { return force_; }

    bool mainWindowHidden() const;
    int opens(DialogKind kind) const;
    int showMainWindowCalls() const;

private:
    FakeCalibrationView calibration_;
    int showMainCalls_ = 0;
    mutable std::mutex mutex_;
    std::map<DialogKind, bool> open_;
    std::map<DialogKind, int> opens_;
    bool mainHidden_ = false;
    RecordingSinCosView sinCos_;
    RecordingForceView force_;
};

// The view of the end-to-end tests. The controls are the shared model
// (controls()); this records the rest: messages, file dialogs, timers.
class RecordingView : public BenchView {
public:
    void setTitle(const QString& title) override;
    void showWindow() override;
    void repaintWindow() override {}
    void showMessage(const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
    void startTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    RecordingDialogHost& dialogs() override { return dialogs_; }

    // --- For the tests ---
    // Selects a list entry by its text, as a user would.
    void choose(Control list, const QString& item);
    QStringList messages() const;
    void clearMessages();
    QString title() const;
    bool timerRunning(int id) const;
    int timerPeriod(int id) const;
    int showWindowCalls() const;
    // Answers of the next file dialogs (empty text: the user cancels).
    void queueFileAnswer(const QString& path);
    std::vector<FileDialogRequest> fileRequests() const;

private:
    RecordingDialogHost dialogs_;
    mutable std::mutex mutex_;
    QStringList messages_;
    QString title_;
    std::map<int, int> timers_;
    int showWindowCalls_ = 0;
    std::deque<QString> fileAnswers_;
    std::vector<FileDialogRequest> fileRequests_;
};
