#include "app/window_view.h"

#include "app/window_controls.h"
#include "bench/bench_thread.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

WindowView::WindowView(QWidget* window, WindowControls& controls, BenchThread& benchThread, DialogHost& dialogs)
    : window_(window), widgets_(controls), benchThread_(benchThread), dialogs_(dialogs)
{
    // A change made on the GUI thread shows at once; from another thread the
    // first change of a burst posts one update and the rest ride along.
    this->controls().setChangeNotice([this] {
        if (QThread::currentThread() == thread())
            applyChanges();
        else
            QMetaObject::invokeMethod(this, [this] { applyChanges(); }, Qt::QueuedConnection);
    });
}

WindowView::~WindowView()
{
    controls().setChangeNotice({});
}

void WindowView::applyChanges()
{
    for (const ControlChange& change : controls().takeChanges())
        widgets_.apply(change, controls().state(change.control));
}

template <typename F>
void WindowView::post(F&& apply)
{
    if (QThread::currentThread() == thread()) {
        apply();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(apply), Qt::QueuedConnection);
}

template <typename R, typename F>
R WindowView::ask(F&& get, R fallback)
{
    if (QThread::currentThread() == thread()) {
        // What the bench set so far shows behind the dialog.
        applyChanges();
        return get();
    }
    struct Answer {
        bool done = false;
        R value{};
    };
    auto answer = std::make_shared<Answer>();
    // During the close command the bench thread is still answered.
    const bool answerWhileClosing = benchThread_.isCurrent() && !shutDown_;
    {
        std::lock_guard lock(callMutex_);
        if (closing_ && !answerWhileClosing)
            return fallback;
    }
    QMetaObject::invokeMethod(
        this,
        [this, answer, answerWhileClosing, get = std::forward<F>(get)]() mutable {
            // Asked before the close began but reached only after it: the
            // worker has already been answered.
            if (closing_ && !answerWhileClosing)
                return;
            applyChanges();
            R value = get();
            {
                std::lock_guard lock(callMutex_);
                answer->value = std::move(value);
                answer->done = true;
            }
            callDone_.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(callMutex_);
    callDone_.wait(lock, [&] { return answer->done || (closing_ && (!answerWhileClosing || shutDown_)); });
    return answer->done ? answer->value : fallback;
}

void WindowView::beginClosing()
{
    {
        std::lock_guard lock(callMutex_);
        closing_ = true;
    }
    callDone_.notify_all();
}

void WindowView::shutDown()
{
    {
        std::lock_guard lock(callMutex_);
        shutDown_ = true;  // a close command waiting for a message box gets its answer
    }
    callDone_.notify_all();
}

void WindowView::setTitle(const QString& title)
{
    post([this, title] { window_->setWindowTitle(title); });
}

void WindowView::showWindow()
{
    post([this] {
        if (!closing_)
            window_->show();
    });
}

void WindowView::repaintWindow()
{
    post([this] {
        window_->update();
        for (QWidget* w : window_->findChildren<QWidget*>())
            w->update();
    });
}

void WindowView::showMessage(const QString& text)
{
    ask(
        [this, text] {
            QMessageBox box(QMessageBox::NoIcon, window_->windowTitle(), text, QMessageBox::Ok, window_);
            box.exec();
            return true;
        },
        false);
}

QString WindowView::fileDialog(const FileDialogRequest& request, bool save)
{
    QFileDialog dialog(window_);
    // Qt's own dialog: the same on every desktop, and it runs offscreen.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
    if (!request.filters.isEmpty())
        dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.defaultName.isEmpty())
        dialog.selectFile(request.defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString WindowView::saveFileName(const FileDialogRequest& request)
{
    return ask([this, request] { return fileDialog(request, true); }, QString());
}

QString WindowView::openFileName(const FileDialogRequest& request)
{
    return ask([this, request] { return fileDialog(request, false); }, QString());
}

void WindowView::startTimer(int id, int periodMs)
{
    benchThread_.startTimer(id, periodMs);
}

void WindowView::killTimer(int id)
{
    benchThread_.killTimer(id);
}
