// The Tools menu's Results window and Test plan dialog on the window: a plan
// that cannot be read is said with its line; one saved in the dialog judges
// the next test, whose result the Results window shows with both verdicts
// and writes as a report and as CSV; a file that cannot be written is said.
#include "app/quillmark_dlg.h"
#include "app/results_menu.h"
#include "app/results_window.h"
#include "app/test_plan_dialog.h"
#include "bench/accuracy.h"
#include "bench/bench.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "results/results_store.h"
#include "simbox/demo_bus.h"
#include "simbox/sim_box.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window's GUI thread runs in real time; the accuracy test's 680 steps
// run in virtual time on the bench thread, as one piece of work.
class VirtualTimeForThisTest {
public:
    VirtualTimeForThisTest() { installBenchClock(std::make_shared<VirtualClock>()); }
    ~VirtualTimeForThisTest() { installBenchClock(std::make_shared<SteadyClock>()); }
};

}  // namespace

TEST(ResultsMenu, APlanSavedInTheDialogJudgesTheNextTestAndTheResultsWindowWritesIt)
{
    VirtualTimeForThisTest virtualTime;
    QTemporaryDir root;
    qputenv("XDG_DATA_HOME", root.path().toUtf8());
    const QString planPath = ResultsMenu::planPath();
    ASSERT_TRUE(planPath.startsWith(root.path())) << planPath.toStdString();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(planPath).absolutePath()));
    {
        QFile f(planPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\n  \"schema\": 1,\n  \"abs-test\": {\"max_jumps\": \"none\"}\n}\n");
    }
    ResultsStoreOptions o;
    o.localPath = QDir(root.path()).filePath("results.sqlite");
    auto store = std::make_shared<ResultsStore>(o);
    std::shared_ptr<SimBox> box;
    CQuillmarkDlg dlg(makeDemoBus(&box));
    dlg.show();
    dlg.keepResults(store, true);

    // The plan that cannot be read: said at the start, and in the dialog.
    bool saidAtStart = false;
    for (QMessageBox* m : dlg.findChildren<QMessageBox*>())
        saidAtStart = saidAtStart || (m->isVisible() && !m->isModal() && m->text().contains("line 3: abs-test.max_jumps"));
    EXPECT_TRUE(saidAtStart);
    dlg.findChild<QAction*>("actionTestPlan")->trigger();
    TestPlanDialog* planDialog = dlg.resultsMenu().testPlanDialog();
    ASSERT_NE(planDialog, nullptr);
    EXPECT_TRUE(planDialog->message().contains("line 3: abs-test.max_jumps: needs a number"))
        << planDialog->message().toStdString();
    QStringList told;
    planDialog->tell = [&told](const QString& t) { told << t; };

    // A wrong field keeps the file as it is; a right form replaces it and
    // the bench takes it at once.
    PlanForm form;
    form.accuracy = true;
    form.maxJumps = "one";
    planDialog->setForm(form);
    EXPECT_EQ(planDialog->fieldEdit("abs.max_jumps")->styleSheet().isEmpty(), false) << "the field is marked";
    EXPECT_FALSE(planDialog->save());
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Max jumps needs a whole number")) << told[0].toStdString();
    EXPECT_TRUE(fileBytes(planPath).contains("\"none\""));
    form.maxJumps = "1";
    form.maxJumpDeg = "30";
    form.eepromVerified = true;
    planDialog->setForm(form);
    ASSERT_TRUE(planDialog->save()) << planDialog->message().toStdString();
    const PlanParse saved = readTestPlanFile(planPath);
    ASSERT_TRUE(saved.plan) << saved.error.toStdString();
    EXPECT_EQ(saved.plan->limits("abs-test"), (QJsonObject{{"max_jumps", 1}, {"max_jump_deg", 30}}));
    EXPECT_FALSE(planDialog->hasChanges());

    // Closing with a change asks; "Cancel" keeps the dialog, "Discard" closes it.
    QLineEdit* maxJumps = planDialog->fieldEdit("abs.max_jumps");
    maxJumps->setText("3");
    emit maxJumps->textEdited("3");
    ASSERT_TRUE(planDialog->hasChanges());
    std::vector<TestPlanDialog::Unsaved> answers{TestPlanDialog::Unsaved::Cancel, TestPlanDialog::Unsaved::Discard};
    planDialog->askUnsaved = [&answers] {
        const TestPlanDialog::Unsaved a = answers.front();
        answers.erase(answers.begin());
        return a;
    };
    planDialog->close();
    EXPECT_TRUE(planDialog->isVisible());
    planDialog->close();
    EXPECT_TRUE(answers.empty());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(dlg.resultsMenu().testPlanDialog(), nullptr) << "closed and deleted";
    EXPECT_TRUE(fileBytes(planPath).contains("\"max_jumps\": 1")) << "the discarded change is not saved";

    dlg.waitForBench();
    ASSERT_TRUE(dlg.bench().context().plan());
    EXPECT_EQ(dlg.bench().context().plan()->toJson(), saved.plan->toJson());

    // An accuracy test of QM-1 with one jump of 45°: within the number the
    // plan allows, not within its size.
    EncoderModel& encoder = box->encoder();
    encoder.setSpeedRpm(0.9);
    for (auto [c, text] : {std::pair{Control::GaugeField, "2"}, std::pair{Control::Description, "QM-1"}}) {
        dlg.view().setText(c, text);
        dlg.toBench([c, t = QString(text)](Bench& b) { b.onEdited(c, t); });
    }
    dlg.findChild<QAction*>("actionResults")->trigger();
    ResultsWindow* results = dlg.resultsMenu().resultsWindow();
    ASSERT_NE(results, nullptr);
    EXPECT_FALSE(results->chosen()) << "no results yet";
    dlg.toBench([&encoder](Bench& bench) {
        bench.onCommand(Command::ClickingSetting);
        encoder.setPositionCounts(std::llround(11.7 / 360.0 * (1 << 17)));
        const std::int64_t start = benchClock().nowMicros();
        encoder.addAngleJump({200.0, 45.0});
        bench.onCommand(Command::AbsTest);
        for (int n = 1; n <= 680 && bench.accuracy().running(); ++n) {
            const double wait = static_cast<double>(start + n * 300000 - benchClock().nowMicros()) / 1000.0;
            if (wait > 0)
                benchSleep(wait);
            bench.onTimer(kTimerAbsTest);
        }
    });
    dlg.waitForBench();  // and what the bench posted meanwhile

    // The window shows the test that just ended, before the store wrote it.
    std::optional<ResultRow> shown = results->chosen();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->command, "abs-test");
    EXPECT_EQ(shown->serial, "QM-1");
    EXPECT_EQ(shown->verdict, "fail") << "the test's own verdict: a jump";
    const QJsonObject plan = shown->figures["plan"].toObject();
    EXPECT_EQ(plan["verdict"].toString(), "fail");
    ASSERT_EQ(plan["failed"].toArray().size(), 1);
    EXPECT_TRUE(plan["failed"][0].toString().contains("at most 30° allowed")) << plan["failed"][0].toString().toStdString();
    ASSERT_TRUE(store->flush(10000));
    results->refresh();
    ASSERT_TRUE(results->chosen());
    EXPECT_EQ(results->chosen()->uid, shown->uid) << "stored and in the session: listed once, still chosen";

    // The CSV and both reports where the file dialog says; a folder that is
    // not there is said, and nothing is written.
    QString asked;
    results->tell = [&told](const QString& t) { told << t; };
    QString answer = QDir(root.path()).filePath("trace.csv");
    results->askPath = [&](const QString&, const QString& suggested, const QString&) {
        asked = suggested;
        return answer;
    };
    results->exportAccuracyCsv();
    EXPECT_TRUE(asked.endsWith(".csv") && QFileInfo(asked).fileName().startsWith("accuracy-QM-1-"));
    const QByteArray csv = fileBytes(answer);
    EXPECT_TRUE(csv.startsWith("sample,step,angle_deg,jump,jump_deg\n"));
    int jumps = 0;
    for (const QByteArray& line : csv.split('\n'))
        jumps += line.split(',').value(3) == "1";
    EXPECT_EQ(jumps, 1) << "one jump marked";
    for (ReportFormat format : {ReportFormat::Html, ReportFormat::Pdf}) {
        answer = QDir(root.path()).filePath(format == ReportFormat::Pdf ? "r.pdf" : "r.html");
        results->writeReport(format);
        EXPECT_EQ(QFileInfo(asked).fileName(), format == ReportFormat::Pdf ? "report-QM-1.pdf" : "report-QM-1.html");
        EXPECT_GT(QFileInfo(answer).size(), 1000);
    }
    EXPECT_TRUE(fileBytes(QDir(root.path()).filePath("r.html")).contains("at most 30° allowed"));
    told.clear();
    answer = QDir(root.path()).filePath("gone/r.html");
    results->writeReport(ReportFormat::Html);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("The report cannot be written.") && told[0].contains("gone/r.html"))
        << told[0].toStdString();
    EXPECT_FALSE(QFile::exists(answer));

    // A serial without results is said rather than written as an empty report.
    results->setSerial("QM-404");
    results->refresh();
    EXPECT_FALSE(results->chosen());
    told.clear();
    results->writeReport(ReportFormat::Pdf);
    results->exportAccuracyCsv();
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[0], "There are no test results for serial QM-404.");
    EXPECT_EQ(told[1], "Choose an absolute accuracy result first.");
    qunsetenv("XDG_DATA_HOME");
}
