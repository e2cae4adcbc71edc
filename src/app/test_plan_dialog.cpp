#include "app/test_plan_dialog.h"

#include "ui_test_plan_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

struct PlanWindowEdits {
    QCheckBox* on;
    QLineEdit *low, *high;
};

}  // namespace

TestPlanDialog::TestPlanDialog(const QString& planPath, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TestPlanDialog>()), planPath_(planPath)
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    askOpenPath = [this](const QString& caption, const QString& dir, const QString& filter) {
        return QFileDialog::getOpenFileName(this, caption, dir, filter);
    };
    tell = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    askUnsaved = [this] {
        const auto b = QMessageBox::question(this, windowTitle(), QStringLiteral("Save the changes to the test plan?"),
                                             QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                             QMessageBox::Save);
        return b == QMessageBox::Save ? Unsaved::Save : b == QMessageBox::Discard ? Unsaved::Discard : Unsaved::Cancel;
    };

    auto edited = [this] {
        changed_ = changed_ || !filling_;
        check();
    };
    for (QLineEdit* e : findChildren<QLineEdit*>())
        connect(e, &QLineEdit::textEdited, this, edited);
    for (QAbstractButton* b : findChildren<QAbstractButton*>())
        if (b->isCheckable())
            connect(b, &QAbstractButton::toggled, this, edited);
    for (QGroupBox* g : {ui_->accuracyGroup, ui_->resolutionGroup, ui_->sincosGroup})
        connect(g, &QGroupBox::toggled, this, edited);
    connect(ui_->saveButton, &QPushButton::clicked, this, &TestPlanDialog::save);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(ui_->loadButton, &QPushButton::clicked, this, [this] {
        const QString path = askOpenPath(QStringLiteral("Load a test plan"), QFileInfo(planPath_).absolutePath(),
                                         QStringLiteral("Test plans (*.plan.json);;JSON files (*.json)"));
        if (!path.isEmpty() && load(path)) {
            changed_ = true;  // not this configuration's plan until saved
            say(QStringLiteral("Loaded from %1; Save makes it this configuration's plan.")
                    .arg(QDir::toNativeSeparators(path)),
                false);
        }
    });
    const QString name = QFileInfo(planPath_).fileName().chopped(QStringLiteral(".plan.json").size());
    ui_->pathLabel->setText(QStringLiteral("The limits the encoders of configuration <b>%1</b> must meet, kept in %2. "
                                           "A section not ticked sets no limit.")
                                .arg(name.toHtmlEscaped(), QDir::toNativeSeparators(planPath_).toHtmlEscaped()));
    setForm(PlanForm{});
}

TestPlanDialog::~TestPlanDialog() = default;

void TestPlanDialog::setForm(const PlanForm& f)
{
    filling_ = true;
    Ui::TestPlanDialog& u = *ui_;
    u.accuracyGroup->setChecked(f.accuracy);
    u.maxJumpsEdit->setText(f.maxJumps);
    u.maxJumpDegEdit->setText(f.maxJumpDeg);
    u.resolutionGroup->setChecked(f.resolution);
    (f.resolutionLimit == PlanForm::ResolutionLimit::AtLeast ? u.atLeastRadio : u.exactBitsRadio)->setChecked(true);
    u.resolutionEdit->setText(f.resolutionValue);
    u.sincosGroup->setChecked(f.sincos);
    const std::pair<const PlanForm::Window*, PlanWindowEdits> windows[] = {
        {&f.cosOffset, {u.cosOffsetCheck, u.cosOffsetNominal, u.cosOffsetTolerance}},
        {&f.sinOffset, {u.sinOffsetCheck, u.sinOffsetNominal, u.sinOffsetTolerance}},
        {&f.cosPp, {u.cosPpCheck, u.cosPpNominal, u.cosPpTolerance}},
        {&f.sinPp, {u.sinPpCheck, u.sinPpNominal, u.sinPpTolerance}},
        {&f.phase, {u.phaseCheck, u.phaseMin, u.phaseMax}}};
    for (const auto& [w, c] : windows) {
        c.on->setChecked(w->on);
        c.low->setText(w->low);
        c.high->setText(w->high);
    }
    u.eepromCheck->setChecked(f.eepromVerified);
    u.captureCheck->setChecked(f.captureComplete);
    u.calibrationCheck->setChecked(f.calibrationEveryStep);
    filling_ = false;
    changed_ = false;
    check();
}

PlanForm TestPlanDialog::form() const
{
    const Ui::TestPlanDialog& u = *ui_;
    PlanForm f;
    f.accuracy = u.accuracyGroup->isChecked();
    f.maxJumps = u.maxJumpsEdit->text();
    f.maxJumpDeg = u.maxJumpDegEdit->text();
    f.resolution = u.resolutionGroup->isChecked();
    f.resolutionLimit = u.atLeastRadio->isChecked() ? PlanForm::ResolutionLimit::AtLeast : PlanForm::ResolutionLimit::ExactBits;
    f.resolutionValue = u.resolutionEdit->text();
    f.sincos = u.sincosGroup->isChecked();
    auto window = [](const QCheckBox* on, const QLineEdit* low, const QLineEdit* high) {
        return PlanForm::Window{on->isChecked(), low->text(), high->text()};
    };
    f.cosOffset = window(u.cosOffsetCheck, u.cosOffsetNominal, u.cosOffsetTolerance);
    f.sinOffset = window(u.sinOffsetCheck, u.sinOffsetNominal, u.sinOffsetTolerance);
    f.cosPp = window(u.cosPpCheck, u.cosPpNominal, u.cosPpTolerance);
    f.sinPp = window(u.sinPpCheck, u.sinPpNominal, u.sinPpTolerance);
    f.phase = window(u.phaseCheck, u.phaseMin, u.phaseMax);
    f.eepromVerified = u.eepromCheck->isChecked();
    f.captureComplete = u.captureCheck->isChecked();
    f.calibrationEveryStep = u.calibrationCheck->isChecked();
    return f;
}

