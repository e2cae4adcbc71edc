#include "app/results_menu.h"

#include "app/results_window.h"
#include "app/test_plan_dialog.h"
#include "bench/bench.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>

ResultsMenu::ResultsMenu(QWidget* mainWindow, std::function<QString()> serial, PlanToBench planToBench)
    : QObject(mainWindow), main_(mainWindow), serial_(std::move(serial)), planToBench_(std::move(planToBench))
{
}

ResultsMenu::~ResultsMenu() = default;

ResultsWindow* ResultsMenu::resultsWindow() const
{
    return results_.data();
}

TestPlanDialog* ResultsMenu::testPlanDialog() const
{
    return plan_.data();
}

QString ResultsMenu::planPath()
{
    return planPathFor(Bench::defaultConfigPath());
}

void ResultsMenu::recorded(const ResultRow& row)
{
    recent_->add(row);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (results_)
                results_->showLatest();
        },
        Qt::QueuedConnection);
}

void ResultsMenu::openResults()
{
    if (!results_) {
        std::weak_ptr<RecentResults> recent = recent_;
        ResultsSource source{[recent] {
                                 const auto r = recent.lock();
                                 return r ? r->rows() : std::vector<ResultRow>{};
                             },
                             storePath_};
        results_ = new ResultsWindow(std::move(source), serial_(), main_);
        results_->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        results_->setSerial(serial_());
        results_->showLatest();
    }
    results_->show();
    results_->raise();
    results_->activateWindow();
}

void ResultsMenu::openTestPlan()
{
    if (!plan_) {
        plan_ = new TestPlanDialog(planPath(), main_);
        plan_->setAttribute(Qt::WA_DeleteOnClose);
        plan_->saved = planToBench_;
        plan_->show();
        plan_->loadOwnPlan();
    }
    plan_->show();
    plan_->raise();
    plan_->activateWindow();
}

void ResultsMenu::loadPlanAtStart()
{
    const QString path = planPath();
    if (!QFileInfo::exists(path))
        return;
    PlanParse p = readTestPlanFile(path);
    if (p.plan) {
        planToBench_(std::make_shared<const TestPlan>(std::move(*p.plan)));
        return;
    }
    // Not modal: the window starts, its results simply get no plan verdict.
    auto* box = new QMessageBox(QMessageBox::Warning, main_->windowTitle(),
                                QStringLiteral("The test plan cannot be read: %1\nResults get no plan verdict until "
                                               "it is mended (Tools, Test plan).")
                                    .arg(p.error),
                                QMessageBox::Ok, main_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
