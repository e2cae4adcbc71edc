// The window keeps its results: a test pressed on the window lands in the
// store with the description as serial, and a server that cannot be reached
// is said once, in a box that does not stop the bench.
#include "app/quillmark_dlg.h"
#include "bench/bench.h"
#include "results/results_database.h"
#include "results/results_store.h"
#include "simbox/demo_bus.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QList<QMessageBox*> noticesShown(QWidget& window)
{
    QList<QMessageBox*> shown;
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible() && box->text().contains("kept on this bench"))
            shown << box;
    return shown;
}

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

TEST(WindowResults, ConfigurationsLandInTheStoreAndAnAbsentServerIsSaidOnce)
{
    QTemporaryDir dir;
    ResultsStoreOptions o;
    o.localPath = QDir(dir.path()).filePath("bench.sqlite");
    o.server = ResultsLocation::sqlite(QDir(dir.path()).filePath("server"));
    ASSERT_TRUE(QDir().mkpath(o.server->path));  // a folder: never opens
    o.retryMs = 50;
    auto store = std::make_shared<ResultsStore>(o);
    {
        CQuillmarkDlg dlg(makeDemoBus());
        dlg.show();
        dlg.keepResults(store);
        dlg.toBench([](Bench& b) { b.onEdited(Control::Description, "SN-W1"); });
        for (int i = 0; i < 2; ++i) {
            dlg.toBench([](Bench& b) { b.onCommand(Command::ClickingSetting); });
            dlg.waitForBench();
            ASSERT_TRUE(store->flush(10000));
            pump(200);
            const QList<QMessageBox*> notices = noticesShown(dlg);
            ASSERT_EQ(notices.size(), 1) << "said once, after " << i + 1 << " results";
            EXPECT_FALSE(notices[0]->isModal());
        }
    }
    ResultsDatabase local(ResultsLocation::sqlite(o.localPath));
    ASSERT_TRUE(local.open());
    const std::vector<ResultRow> rows = local.select({});
    ASSERT_EQ(rows.size(), 2u);
    for (const ResultRow& r : rows) {
        EXPECT_EQ(r.command, "configure");
        EXPECT_EQ(r.verdict, "pass");
        EXPECT_EQ(r.serial, "SN-W1");
        EXPECT_EQ(r.station, QSysInfo::machineHostName());
        EXPECT_EQ(r.config.size(), 512);
    }
    EXPECT_EQ(local.queuedCount(), 2) << "waiting for the server";
}
