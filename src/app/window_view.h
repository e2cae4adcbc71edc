#pragma once
// The main window as the bench's view. Control states reach the widgets
// through one queued update per burst of changes, never a blocking call;
// message boxes and file dialogs run on the GUI thread while the calling
// thread waits for the answer. Once the window starts to close a waiting
// worker gets a neutral answer (a cancelled dialog): the close joins the
// workers, and a worker waiting for the GUI thread would never be joined.
#include "bench/bench_view.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>

class BenchThread;
class QWidget;
class WindowControls;

class WindowView : public QObject, public BenchView {
    Q_OBJECT
public:
    WindowView(QWidget* window, WindowControls& controls, BenchThread& benchThread, DialogHost& dialogs);
    ~WindowView() override;

    void setTitle(const QString& title) override;
    void showWindow() override;
    void repaintWindow() override;
    void showMessage(const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
    void startTimer(int id, int periodMs) override;
    void killTimer(int id) override;
    DialogHost& dialogs() override { return dialogs_; }

    // The close command has begun: workers get neutral answers, the bench
    // thread (running the close command) still gets real ones.
    void beginClosing();
    // Destruction: nobody gets an answer any more.
    void shutDown();
    bool closing() const { return closing_.load(); }

    // Puts every pending control change on the widgets (GUI thread).
    void applyChanges();

private:
    // Runs `apply` on the GUI thread: at once when called there, else queued.
    template <typename F>
    void post(F&& apply);
    // Runs `get` on the GUI thread and waits for its answer.
    template <typename R, typename F>
    R ask(F&& get, R fallback);
    QString fileDialog(const FileDialogRequest& request, bool save);

    QWidget* window_;
    WindowControls& widgets_;
    BenchThread& benchThread_;
    DialogHost& dialogs_;

    std::mutex callMutex_;
    std::condition_variable callDone_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> shutDown_{false};
};
