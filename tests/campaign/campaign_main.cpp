// fault_campaign: runs seeded plans of the fault campaign and checks every
// run's invariants. A failing seed is printed with the command that
// replays it.
//   fault_campaign [--seeds N] [--first S] [--jobs J] [--watchdog S]   N seeds from S
//   fault_campaign --seed S                              one seed, described
//   fault_campaign --describe S                          its plan only
#include "campaign/campaign_checks.h"
#include "campaign/campaign_run.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A run that hangs is a failure of its seed; this wall-clock watchdog only
// names it (a run takes well under a second of real time, a few under the
// sanitizers; --watchdog S sets it).
unsigned gRunWatchdogSeconds = 30;
std::uint64_t gCurrentSeed = 0;
const char* gProgram = "fault_campaign";

void onWatchdog(int)
{
    char line[160];
    const int n = std::snprintf(line, sizeof line, "FAIL seed %llu: the run did not end\n  replay: %s --seed %llu\n",
                                static_cast<unsigned long long>(gCurrentSeed), gProgram,
                                static_cast<unsigned long long>(gCurrentSeed));
    if (n > 0 && ::write(STDOUT_FILENO, line, static_cast<std::size_t>(n)) < 0)
        _exit(3);
    _exit(3);
}

bool runSeed(std::uint64_t seed, bool verbose)
{
    gCurrentSeed = seed;
    alarm(gRunWatchdogSeconds);
    const FaultPlan plan = drawFaultPlan(seed);
    const RunEvidence ev = runPlanInVirtualTime(plan);
    alarm(0);
    const std::vector<std::string> broken = checkRun(ev);
    if (verbose || !broken.empty()) {
        std::printf("%s %s\n", broken.empty() ? "ok" : "FAIL", plan.describe().c_str());
        for (const PostedOutcome& p : ev.outcomes)
            if (verbose)
                std::printf("  outcome %s %s%s at %.1f ms\n", operationName(p.outcome.operation).toUtf8().constData(),
                            p.outcome.passed ? "pass " : "", p.outcome.message.toUtf8().constData(),
                            static_cast<double>(p.atMicros - ev.startMicros) / 1000.0);
        for (const std::string& b : broken)
            std::printf("  - %s\n", b.c_str());
        if (!broken.empty())
            std::printf("  replay: %s --seed %llu\n", gProgram, static_cast<unsigned long long>(seed));
        std::fflush(stdout);
    }
    return broken.empty();
}

// Each seed runs in a child process of its own, `jobs` at a time: a run
// that crashes or hangs costs only its seed. The number that failed.
int runSeeds(std::uint64_t first, std::uint64_t count, int jobs, char** argv)
{
    int failed = 0;
    int running = 0;
    auto reap = [&] {
        int status = 0;
        if (::wait(&status) > 0) {
            --running;
            failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        }
    };
    for (std::uint64_t i = 0; i < count; ++i) {
        while (running >= jobs)
            reap();
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            const int code = [&] {
                // The bench's files (the working capture file among them)
                // are its own: runs side by side must not share them.
                QTemporaryDir ownRoot;
                qputenv("XDG_DATA_HOME", ownRoot.path().toUtf8());
                int qargc = 1;
                QCoreApplication app(qargc, argv);
                const bool ok = runSeed(first + i, false);
                std::fflush(stdout);
                return ok ? 0 : 1;
            }();
            _exit(code);
        }
        if (pid < 0) {
            std::perror("fork");
            return failed + 1;
        }
        ++running;
    }
    while (running > 0)
        reap();
    return failed;
}

}  // namespace

int main(int argc, char** argv)
{
    gProgram = argv[0];
    std::uint64_t first = 1;
    std::uint64_t count = 100;
    int jobs = 1;
    bool one = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--seeds" && hasValue)
            count = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--first" && hasValue)
            first = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--watchdog" && hasValue)
            gRunWatchdogSeconds = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--jobs" && hasValue)
            jobs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--describe" && hasValue) {
            std::printf("%s\n", drawFaultPlan(std::strtoull(argv[++i], nullptr, 10)).describe().c_str());
            return 0;
        } else if (a == "--seed" && hasValue) {
            first = std::strtoull(argv[++i], nullptr, 10);
            one = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seeds N] [--first S] [--jobs J] | --seed S\n", argv[0]);
            return 2;
        }
    }
    std::signal(SIGALRM, onWatchdog);
    // Files the bench keeps (configuration, numbered captures) go to a
    // throwaway data root.
    QTemporaryDir dataRoot;
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    qputenv("QT_LOGGING_RULES", "*.debug=false");

    const auto t0 = std::chrono::steady_clock::now();
    int failed = 0;
    if (one) {
        QCoreApplication app(argc, argv);
        failed = runSeed(first, true) ? 0 : 1;
        return failed;
    }
    failed = runSeeds(first, count, jobs, argv);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("fault campaign: %llu seeds from %llu, %d failed, %.1f s, %.1f runs/s on %d jobs\n",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(first), failed, seconds,
                static_cast<double>(count) / seconds, jobs);
    return failed == 0 ? 0 : 1;
}
