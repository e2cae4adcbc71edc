#include "app/window_dialogs.h"

#include "bench/calibration_view.h"
#include "app/force_dialog.h"

#include <QMetaObject>
#include <QThread>

template <typename F>
void WindowDialogs::onGui(F&& f)
{
    if (QThread::currentThread() == main_->thread())
        f();
    else
        QMetaObject::invokeMethod(main_, std::forward<F>(f), Qt::QueuedConnection);
}

WindowDialogs::WindowDialogs(QWidget* mainWindow)
    : main_(mainWindow), forceView_(std::make_unique<ForceDialogView>(*this, mainWindow))
{
}

ForceView& WindowDialogs::forceView()
{
    return *forceView_;
}

WindowDialogs::~WindowDialogs()
{
    // A dialog taken out of the main window (a screenshot shows it as a
    // window of its own) belongs to whoever took it; it may be the one
    // being destroyed right now.
    for (auto& d : open_)
        if (d && d->parentWidget() == main_)
            delete d.data();
}

void WindowDialogs::registerDialog(DialogKind kind, Factory factory)
{
    factories_[static_cast<std::size_t>(index(kind))] = std::move(factory);
}

QWidget* WindowDialogs::dialog(DialogKind kind) const
{
    return open_[static_cast<std::size_t>(index(kind))].data();
}

void WindowDialogs::openDialog(DialogKind kind)
{
    const auto i = static_cast<std::size_t>(index(kind));
    isOpen_[i] = factories_[i] != nullptr;
    onGui([this, i] {
        if (closing_)
            return;
        if (QWidget* d = open_[i].data()) {
            d->show();
            d->raise();
            return;
        }
        if (!factories_[i]) {
            isOpen_[i] = false;
            return;
        }
        QWidget* d = factories_[i](main_);
        d->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(d, &QObject::destroyed, main_, [this, i] { isOpen_[i] = false; });
        open_[i] = d;
        d->show();
    });
}

void WindowDialogs::closeDialog(DialogKind kind)
{
    const auto i = static_cast<std::size_t>(index(kind));
    isOpen_[i] = false;
    onGui([this, i] {
        if (QWidget* d = open_[i].data())
            d->close();  // deleted on close
    });
}

bool WindowDialogs::isDialogOpen(DialogKind kind) const
{
    return isOpen_[static_cast<std::size_t>(index(kind))].load();
}

void WindowDialogs::hideMainWindow()
{
    // QWidget's own hide, not QDialog's: hiding a dialog that runs exec()
    // would end its event loop, and with it the program.
    onGui([this] { main_->QWidget::setVisible(false); });
}

void WindowDialogs::showMainWindow()
{
    onGui([this] {
        if (!closing_)
            main_->show();
    });
}

namespace {

class NoCalibrationView : public CalibrationView {
public:
    void setEnabled(CalControl, bool) override {}
    void setText(CalControl, const QString&) override {}
    void setIndicator(CalControl, CalIndicator) override {}
    void selectItem(CalControl, int) override {}
};

// Until the window sets its adapter there is no dialog to show anything.
class NoSinCosView : public SinCosView {
public:
    void reset() override {}
    void setField(SinCosField, const QString&) override {}
    void setCollectionCaption(const QString&) override {}
    void showTraces(std::shared_ptr<const SinCosTraces>) override {}
};

}  // namespace

CalibrationView& WindowDialogs::calibrationView()
{
    static NoCalibrationView none;
    return calibrationView_ ? *calibrationView_ : none;
}

SinCosView& WindowDialogs::sinCos()
{
    static NoSinCosView none;
    return sinCos_ ? *sinCos_ : none;
}
