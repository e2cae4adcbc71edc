#pragma once
// An emulated encoder box on a umockdev testbed: sysfs entries with the box's
// descriptors, and a usbdevfs ioctl handler that answers libusb the way the
// kernel would (claim/release, URB submit, non-blocking reap, discard, and
// descriptor requests on endpoint 0).
//
// The bulk endpoints are served either by the box's own byte queue
// (supplyIn, setStallIn: the link-level tests) or, given a firmware, by a
// simulated device behind a UrbBridge (the whole bench on libusb).
#include "mock_urb.h"

#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimDevice;
class UrbBridge;

struct MockBoxParams {
    std::uint16_t vendorId = 0x04B4;
    std::uint16_t productId = 0x1004;
    std::string manufacturer = "Cypress";
    std::string product;  // empty: the box's name
    std::string serial = "0001";
    bool strings = true;  // false: no string descriptors at all
    std::vector<std::uint16_t> languages{0x0409};
    int bus = 1;
    int address = 2;
    std::string sysName = "1-1";
    int speed = 480;
    // The device behind bulk OUT 0x02 and IN 0x86 (a SimBox); null: the
    // byte queue below.
    std::shared_ptr<SimDevice> firmware;
};

class MockBox {
public:
    MockBox(UMockdevTestbed* testbed, MockBoxParams params);
    ~MockBox();
    MockBox(const MockBox&) = delete;
    MockBox& operator=(const MockBox&) = delete;

    // Bytes the box sends: each IN transfer takes up to its length from the
    // queue. An IN transfer finding nothing queued is withheld until supplyIn.
    void supplyIn(const std::vector<std::uint8_t>& bytes);
    void setStallIn(bool stall);
    // Pulls the plug: URBs in flight end with -ENODEV, every later request
    // fails with ENODEV, and a "remove" uevent goes out.
    void unplug();
    bool isPlugged() const;
    // With a firmware: IN transfers the box has finished are not given back
    // until the host discards one (then all of them are): a host whose
    // event thread is late, so that every cancel races a completion.
    void holdFinishedInUntilDiscard(bool on);

    std::vector<std::vector<std::uint8_t>> outTransfers() const;
    int withheldInCount() const;
    int discardCount() const;
    bool interfaceClaimed() const;
    std::vector<unsigned long> unhandledRequests() const;
    const std::string& sysPath() const { return sysPath_; }
    const std::string& devNode() const { return devNode_; }

private:
    using Urb = MockUrb;

    static gboolean onIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void control(Urb& u);
    void finish(Urb u, int status, int actualLength);
    void fillIn(Urb& u);

    std::vector<std::uint8_t> deviceDescriptor() const;
    std::vector<std::uint8_t> configDescriptor() const;
    std::vector<std::uint8_t> stringDescriptor(int index) const;

    UMockdevTestbed* testbed_;
    MockBoxParams params_;
    std::string sysPath_;
    std::string devNode_;
    UMockdevIoctlBase* handler_ = nullptr;
    std::unique_ptr<UrbBridge> bridge_;

    mutable std::mutex mutex_;
    bool gone_ = false;
    bool stallIn_ = false;
    bool claimed_ = false;
    bool holdIn_ = false;
    bool releaseIn_ = false;
    int idleReaps_ = 0;  // reaps in a row that found nothing
    int discards_ = 0;
    std::deque<std::uint8_t> inData_;
    std::deque<Urb> withheldIn_;
    std::deque<Urb> reapable_;
    std::vector<std::vector<std::uint8_t>> out_;
    std::vector<unsigned long> unhandled_;
};
