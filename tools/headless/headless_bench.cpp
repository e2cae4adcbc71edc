#include "headless/headless_bench.h"

#include "common/clock.h"


HeadlessBench::HeadlessBench(bool quiet) : view(thread, quiet), bench(state, view)
{
    thread.setTickHandler([this](int id) { bench.onTimer(id); });
    bench.context().setBenchThreadPost([this](std::function<void()> work) { thread.post(std::move(work)); });
}

HeadlessBench::~HeadlessBench()
{
    shutdown();
}

void HeadlessBench::startUp(std::shared_ptr<UsbBackend> backend)
{
    run([&](Bench& b) {
        b.startUp(std::move(backend), [this](const DeviceChangeEvent& e) {
            thread.post([this, e] { bench.onDeviceChange(e); });
        });
    });
}

void HeadlessBench::run(const std::function<void(Bench&)>& work)
{
    thread.runAndWait([&] { work(bench); });
}

bool HeadlessBench::waitFor(const std::function<bool()>& done, double benchMs, const std::atomic<bool>* cancel)
{
    Clock& clock = benchClock();
    const std::int64_t end = clock.deadlineAfter(benchMs);
    for (;;) {
        if (done())
            return true;
        if ((cancel && cancel->load()) || clock.nowMicros() >= end)
            return false;
        // Looked at every 5 bench ms: in virtual time that costs nothing.
        clock.sleepFor(5);
    }
}

std::optional<Outcome> HeadlessBench::conclude(Operation op, const std::function<void(Bench&)>& start,
                                              double benchMs, const std::atomic<bool>* cancel)
{
    OutcomeBoard& board = bench.outcomes();
    const std::uint64_t before = board.count(op);
    run(start);
    return board.waitNext(op, before, benchMs, cancel);
}

void HeadlessBench::settle()
{
    waitFor(
        [this] {
            const bool reading = state.readerWorker && state.link.workers.isRunning(state.readerWorker);
            return state.link.workers.runningCount() <= (reading ? 1u : 0u);
        },
        2000);
}

void HeadlessBench::shutdown()
{
    run([](Bench& b) { b.shutdown(); });
    thread.stop();
}

bool HeadlessBench::boxPresent()
{
    bool present = false;
    run([&](Bench&) {
        present = state.link.usbDevice && state.link.usbDevice->isOpen() && state.link.inEndpoint.present();
    });
    return present;
}
