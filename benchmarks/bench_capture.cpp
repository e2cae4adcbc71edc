// Captures on the simulated box with the FX2's real 4-packet IN FIFO,
// measured on the whole workbench (window offscreen, box in the process):
//   bench_capture soak [MINUTES]   one capture at the box's real rate: bytes
//                                  lost, file against the box's log, CPU
//   bench_capture sweep [PROTOCOL] the box and bench sped up together: the
//                                  highest speed-up at which nothing is lost
//                                  (BISS: 6-byte records; RS485: 10-byte)
// A program rather than a timed test: run it by hand and read the figures.
#include "app/quillmark_dlg.h"
#include "bench/bench.h"
#include "bench/capture.h"
#include "common/clock.h"
#include "interface/protocol_table.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the window's event loop for `ms` real milliseconds (sleeping while
// there is nothing to do, as the application does).
void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Result {
    double benchSeconds = 0;
    std::uint64_t lost = 0;
    std::uint64_t delivered = 0;
    bool kept = false;       // the acknowledgement said complete and the file stayed
    bool matchesLog = false;
    double cpuPercent = 0;
};

// One hot-key capture (numbered file, no dialog) of `benchSeconds`.
Result captureOnce(double speed, double benchSeconds, int protocol = 0)
{
    installBenchClock(std::make_shared<SteadyClock>(speed));
    auto bus = std::make_shared<SimBus>();
    auto box = std::make_shared<SimBox>();  // 4-packet FIFO, as the FX2
    bus->addDevice(box);
    Result res;
    res.benchSeconds = benchSeconds;
    {
        CQuillmarkDlg dlg(bus);
        Bench& bench = dlg.bench();  // read only: phase and file of the capture
        dlg.show();
        pump(50);
        dlg.toBench([&](Bench& bench) { bench.onChosen(Control::Protocols, protocol); });
        dlg.waitForBench();
        dlg.toBench([&](Bench& bench) { bench.onCommand(Command::ClickingSetting); });
        dlg.waitForBench();
        dlg.toBench([&](Bench& bench) { bench.onToggled(Control::TimedCapture, false); });
        dlg.waitForBench();
        pump(50);
        box->clearCaptureLog();
        const std::uint64_t lostBefore = box->state().lostBytesTotal;

        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        dlg.toBench([&](Bench& bench) { bench.onHotKey(kCaptureHotKeyId); });
        dlg.waitForBench();
        const QString path = bench.capture().filePath();
        const std::int64_t end = benchClock().nowMicros() + static_cast<std::int64_t>(benchSeconds * 1e6);
        while (benchClock().nowMicros() < end)
            pump(200);
        dlg.toBench([&](Bench& bench) { bench.onHotKey(kCaptureHotKeyId); });
        dlg.waitForBench();
        while (bench.capture().phase() != Capture::Phase::Idle)
            pump(10);
        res.cpuPercent = 100.0 * (cpuSeconds() - cpu0) / (wall.elapsed() / 1000.0);
        res.lost = box->state().lostBytesTotal - lostBefore;
        for (const auto& t : box->captureTransfers())
            res.delivered += t.size();

        QFile f(path);
        res.kept = f.open(QIODevice::ReadOnly);
        if (res.kept) {
            QByteArray expected;
            for (const auto& t : box->captureTransfers()) {
                if (t.empty())
                    continue;
                QByteArray block(kCaptureBlockBytes, '\0');
                std::memcpy(block.data(), t.data(), t.size());
                expected += block;
            }
            res.matchesLog = f.readAll() == expected;
        }
    }
    return res;
}

void print(double speed, const Result& r)
{
    std::printf("speed %6.1fx  %7.1f s bench  delivered %10llu B  lost %8llu B  %s  file %s  CPU %5.1f %% of one core\n",
                speed, r.benchSeconds, static_cast<unsigned long long>(r.delivered),
                static_cast<unsigned long long>(r.lost), r.kept ? "kept     " : "discarded",
                r.matchesLog ? "= box log" : "!= box log", r.cpuPercent);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir root;
    qputenv("XDG_DATA_HOME", root.path().toUtf8());
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Quillmark");

    const char* mode = argc > 1 ? argv[1] : "sweep";
    if (std::strcmp(mode, "soak") == 0) {
        const double minutes = argc > 2 ? std::atof(argv[2]) : 10.0;
        print(1.0, captureOnce(1.0, minutes * 60.0));
        return 0;
    }
    int protocol = 0;
    if (argc > 2) {
        const std::optional<Protocol> p = protocolByName(argv[2]);
        if (!p) {
            std::fprintf(stderr, "unknown protocol %s\n", argv[2]);
            return 2;
        }
        protocol = static_cast<int>(*p);
    }
    std::printf("protocol %s\n", argc > 2 ? argv[2] : "BISS");
    double best = 0;
    for (double speed : {1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 50.0, 100.0, 200.0, 400.0}) {
        // At least 20 s of bench time and 4 s of real time per run.
        const Result r = captureOnce(speed, std::max(20.0, 4.0 * speed), protocol);
        print(speed, r);
        if (r.lost == 0 && r.kept && r.matchesLog)
            best = speed;
        else
            break;
    }
    std::printf("highest speed-up without loss: %.0fx\n", best);
    return 0;
}
