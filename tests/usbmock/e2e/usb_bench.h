#pragma once
// The whole bench on the real libusb backend: a headless bench (its bench
// thread and timers, as in the window and quillmark-tool) opens the box
// through LibusbBackend, and the box is the simulated box's firmware behind
// a umockdev-emulated device. Runs on the steady clock in real time
// (libusb's event thread and umockdev answer in real time); a long case may
// speed the clock up once the box is set up.
#include "common/clock.h"
#include "headless/headless_bench.h"
#include "simbox/sim_box.h"

#include <QTemporaryDir>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class LibusbBackend;
class MockBox;
// umockdev's headers (glib's) must not meet Qt's keyword macros here.
typedef struct _UMockdevTestbed UMockdevTestbed;

class UsbBench {
public:
    // Opens the box through libusb.
    UsbBench();
    ~UsbBench();
    UsbBench(const UsbBench&) = delete;
    UsbBench& operator=(const UsbBench&) = delete;

    // Applies `protocol` (a protocol table name) with the gauge on
    // `gaugeField`, then forgets the packets that took.
    void choose(const char* protocol, const char* gaugeField = nullptr);
    // From now on bench time runs `times` faster than real time. Every wait
    // of the bench shrinks in real time with it, among them the 50 ms in
    // which a configuration's answer or a step's first transfer must come,
    // so set the box up before.
    void speedUp(double times) { clock_->setSpeed(times); }
    // The box goes away, and comes back as a new device on the bus.
    void unplug();
    void replug();
    MockBox& device() { return *devices_.back(); }

    // Every outcome the bench posted, in order.
    std::vector<Outcome> outcomes() const;
    // Packets the box took since the last clearPackets(), compactly: "6A"
    // for a fill, the first six bytes in hex for a header packet.
    std::vector<std::string> packetLog() const;
    void clearPackets() { box->clearReceivedPackets(); }
    // The capture file the box's log implies: each transfer that took bytes
    // as one 40960-byte block, zero after its bytes.
    QByteArray expectedCaptureFile() const;
    // Waits (on the bench clock) until `done` holds; false after `benchMs`.
    bool waitFor(const std::function<bool()>& done, double benchMs = 5000);
    // Stop-all has left nothing behind: no flag of an operation, no worker,
    // no session on the IN endpoint, no transfer in the box.
    void expectIdle();

    QString file(const QString& name) const { return dataRoot.filePath(name); }

    QTemporaryDir dataRoot;
    std::shared_ptr<SimBox> box;
    std::shared_ptr<LibusbBackend> backend;
    std::unique_ptr<HeadlessBench> hb;

private:
    void plug();

    std::shared_ptr<SteadyClock> clock_;
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<MockBox>> devices_;  // every plug-in; the last is the current one
    int plugs_ = 0;
    mutable std::mutex mutex_;
    std::vector<Outcome> outcomes_;
};

// Describes a packet as packetLog() does.
std::string describePacket(const ReceivedPacket& p);