QLineEdit* TestPlanDialog::fieldEdit(const QString& key) const
{
    const Ui::TestPlanDialog& u = *ui_;
    const std::pair<const char*, QLineEdit*> edits[] = {
        {"abs.max_jumps", u.maxJumpsEdit},
        {"abs.max_jump_deg", u.maxJumpDegEdit},
        {"resolution.min", u.resolutionEdit},
        {"resolution.bits", u.resolutionEdit},
        {"sincos.cos_offset.nominal", u.cosOffsetNominal},
        {"sincos.cos_offset.tolerance", u.cosOffsetTolerance},
        {"sincos.sin_offset.nominal", u.sinOffsetNominal},
        {"sincos.sin_offset.tolerance", u.sinOffsetTolerance},
        {"sincos.cos_pp.nominal", u.cosPpNominal},
        {"sincos.cos_pp.tolerance", u.cosPpTolerance},
        {"sincos.sin_pp.nominal", u.sinPpNominal},
        {"sincos.sin_pp.tolerance", u.sinPpTolerance},
        {"sincos.phase.min", u.phaseMin},
        {"sincos.phase.max", u.phaseMax}};
    for (const auto& [k, e] : edits)
        if (key == QLatin1String(k))
            return e;
    return nullptr;
}

void TestPlanDialog::check()
{
    if (filling_)
        return;
    Ui::TestPlanDialog& u = *ui_;
    for (auto [on, low, high] : {PlanWindowEdits{u.cosOffsetCheck, u.cosOffsetNominal, u.cosOffsetTolerance},
                                 PlanWindowEdits{u.sinOffsetCheck, u.sinOffsetNominal, u.sinOffsetTolerance},
                                 PlanWindowEdits{u.cosPpCheck, u.cosPpNominal, u.cosPpTolerance},
                                 PlanWindowEdits{u.sinPpCheck, u.sinPpNominal, u.sinPpTolerance},
                                 PlanWindowEdits{u.phaseCheck, u.phaseMin, u.phaseMax}}) {
        low->setEnabled(on->isChecked());
        high->setEnabled(on->isChecked());
    }
    const bool bits = u.exactBitsRadio->isChecked();
    u.resolutionEdit->setPlaceholderText(bits ? QStringLiteral("17") : QStringLiteral("131071"));
    bool ok = false;
    const int b = u.resolutionEdit->text().trimmed().toInt(&ok);
    u.resolutionHint->setText(bits && ok && b >= 1 && b <= 31 ? QStringLiteral("= %1 LSB").arg((qint64(1) << b) - 1)
                                                              : QString());

    const PlanFormCheck c = planFromForm(form());
    for (QLineEdit* e : findChildren<QLineEdit*>())
        e->setStyleSheet({});
    if (QLineEdit* wrong = fieldEdit(c.field))
        wrong->setStyleSheet(QStringLiteral("QLineEdit { background: #ffe1e1; }"));
    u.saveButton->setEnabled(c.plan.has_value());
    say(c.plan ? QString() : c.error, true);
}

void TestPlanDialog::say(const QString& text, bool fault)
{
    ui_->messageLabel->setStyleSheet(fault ? QStringLiteral("color: #b31b1b;") : QStringLiteral("color: #11772e;"));
    ui_->messageLabel->setText(text);
}

QString TestPlanDialog::message() const
{
    return ui_->messageLabel->text();
}

bool TestPlanDialog::load(const QString& path, bool box)
{
    const PlanParse p = readTestPlanFile(path);
    if (!p.plan) {
        const QString text = QStringLiteral("The test plan cannot be read: %1").arg(p.error);
        say(text, true);
        if (box)
            tell(text);
        return false;
    }
    setForm(planForm(*p.plan));
    return true;
}

void TestPlanDialog::loadOwnPlan()
{
    if (!QFileInfo::exists(planPath_)) {
        say(QStringLiteral("No plan yet: Save writes one."), false);
        return;
    }
    if (load(planPath_, false))
        say({}, false);
}

bool TestPlanDialog::save()
{
    const PlanFormCheck c = planFromForm(form());
    if (!c.plan) {
        check();
        tell(c.error);
        return false;
    }
    QDir().mkpath(QFileInfo(planPath_).absolutePath());
    const QString error = writeTestPlanFile(planPath_, *c.plan);
    if (!error.isEmpty()) {
        const QString text = QStringLiteral("The test plan cannot be saved. %1").arg(error);
        say(text, true);
        tell(text);
        return false;
    }
    auto plan = std::make_shared<TestPlan>(*c.plan);
    plan->name = QFileInfo(planPath_).fileName().chopped(QStringLiteral(".plan.json").size());
    changed_ = false;
    say(QStringLiteral("Saved: the next tests get a verdict against this plan too."), false);
    if (saved)
        saved(plan);
    return true;
}

bool TestPlanDialog::mayClose()
{
    if (!changed_)
        return true;
    switch (askUnsaved()) {
    case Unsaved::Save:
        return save();
    case Unsaved::Discard:
        changed_ = false;
        return true;
    case Unsaved::Cancel:
        break;
    }
    return false;
}

void TestPlanDialog::reject()
{
    // Esc, "Close" and the close box (QDialog's close event comes here, and
    // stays open when the dialog does).
    if (mayClose())
        QDialog::reject();
}
