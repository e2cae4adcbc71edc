#pragma once
// The main window's "Results" and "Test plan" menu items: the session's
// results as the bench finishes them, the Results window that shows them,
// and the Test plan dialog whose saved plan the bench judges results by.
// GUI thread, except recorded().
#include "report/results_browser.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class ResultsWindow;
struct TestPlan;
class TestPlanDialog;
class QWidget;

class ResultsMenu : public QObject {
    Q_OBJECT
public:
    using PlanToBench = std::function<void(std::shared_ptr<const TestPlan>)>;
    ResultsMenu(QWidget* mainWindow, std::function<QString()> serial, PlanToBench planToBench);
    ~ResultsMenu() override;

    void setStorePath(const QString& path) { storePath_ = path; }
    // A finished test; any thread. An open Results window shows it.
    void recorded(const ResultRow& row);

    void openResults();
    void openTestPlan();
    // The plan beside the configuration the window keeps, handed to the
    // bench; one that cannot be read is said.
    void loadPlanAtStart();

    // config/FileName.plan.json under the data root.
    static QString planPath();
    ResultsWindow* resultsWindow() const;
    TestPlanDialog* testPlanDialog() const;

private:
    QWidget* main_;
    std::function<QString()> serial_;
    PlanToBench planToBench_;
    std::shared_ptr<RecentResults> recent_ = std::make_shared<RecentResults>();
    QString storePath_;
    QPointer<ResultsWindow> results_;
    QPointer<TestPlanDialog> plan_;
};
