#include "app/force_dialog.h"

#include "app/window_dialogs.h"
#include "ui_force_dialog.h"
#include "widgets/colour_button.h"
#include "widgets/meter.h"

#include <QCloseEvent>
#include <algorithm>
#include <QFontMetricsF>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <mutex>

namespace {

constexpr int kLiveTimerMs = 100;
const QColor kRankingBackground{245, 245, 220};
const QColor kEnterConfirmed{127, 255, 0};
const QColor kButtonNormal{210, 105, 30};
const QColor kButtonPressed{205, 205, 180};

}  // namespace

QFont myFont(int height, int width)
{
    static std::once_flag substituted;
    std::call_once(substituted, [] { QFont::insertSubstitution("MyFont", "Liberation Mono"); });

    QFont f(QStringLiteral("MyFont"));
    f.setStyleHint(QFont::TypeWriter);  // modern family, fixed pitch
    f.setFixedPitch(true);
    f.setBold(true);
    // A positive font height is the cell (ascent + descent): shrink the em
    // until the cell fits, then stretch the face to the asked width.
    int px = std::max(1, height);
    f.setPixelSize(px);
    while (px > 1 && QFontMetrics(f).height() > height)
        f.setPixelSize(--px);
    const qreal natural = QFontMetricsF(f).horizontalAdvance(QLatin1Char('0'));
    if (natural > 0)
        f.setStretch(std::clamp(qRound(100.0 * width / natural), 1, 4000));
    return f;
}

ForceDialog::ForceDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::ForceDialog>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    Ui::ForceDialog& u = *ui_;

    const QFont big = myFont(30, 15);
    const QFont normal = myFont(25, 10);
    u.topListGroup->setFont(big);
    u.startButton->setFont(big);
    for (QWidget* w : std::initializer_list<QWidget*>{
             u.recordLabel, u.recordEdit, u.recordUnitLabel, u.nameLabel, u.nameEdit, u.enterButton, u.liveEdit,
             u.liveUnitLabel, u.rankingHeader, u.nameHeader, u.powerHeader, u.backButton, u.defaultButton})
        w->setFont(normal);

    for (int row = 1; row <= ForceTopList::kRows; ++row) {
        for (int col = 0; col < 3; ++col)
            cell(row, col)->setFont(normal);
        QLineEdit* rank = cell(row, 0);
        QPalette p = rank->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(group, QPalette::Base, kRankingBackground);
            p.setColor(group, QPalette::Text, Qt::black);
        }
        rank->setPalette(p);
        rank->setText(QString::asprintf("%3d", row));
        cell(row, 2)->setText(ForceTopList::powerText(0.0));
    }
    for (CColourButton* b : {static_cast<CColourButton*>(u.enterButton), static_cast<CColourButton*>(u.backButton)}) {
        b->setNormalColour(kButtonNormal);
        b->setPressedColour(kButtonPressed);
    }
    u.defaultButton->hide();

    liveTimer_ = new QTimer(this);
    liveTimer_->setInterval(kLiveTimerMs);
    connect(liveTimer_, &QTimer::timeout, this, &ForceDialog::liveTick);
    connect(u.enterButton, &QAbstractButton::clicked, this, &ForceDialog::entered);
    connect(u.startButton, &QAbstractButton::clicked, this, &ForceDialog::startStopClicked);
    connect(u.nameEdit, &QLineEdit::textEdited, this, &ForceDialog::nameEdited);
    connect(u.backButton, &QAbstractButton::clicked, this, &QWidget::close);

    originalSize_ = size();
    for (QWidget* w : findChildren<QWidget*>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            original_.emplace_back(w, w->geometry());
}

ForceDialog::~ForceDialog() = default;

CMeter_fprce* ForceDialog::gauge() const
{
    return ui_->gauge;
}

QLineEdit* ForceDialog::nameEdit() const
{
    return ui_->nameEdit;
}

QLineEdit* ForceDialog::cell(int row, int column) const
{
    static const char* const kinds[] = {"rankCell", "nameCell", "powerCell"};
    return findChild<QLineEdit*>(QString::fromLatin1(kinds[column]) + QString::number(row));
}

