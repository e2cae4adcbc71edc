#include "app/sincos_dialog.h"

#include "app/window_dialogs.h"
#include "sincos/sincos_analysis.h"
#include "ui_sincos_dialog.h"
#include "widgets/data_show.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace {

const QColor kSeries1Colour{255, 0, 0};    // the "+" track, red
const QColor kSeries2Colour{255, 255, 0};  // the "−" track, yellow

}  // namespace

SinCosDialog::SinCosDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::SinCosDialog>())
{
    ui_->setupUi(this);
    // A fixed dialog template: no resizing, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());

    Ui::SinCosDialog& u = *ui_;
    fields_ = {u.countEdit,          u.sinPlusOffsetEdit,  u.sinPlusPeakToPeakEdit, u.sinMinusOffsetEdit,
               u.sinMinusPeakToPeakEdit, u.cosPlusOffsetEdit, u.cosPlusPeakToPeakEdit, u.cosMinusOffsetEdit,
               u.cosMinusPeakToPeakEdit, u.zPlusOffsetEdit, u.zPlusPeakToPeakEdit, u.zMinusOffsetEdit,
               u.zMinusPeakToPeakEdit, u.phasePlusEdit,     u.phaseMinusEdit};
    charts_ = {u.sinChart, u.cosChart, u.zChart};
    for (CDataShow* c : charts_) {
        c->setSeriesColour(1, kSeries1Colour);
        c->setSeriesColour(2, kSeries2Colour);
    }
    for (std::size_t i = 0; i < x_.size(); ++i)
        x_[i] = static_cast<double>(i);

    connect(u.backToHomeButton, &QPushButton::clicked, this, &SinCosDialog::backToHome);
    connect(u.collectionButton, &QPushButton::clicked, this, &SinCosDialog::collectionPressed);

    reset();
    // The dialog's own refresh; it goes with the dialog.
    refresh_ = new QTimer(this);
    connect(refresh_, &QTimer::timeout, this, &SinCosDialog::refreshDue);
    refresh_->start(kRefreshMs);
}

SinCosDialog::~SinCosDialog() = default;

void SinCosDialog::reset()
{
    for (QLineEdit* e : fields_)
        e->setText(QString::fromLatin1(kSinCosNoValue));
    fieldEdit(SinCosField::Count)->clear();
    ui_->backToHomeButton->setText(QStringLiteral("Back to home"));
    setCollectionCaption(kSinCosCollection);
    for (CDataShow* c : charts_) {
        c->setSeries1(nullptr, nullptr, 0);
        c->setSeries2(nullptr, nullptr, 0);
    }
}

void SinCosDialog::setField(SinCosField field, const QString& text)
{
    if (field != SinCosField::Count_)
        fieldEdit(field)->setText(text);
}

void SinCosDialog::setCollectionCaption(const QString& caption)
{
    ui_->collectionButton->setText(caption);
}

void SinCosDialog::showTraces(const SinCosTraces& t)
{
    const int n = kSinCosShownSamples;
    const SinCosTrack pairs[3][2] = {{SinPlus, SinMinus}, {CosPlus, CosMinus}, {ZPlus, ZMinus}};
    for (int i = 0; i < 3; ++i) {
        // Each chart repaints once for its new pair of series.
        charts_[static_cast<std::size_t>(i)]->setSeries1(t[pairs[i][0]].data(), x_.data(), n);
        charts_[static_cast<std::size_t>(i)]->setSeries2(t[pairs[i][1]].data(), x_.data(), n);
    }
}

void SinCosDialog::accept() {}

void SinCosDialog::reject()
{
    emit backToHome();
}

void SinCosDialog::closeEvent(QCloseEvent* event)
{
    // The close box asks the test to end; a close by the test itself (after
    // "Back to home", or when the test ends) just goes.
    if (event->spontaneous())
        emit backToHome();
    refresh_->stop();
    event->accept();
}

void SinCosDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ------------------------------------------------------------ the window's view

template <typename F>
void SinCosDialogView::toDialog(F&& apply)
{
    auto run = [this, apply = std::forward<F>(apply)] {
        if (auto* d = qobject_cast<SinCosDialog*>(dialogs_.dialog(DialogKind::SinCos)))
            apply(*d);
    };
    if (QThread::currentThread() == context_->thread())
        run();
    else
        QMetaObject::invokeMethod(context_, std::move(run), Qt::QueuedConnection);
}

void SinCosDialogView::reset()
{
    toDialog([](SinCosDialog& d) { d.reset(); });
}

void SinCosDialogView::setField(SinCosField field, const QString& text)
{
    toDialog([field, text](SinCosDialog& d) { d.setField(field, text); });
}

void SinCosDialogView::setCollectionCaption(const QString& caption)
{
    toDialog([caption](SinCosDialog& d) { d.setCollectionCaption(caption); });
}

void SinCosDialogView::showTraces(std::shared_ptr<const SinCosTraces> traces)
{
    if (traces)
        toDialog([traces](SinCosDialog& d) { d.showTraces(*traces); });
}
