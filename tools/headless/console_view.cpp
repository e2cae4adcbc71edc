#include "headless/console_view.h"

#include "bench/bench_thread.h"
#include "common/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void ConsoleSinCosView::reset()
{
    std::lock_guard lock(mutex_);
    fields_.fill(QStringLiteral("xxx"));
    fields_[static_cast<int>(SinCosField::Count)].clear();
    collectionCaption_ = kSinCosCollection;
    writes_ = 0;
}

void ConsoleSinCosView::setCollectionCaption(const QString& caption)
{
    std::lock_guard lock(mutex_);
    collectionCaption_ = caption;
}

QString ConsoleSinCosView::collectionCaption() const
{
    std::lock_guard lock(mutex_);
    return collectionCaption_;
}

void ConsoleSinCosView::setField(SinCosField field, const QString& text)
{
    std::lock_guard lock(mutex_);
    fields_[static_cast<int>(field)] = text;
    ++writes_;
}

QString ConsoleSinCosView::field(SinCosField field) const
{
    std::lock_guard lock(mutex_);
    return fields_[static_cast<int>(field)];
}

int ConsoleSinCosView::writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

void ConsoleDialogHost::openDialog(DialogKind kind)
{
    std::lock_guard lock(mutex_);
    bool& open = open_[kind];
    if (!open && kind == DialogKind::SinCos)
        sinCos_.reset();
    open = true;
}

void ConsoleDialogHost::closeDialog(DialogKind kind)
{
    std::lock_guard lock(mutex_);
    open_[kind] = false;
}

bool ConsoleDialogHost::isDialogOpen(DialogKind kind) const
{
    std::lock_guard lock(mutex_);
    auto it = open_.find(kind);
    return it != open_.end() && it->second;
}

ConsoleView::ConsoleView(BenchThread& timers, bool quiet) : timers_(timers), quiet_(quiet)
{
    controls().setObserver([this](Control c, const ControlState& s) { onControlWritten(c, s); });
}

void ConsoleView::onControlWritten(Control c, const ControlState& s)
{
    std::function<void(Control, const QString&)> observer;
    {
        std::lock_guard lock(mutex_);
        if (c == Control::AbsProgress || c == Control::ResolutionProgress) {
            auto [it, fresh] = progressShownAt_.try_emplace(c, 0);
            if (showProgress_ && it->second != s.progress) {
                std::fprintf(stderr, "\rprogress %d/60 ", s.progress);
                progressShown_ = true;
            }
            it->second = s.progress;
            return;
        }
        observer = observer_;
    }
    if (observer)
        observer(c, s.text);
}

void ConsoleView::showMessage(const QString& text)
{
    std::lock_guard lock(mutex_);
    messages_ << text;
    if (!quiet_)
        std::fprintf(stderr, "quillmark-tool: %s\n", text.trimmed().toLocal8Bit().constData());
}

QStringList ConsoleView::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

QString ConsoleView::saveFileName(const FileDialogRequest&)
{
    std::lock_guard lock(mutex_);
    return fileAnswer_;
}

QString ConsoleView::openFileName(const FileDialogRequest&)
{
    std::lock_guard lock(mutex_);
    return fileAnswer_;
}

void ConsoleView::setFileAnswer(const QString& path)
{
    std::lock_guard lock(mutex_);
    fileAnswer_ = path;
}

void ConsoleView::setTextObserver(std::function<void(Control, const QString&)> observer)
{
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void ConsoleView::setShowProgress(bool on)
{
    std::lock_guard lock(mutex_);
    showProgress_ = on;
}

bool ConsoleView::progressShown() const
{
    std::lock_guard lock(mutex_);
    return progressShown_;
}

void ConsoleView::startTimer(int id, int periodMs)
{
    timers_.startTimer(id, periodMs);
}

void ConsoleView::killTimer(int id)
{
    timers_.killTimer(id);
}