QString ForceDialog::liveText() const
{
    return ui_->liveEdit->text();
}

QString ForceDialog::recordText() const
{
    return ui_->recordEdit->text();
}

bool ForceDialog::liveTimerActive() const
{
    return liveTimer_->isActive();
}

void ForceDialog::setGaugeValue(double newtons)
{
    ui_->gauge->setValue(newtons);
    ui_->gauge->update();
}

void ForceDialog::setLiveText(const QString& text)
{
    ui_->liveEdit->setText(text);
}

void ForceDialog::setRecordText(const QString& text)
{
    ui_->recordEdit->setText(text);
}

void ForceDialog::setNameConfirmed(bool confirmed)
{
    ui_->enterButton->setNormalColour(confirmed ? kEnterConfirmed : kButtonNormal);
    ui_->enterButton->update();
}

void ForceDialog::setAttemptRunning(bool running)
{
    Ui::ForceDialog& u = *ui_;
    u.startButton->setText(running ? QStringLiteral("STOP") : QStringLiteral("START"));
    for (QWidget* w : {static_cast<QWidget*>(u.enterButton), static_cast<QWidget*>(u.nameEdit),
                       static_cast<QWidget*>(u.backButton)})
        w->setEnabled(!running);
    if (running)
        liveTimer_->start();
    else
        liveTimer_->stop();
}

void ForceDialog::setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows)
{
    for (int row = 1; row <= ForceTopList::kRows; ++row) {
        const ForceTopRow& r = rows[static_cast<std::size_t>(row - 1)];
        cell(row, 1)->setText(r.name);
        cell(row, 2)->setText(ForceTopList::powerText(r.power));
    }
}

void ForceDialog::closeEvent(QCloseEvent* e)
{
    liveTimer_->stop();
    e->accept();
    emit closing();
}

void ForceDialog::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    if (originalSize_.isEmpty())
        return;
    // Ratios as 32-bit floats and whole pixels, from the original layout.
    const float fx = static_cast<float>(width()) / static_cast<float>(originalSize_.width());
    const float fy = static_cast<float>(height()) / static_cast<float>(originalSize_.height());
    for (const auto& [w, r] : original_) {
        if (!w)
            continue;
        w->setGeometry(static_cast<int>(static_cast<float>(r.x()) * fx), static_cast<int>(static_cast<float>(r.y()) * fy),
                       static_cast<int>(static_cast<float>(r.width()) * fx),
                       static_cast<int>(static_cast<float>(r.height()) * fy));
    }
    update();
}

// ------------------------------------------------------------ the view

template <typename F>
void ForceDialogView::toDialog(F&& apply)
{
    auto run = [this, apply = std::forward<F>(apply)] {
        if (auto* d = qobject_cast<ForceDialog*>(dialogs_.dialog(DialogKind::Force)))
            apply(*d);
    };
    if (QThread::currentThread() == gui_->thread())
        run();
    else
        QMetaObject::invokeMethod(gui_, std::move(run), Qt::QueuedConnection);
}

void ForceDialogView::setGaugeValue(double newtons)
{
    toDialog([newtons](ForceDialog& d) { d.setGaugeValue(newtons); });
}

void ForceDialogView::setLiveText(const QString& text)
{
    toDialog([text](ForceDialog& d) { d.setLiveText(text); });
}

void ForceDialogView::setRecordText(const QString& text)
{
    toDialog([text](ForceDialog& d) { d.setRecordText(text); });
}

void ForceDialogView::setNameConfirmed(bool confirmed)
{
    toDialog([confirmed](ForceDialog& d) { d.setNameConfirmed(confirmed); });
}

void ForceDialogView::setAttemptRunning(bool running)
{
    toDialog([running](ForceDialog& d) { d.setAttemptRunning(running); });
}

void ForceDialogView::setTopList(const std::array<ForceTopRow, ForceTopList::kRows>& rows)
{
    toDialog([rows](ForceDialog& d) { d.setTopList(rows); });
}
