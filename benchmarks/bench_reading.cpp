// "Read data" on the simulated box, measured:
//  1. CPU use of the whole workbench (window offscreen, simulated box in the
//     same process) over 10 s of reading a turning encoder;
//  2. latency from the moment the simulated box produced a record to the
//     decode of that record's value (median and 99th percentile).
// A program rather than a timed test: run it by hand and read the figures.
#include "bench/bench.h"
#include "app/quillmark_dlg.h"
#include "common/clock.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "support/bench/recording_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kSingleTurnBits = 17;
constexpr double kRpm = 60;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::shared_ptr<SimBus> busWith(std::shared_ptr<SimBox>& box)
{
    auto bus = std::make_shared<SimBus>();
    box = std::make_shared<SimBox>();
    box->encoder().setResolution(kSingleTurnBits, 15, 2);
    bus->addDevice(box);
    return bus;
}

void measureCpu(double seconds)
{
    std::shared_ptr<SimBox> box;
    auto bus = busWith(box);
    box->encoder().setSpeedRpm(kRpm);
    CQuillmarkDlg dlg(bus);
    dlg.show();
    QApplication::processEvents();
    dlg.toBench([](Bench& b) { b.onCommand(Command::ClickingSetting); });
    dlg.waitForBench();
    dlg.toBench([](Bench& b) { b.onCommand(Command::ReadData); });
    dlg.waitForBench();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    std::printf("reading, whole workbench (window offscreen + simulated box): %.2f s CPU in %.2f s = %.1f %% of one core\n",
                cpu, elapsed, 100.0 * cpu / elapsed);
    std::printf("  last value shown: field 2 = %s\n", qPrintable(dlg.text(Control::FieldValue2)));
    dlg.toBench([](Bench& b) { b.onCommand(Command::ReadData); });
    dlg.waitForBench();
}

// Stamps the bench time of each field-2 write made while decoding.
class StampingView : public RecordingView {
public:
    StampingView()
    {
        controls().setObserver([this](Control c, const ControlState& s) {
            if (c == Control::FieldValue1)
                pendingTurns_ = s.text.toLongLong();
            if (c == Control::FieldValue2 && recording) {
                std::lock_guard lock(m_);
                stamps.push_back({benchClock().nowMicros(), pendingTurns_, s.text.toLongLong()});
            }
        });
    }
    struct Stamp {
        std::int64_t decodedAt, turns, position;
    };
    std::atomic<bool> recording{false};
    std::mutex m_;
    std::vector<Stamp> stamps;

private:
    std::int64_t pendingTurns_ = 0;
};

void measureLatency(double seconds)
{
    std::shared_ptr<SimBox> box;
    auto bus = busWith(box);
    BenchState state;
    StampingView view;
    Bench bench(state, view);
    bench.startUp(bus);
    bench.onCommand(Command::ClickingSetting);
    EncoderModel& e = box->encoder();
    e.setSpeedRpm(0);
    e.setPositionCounts(0);
    const std::int64_t t1 = benchClock().nowMicros();
    e.setSpeedRpm(kRpm);
    const double countsPerMicro = kRpm / 60.0 / 1e6 * double(1 << kSingleTurnBits);
    view.recording = true;
    bench.onCommand(Command::ReadData);
    benchSleep(seconds * 1000);
    bench.onCommand(Command::ReadData);
    view.recording = false;

    std::vector<double> latencyMs;
    {
        std::lock_guard lock(view.m_);
        for (const auto& s : view.stamps) {
            const double counts = double((s.turns << kSingleTurnBits) + s.position);
            const double producedAt = t1 + counts / countsPerMicro;
            if (counts > 0)
                latencyMs.push_back((s.decodedAt - producedAt) / 1000.0);
        }
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    if (latencyMs.empty()) {
        std::printf("latency: no values decoded\n");
        return;
    }
    auto pct = [&](double p) { return latencyMs[std::min(latencyMs.size() - 1, std::size_t(p * latencyMs.size()))]; };
    std::printf("latency record produced -> decodeFrame, %zu values: median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n",
                latencyMs.size(), pct(0.5), pct(0.99), latencyMs.front(), latencyMs.back());
    bench.shutdown();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("QuillmarkBench");
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    measureCpu(seconds);
    measureLatency(seconds);
    return 0;
}
