#pragma once
// The "Test plan" dialog: the limits of the current configuration's plan
// (config/NAME.plan.json) in a form, checked as they are typed, loaded and
// saved through the plan file's own reader and writer. The form's logic is
// PlanForm's; the dialog copies text to and from its controls.
#include "measure/test_plan_form.h"

#include <QDialog>
#include <functional>
#include <memory>

class QLineEdit;
namespace Ui {
class TestPlanDialog;
}

class TestPlanDialog : public QDialog {
    Q_OBJECT
public:
    // `planPath` is where Save writes: the plan beside the configuration.
    explicit TestPlanDialog(const QString& planPath, QWidget* parent = nullptr);
    ~TestPlanDialog() override;

    QString planPath() const { return planPath_; }
    void setForm(const PlanForm& form);
    PlanForm form() const;

    // Fills the form from the plan file at `path`; a file that cannot be read
    // is said under the form (with its line), and in a message box when
    // `box`, and leaves the form as it was.
    bool load(const QString& path, bool box = true);
    // The plan of the configuration, if there is one yet; a fault is said
    // under the form only, the dialog being what the user just opened.
    void loadOwnPlan();
    // Checks the form and writes the plan; false when the form is wrong or
    // the file cannot be written, which is said.
    bool save();
    // What the dialog says under the form: the first fault, or what was done.
    QString message() const;
    // The line edit behind a field key of PlanFormCheck ("sincos.phase.min").
    QLineEdit* fieldEdit(const QString& key) const;

    // Called with the plan just saved.
    std::function<void(std::shared_ptr<const TestPlan>)> saved;
    // How the dialog asks for a file to load and says what went wrong; tests
    // answer them.
    std::function<QString(const QString& caption, const QString& dir, const QString& filter)> askOpenPath;
    std::function<void(const QString&)> tell;
    // Asked when the dialog closes with changes not saved.
    enum class Unsaved { Save, Discard, Cancel };
    std::function<Unsaved()> askUnsaved;

    // The form differs from the plan file.
    bool hasChanges() const { return changed_; }

public slots:
    void reject() override;

private:
    // Enables what is ticked, checks the form and marks the faulty field.
    void check();
    void say(const QString& text, bool fault);
    // False when the user keeps the dialog open (or the save failed).
    bool mayClose();

    std::unique_ptr<Ui::TestPlanDialog> ui_;
    QString planPath_;
    bool filling_ = false;
    bool changed_ = false;
};
