#include "support/bench/recording_view.h"

#include "sincos/sincos_analysis.h"

void RecordingView::setTitle(const QString& title)
{
    std::lock_guard lock(mutex_);
    title_ = title;
}

void RecordingView::showWindow()
{
    std::lock_guard lock(mutex_);
    ++showWindowCalls_;
}

void RecordingView::showMessage(const QString& text)
{
    std::lock_guard lock(mutex_);
    messages_ << text;
}

QString RecordingView::saveFileName(const FileDialogRequest& request)
{
    std::lock_guard lock(mutex_);
    fileRequests_.push_back(request);
    if (fileAnswers_.empty())
        return {};
    QString answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    return answer;
}

QString RecordingView::openFileName(const FileDialogRequest& request)
{
    return saveFileName(request);
}

void RecordingView::startTimer(int id, int periodMs)
{
    std::lock_guard lock(mutex_);
    timers_[id] = periodMs;
}

void RecordingView::killTimer(int id)
{
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

void RecordingView::choose(Control list, const QString& item)
{
    setCurrentIndex(list, static_cast<int>(controls().items(list).indexOf(item)));
}

QStringList RecordingView::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

void RecordingView::clearMessages()
{
    std::lock_guard lock(mutex_);
    messages_.clear();
}

QString RecordingView::title() const
{
    std::lock_guard lock(mutex_);
    return title_;
}

bool RecordingView::timerRunning(int id) const
{
    std::lock_guard lock(mutex_);
    return timers_.count(id) != 0;
}

int RecordingView::timerPeriod(int id) const
{
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second;
}

int RecordingView::showWindowCalls() const
{
    std::lock_guard lock(mutex_);
    return showWindowCalls_;
}

void RecordingView::queueFileAnswer(const QString& path)
{
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(path);
}

std::vector<FileDialogRequest> RecordingView::fileRequests() const
{
    std::lock_guard lock(mutex_);
    return fileRequests_;
}

void RecordingDialogHost::openDialog(DialogKind kind)
{
    std::lock_guard lock(mutex_);
    if (!open_[kind])
        ++opens_[kind];
    open_[kind] = true;
}

void RecordingDialogHost::closeDialog(DialogKind kind)
{
    std::lock_guard lock(mutex_);
    open_[kind] = false;
}

bool RecordingDialogHost::isDialogOpen(DialogKind kind) const
{
    std::lock_guard lock(mutex_);
    const auto it = open_.find(kind);
    return it != open_.end() && it->second;
}

void RecordingDialogHost::hideMainWindow()
{
    std::lock_guard lock(mutex_);
    mainHidden_ = true;
}

void RecordingDialogHost::showMainWindow()
{
    std::lock_guard lock(mutex_);
    mainHidden_ = false;
    ++showMainCalls_;
}

int RecordingDialogHost::showMainWindowCalls() const
{
    std::lock_guard lock(mutex_);
    return showMainCalls_;
}

void FakeCalibrationView::setEnabled(CalControl c, bool on)
{
    std::lock_guard lock(mutex_);
    controls_[c].enabled = on;
}

void FakeCalibrationView::setText(CalControl c, const QString& text)
{
    std::lock_guard lock(mutex_);
    controls_[c].text = text;
}

void FakeCalibrationView::setIndicator(CalControl c, CalIndicator state)
{
    std::lock_guard lock(mutex_);
    controls_[c].indicator = state;
}

void FakeCalibrationView::selectItem(CalControl combo, int index)
{
    std::lock_guard lock(mutex_);
    controls_[combo].index = index;
}

bool FakeCalibrationView::isEnabled(CalControl c) const
{
    std::lock_guard lock(mutex_);
    const auto it = controls_.find(c);
    return it == controls_.end() || it->second.enabled;
}

QString FakeCalibrationView::text(CalControl c) const
{
    std::lock_guard lock(mutex_);
    const auto it = controls_.find(c);
    return it == controls_.end() ? QString() : it->second.text;
}

CalIndicator FakeCalibrationView::indicator(CalControl c) const
{
    std::lock_guard lock(mutex_);
    const auto it = controls_.find(c);
    return it == controls_.end() ? CalIndicator::Idle : it->second.indicator;
}

int FakeCalibrationView::selected(CalControl c) const
{
    std::lock_guard lock(mutex_);
    const auto it = controls_.find(c);
    return it == controls_.end() ? 0 : it->second.index;
}

bool RecordingDialogHost::mainWindowHidden() const
{
    std::lock_guard lock(mutex_);
    return mainHidden_;
}

int RecordingDialogHost::opens(DialogKind kind) const
{
    std::lock_guard lock(mutex_);
    const auto it = opens_.find(kind);
    return it == opens_.end() ? 0 : it->second;
}

// ------------------------------------------------------------ sin/cos dialog

bool RecordingSinCosView::open() const
{
    return host_.isDialogOpen(DialogKind::SinCos);
}

void RecordingSinCosView::reset()
{
    if (!open())
        return;
    std::lock_guard lock(mutex_);
    for (QString& f : fields_)
        f = QString::fromLatin1(kSinCosNoValue);
    fields_[static_cast<int>(SinCosField::Count)].clear();
    caption_ = kSinCosCollection;
    tracesShown_ = 0;
    traces_.reset();
}

void RecordingSinCosView::setField(SinCosField field, const QString& text)
{
    if (!open())
        return;
    std::lock_guard lock(mutex_);
    fields_[static_cast<std::size_t>(field)] = text;
}

void RecordingSinCosView::setCollectionCaption(const QString& caption)
{
    if (!open())
        return;
    std::lock_guard lock(mutex_);
    caption_ = caption;
}

void RecordingSinCosView::showTraces(std::shared_ptr<const SinCosTraces> traces)
{
    if (!open())
        return;
    std::lock_guard lock(mutex_);
    ++tracesShown_;
    traces_ = std::move(traces);
}

QString RecordingSinCosView::field(SinCosField field) const
{
    std::lock_guard lock(mutex_);
    return fields_[static_cast<std::size_t>(field)];
}

QString RecordingSinCosView::collectionCaption() const
{
    std::lock_guard lock(mutex_);
    return caption_;
}

int RecordingSinCosView::tracesShown() const
{
    std::lock_guard lock(mutex_);
    return tracesShown_;
}

std::shared_ptr<const SinCosTraces> RecordingSinCosView::lastTraces() const
{
    std::lock_guard lock(mutex_);
    return traces_;
}

void RecordingForceView::setGaugeValue(double newtons)
{
    std::lock_guard lock(mutex_);
    gauge_ = newtons;
    ++redraws_;
}

void RecordingForceView::setLiveText(const QString& text)
{
    std::lock_guard lock(mutex_);
    live_ = text;
}

void RecordingForceView::setRecordText(const QString& text)
{
    std::lock_guard lock(mutex_);
    record_ = text;
}

void RecordingForceView::setNameConfirmed(bool confirmed)
{
    std::lock_guard lock(mutex_);
    confirmed_ = confirmed;
}

void RecordingForceView::setAttemptRunning(bool running)
{
    std::lock_guard lock(mutex_);
    running_ = running;
}

void RecordingForceView::setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows)
{
    std::lock_guard lock(mutex_);
    rows_ = rows;
}

double RecordingForceView::gaugeValue() const
{
    std::lock_guard lock(mutex_);
    return gauge_;
}

int RecordingForceView::gaugeRedraws() const
{
    std::lock_guard lock(mutex_);
    return redraws_;
}

QString RecordingForceView::liveText() const
{
    std::lock_guard lock(mutex_);
    return live_;
}

QString RecordingForceView::recordText() const
{
    std::lock_guard lock(mutex_);
    return record_;
}

bool RecordingForceView::nameConfirmed() const
{
    std::lock_guard lock(mutex_);
    return confirmed_;
}

bool RecordingForceView::attemptRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

QStringList RecordingForceView::topList() const
{
    std::lock_guard lock(mutex_);
    QStringList out;
    for (const ForceTopRow& r : rows_)
        if (!r.name.isEmpty() || r.power != 0.0)
            out << r.name + "=" + ForceTopList::powerText(r.power);
    return out;
}
