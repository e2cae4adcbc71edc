// Ctrl+Alt+S pressed on the X server starts and stops a capture of the
// simulated box into the next numbered file, without a dialog. Needs the xcb
// platform (Xvfb) and xdotool; skipped offscreen.
#include "app/global_hot_key.h"
#include "app/quillmark_dlg.h"
#include "bench/bench.h"
#include "bench/capture.h"
#include "common/clock.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

bool pumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(CaptureHotKeyX11, CtrlAltSStartsAndStopsANumberedCapture)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs the xcb platform";
    if (std::system("command -v xdotool > /dev/null") != 0)
        GTEST_SKIP() << "needs xdotool";
    QTemporaryDir dataRoot;
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    auto bus = std::make_shared<SimBus>();
    auto box = std::make_shared<SimBox>();
    bus->addDevice(box);
    {
        CQuillmarkDlg dlg(bus);
        dlg.show();
        ASSERT_EQ(dlg.hotKey().mode(), GlobalHotKey::Mode::X11Grab) << qPrintable(dlg.hotKey().errorText());
        Bench& bench = dlg.bench();  // read only: the capture's phase
        dlg.toBench([&](Bench& bench) { bench.onCommand(Command::ClickingSetting); });
        dlg.waitForBench();
        ASSERT_TRUE(dlg.bench().context().state.configApplied.load());

        ASSERT_EQ(std::system("xdotool key ctrl+alt+s"), 0);
        ASSERT_TRUE(pumpUntil([&] { return bench.capture().phase() == Capture::Phase::Capturing; }, 3000));
        EXPECT_TRUE(bench.capture().hotKeyMarked());
        const QString path = bench.capture().filePath();
        EXPECT_TRUE(path.endsWith("/text/FileName1.txt")) << qPrintable(path);
        pumpUntil([&] { return dlg.text(Control::SaveFile) == "Stop Collecting"; }, 1000);
        EXPECT_EQ(dlg.text(Control::SaveFile), "Stop Collecting");

        pumpUntil([] { return false; }, 300);
        ASSERT_EQ(std::system("xdotool key ctrl+alt+s"), 0);
        ASSERT_TRUE(pumpUntil([&] { return bench.capture().phase() == Capture::Phase::Idle; }, 5000));
        pumpUntil([&] { return dlg.text(Control::SaveFile) == "Save file"; }, 1000);
        EXPECT_EQ(dlg.text(Control::SaveFile), "Save file");
        EXPECT_GT(QFileInfo(path).size(), 0);
        EXPECT_EQ(QFileInfo(path).size() % kCaptureBlockBytes, 0);
        EXPECT_FALSE(QFileInfo::exists(dataRoot.path() + "/Quillmark/text/num.txt"));
    }
    qunsetenv("XDG_DATA_HOME");
}

}  // namespace
