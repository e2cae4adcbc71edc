#pragma once
// A whole bench on the simulated bus, with a recording view: the fixture of
// the end-to-end tests. Files go to a temporary data root.
#include "bench/bench.h"
#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "simbox/sim_box.h"
#include "simbox/sim_bus.h"
#include "support/bench/recording_view.h"
#include "support/qt_printers.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct SimBenchOptions {
    bool withBox = true;
    bool boxSecond = false;     // another device before the box
    bool inEndpointOnly = false;
    bool startUp = true;
};

class SimBench {
public:
    explicit SimBench(SimBenchOptions options = {});
    ~SimBench();

    // Packets the box took since the last clearPackets(), as first bytes
    // (fills) or the whole header where it matters.
    std::vector<ReceivedPacket> packets() const;
    void clearPackets();
    // Waits until the sender workers of the last command have finished.
    void settle();

    // A compact text of the packets: "6A" for a fill, "3A3A1200A161" for a
    // header packet (its first six bytes).
    static std::string describe(const ReceivedPacket& p);
    std::vector<std::string> packetLog() const;

    // Chooses a protocol in the list as the user does.
    void chooseProtocol(const QString& name);
    // Types `text` into an edit, as the user does.
    void type(Control edit, const QString& text);
    // Presses "Clicking setting" and reports whether the settings took.
    bool configure();

    // The finished tests the bench reported, in order.
    std::vector<TestReport> reports() const;
    // The last report of `command`; a failed expectation when there is none.
    TestReport lastReport(const QString& command) const;

    QTemporaryDir dataRoot;
    std::shared_ptr<SimBus> bus;
    std::shared_ptr<SimBox> box;
    std::shared_ptr<SimDevice> other;
    BenchState state;
    RecordingView view;
    std::unique_ptr<Bench> bench;

private:
    mutable std::mutex reportsMutex_;
    std::vector<TestReport> reports_;
};

// Polls `done` every `stepMs` of bench time until it holds; false if it still
// does not after `benchMs`.
bool waitFor(const std::function<bool()>& done, double benchMs = 3000, double stepMs = 5);
