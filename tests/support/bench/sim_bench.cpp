#include "support/bench/sim_bench.h"

#include "common/clock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>

SimBench::SimBench(SimBenchOptions options)
{
    qputenv("XDG_DATA_HOME", dataRoot.path().toUtf8());
    QCoreApplication::setApplicationName("Quillmark");
    bus = std::make_shared<SimBus>();
    if (options.boxSecond) {
        other = std::make_shared<SimOtherDevice>("Some other FX2 board");
        bus->addDevice(other);
    }
    if (options.withBox) {
        box = std::make_shared<SimBox>();
        box->setInEndpointOnly(options.inEndpointOnly);
        bus->addDevice(box);
    }
    bench = std::make_unique<Bench>(state, view);
    bench->context().setResultSink([this](const TestReport& r) {
        std::lock_guard lock(reportsMutex_);
        reports_.push_back(r);
    });
    if (options.startUp)
        bench->startUp(bus);
    settle();
    clearPackets();
    view.clearMessages();
}

SimBench::~SimBench()
{
    bench->shutdown();
    bench.reset();
}

std::vector<ReceivedPacket> SimBench::packets() const
{
    return box ? box->receivedPackets() : std::vector<ReceivedPacket>{};
}

void SimBench::clearPackets()
{
    if (box)
        box->clearReceivedPackets();
}

void SimBench::settle()
{
    // Senders finish within their 10 ms completion wait. A running reader
    // is not waited for.
    const bool reading = state.readerWorker && state.link.workers.isRunning(state.readerWorker);
    state.link.workers.waitForAll(reading ? 1u : 0u, 1000);
}

std::string SimBench::describe(const ReceivedPacket& p)
{
    char buf[16];
    const std::uint8_t b0 = p.code();
    if (p.isFill(b0)) {
        std::snprintf(buf, sizeof buf, "%02X", b0);
        return buf;
    }
    std::string s;
    for (int i = 0; i < 6 && i < static_cast<int>(p.bytes.size()); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p.bytes[static_cast<std::size_t>(i)]);
        s += buf;
    }
    return s;
}

std::vector<std::string> SimBench::packetLog() const
{
    std::vector<std::string> out;
    for (const auto& p : packets())
        out.push_back(describe(p));
    return out;
}

void SimBench::chooseProtocol(const QString& name)
{
    view.choose(Control::Protocols, name);
    bench->onChosen(Control::Protocols, view.controls().currentIndex(Control::Protocols));
}

void SimBench::type(Control edit, const QString& text)
{
    view.setText(edit, text);
    bench->onEdited(edit, text);
}

bool SimBench::configure()
{
    bench->onCommand(Command::ClickingSetting);
    settle();
    return state.configApplied.load();
}

std::vector<TestReport> SimBench::reports() const
{
    std::lock_guard lock(reportsMutex_);
    return reports_;
}

TestReport SimBench::lastReport(const QString& command) const
{
    std::lock_guard lock(reportsMutex_);
    for (auto it = reports_.rbegin(); it != reports_.rend(); ++it)
        if (it->command == command)
            return *it;
    ADD_FAILURE() << "no " << command.toStdString() << " result was reported";
    return {};
}

bool waitFor(const std::function<bool()>& done, double benchMs, double stepMs)
{
    for (double t = 0; t < benchMs; t += stepMs) {
        if (done())
            return true;
        benchSleep(stepMs);
    }
    return done();
}
