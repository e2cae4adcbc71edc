#include "headless/headless_bench.h"

#include "common/bench_clock.h"

#include <chrono>
#include <thread>

HeadlessBench::HeadlessBench(bool quiet) : view(thread, quiet), bench(state, view)
{
    thread.setTickHandler([this](int id) { bench.onTimer(id); });
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

bool HeadlessBench::waitFor(const std::function<bool()>& done, double realMs, const std::atomic<bool>* cancel)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double, std::milli>(realMs);
    for (;;) {
        if (done())
            return true;
        if ((cancel && cancel->load()) || std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
