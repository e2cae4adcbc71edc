// Entry point of every test program: a headless QApplication so that widget
// tests and queued view updates work, then GoogleTest, each test on a fresh
// virtual clock.
#include "support/test_clock.h"

#include <QApplication>
#include <cstdlib>
#include <string>
#include <gtest/gtest.h>

namespace {

std::shared_ptr<VirtualClock> g_testClock;

class VirtualTimePerTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        g_testClock = std::make_shared<VirtualClock>();
        installBenchClock(g_testClock);
        g_testClock->join();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { g_testClock->leave(); }
};

// Three programs run on the steady clock: the window's tests (test_app), whose
// GUI thread pumps Qt's event loop in real time and is never a member of a
// clock, as in the program; and the libusb backend's (test_usbmock, and the
// whole bench on it, test_usb_e2e), whose completions come from libusb's
// event thread against an emulated device that answers in real time.
bool realTimeProgram(const char* program)
{
    const std::string p = program ? program : "";
    auto endsWith = [&](const std::string& tail) {
        return p.size() >= tail.size() && p.compare(p.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith("/test_app") || endsWith("/test_usbmock") || endsWith("/test_usb_e2e");
}

}  // namespace

VirtualClock& testClock()
{
    if (!g_testClock)
        g_testClock = std::make_shared<VirtualClock>();
    return *g_testClock;
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!realTimeProgram(argv[0]))
        ::testing::UnitTest::GetInstance()->listeners().Append(new VirtualTimePerTest);
    return RUN_ALL_TESTS();
}
