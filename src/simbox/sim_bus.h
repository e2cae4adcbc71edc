#pragma once
// The simulated USB bus: a list of simulated devices that the box link opens
// through the same backend interface as the real libusb one. Devices can be
// plugged and unplugged at run time; arrival and removal notifications come
// from the bus's own thread, as they would from the OS.
#include "link/usb_backend.h"

#include "common/clock.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A device that can sit on the simulated bus.
//
// Every plug-in gives the device a new attachment number; transfers carry the
// number of the handle they were submitted through, so a handle from before
// an unplug never reaches the device again.
class SimDevice {
public:
    virtual ~SimDevice() = default;
    // Descriptors and names the link reads when it opens the device.
    virtual UsbDeviceInfo descriptors() const = 0;
    // Takes a transfer; completes it (on any thread) when it is done. A
    // transfer for another attachment than the current one completes with
    // NoDevice at once.
    virtual void submit(const std::shared_ptr<TransferContext>& transfer, std::uint64_t attachment) = 0;
    // Completes a transfer that is still pending with Cancelled.
    virtual void cancel(const std::shared_ptr<TransferContext>& transfer) = 0;
    // Bus side: plugged in under `attachment`; unplugged (every pending
    // transfer completes with NoDevice).
    virtual void attached(std::uint64_t attachment) = 0;
    virtual void detached() = 0;
};

// A CyUSB device that is not the box: it takes OUT transfers and never sends
// anything. Used to put other devices before or after the box.
class SimOtherDevice : public SimDevice {
public:
    explicit SimOtherDevice(std::string deviceName, std::vector<EndpointDescriptor> endpoints = {});
    UsbDeviceInfo descriptors() const override;
    void submit(const std::shared_ptr<TransferContext>& transfer, std::uint64_t attachment) override;
    void cancel(const std::shared_ptr<TransferContext>& transfer) override;
    void attached(std::uint64_t attachment) override;
    void detached() override;

private:
    UsbDeviceInfo info_;
    std::mutex mutex_;
    std::uint64_t attachment_ = 0;
    std::vector<std::shared_ptr<TransferContext>> pendingIn_;
};

class SimBus : public UsbBackend {
public:
    SimBus();
    ~SimBus() override;
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // Puts a device on the bus without notifications (present from the
    // start). `position` < 0 or past the end appends.
    void addDevice(std::shared_ptr<SimDevice> device, int position = -1);
    // Plugs a device in: Arrival, then NodesChanged.
    void plug(std::shared_ptr<SimDevice> device, int position = -1);
    // Pulls a device out: its pending transfers complete with NoDevice and its
    // open handles go dead; then RemovalComplete{deviceId}, then NodesChanged.
    // False when the device was not on the bus.
    bool unplug(const std::shared_ptr<SimDevice>& device);
    // Unplug and plug again at the same place.
    bool replug(const std::shared_ptr<SimDevice>& device);

    bool isPresent(const std::shared_ptr<SimDevice>& device) const;
    // The id that handles of the device's current attachment report (0 when absent).
    std::uintptr_t deviceIdOf(const std::shared_ptr<SimDevice>& device) const;
    // Returns once every notification queued so far has been delivered.
    void waitForNotifications();

    int deviceCount() override;
    std::unique_ptr<UsbDeviceHandle> open(int index, std::string* error = nullptr) override;
    // Replacing the callback waits for a delivery in progress to end (except
    // when called from inside the callback), so the old target may be
    // destroyed right after. Callbacks must not wait for a thread that is
    // calling setChangeCallback.
    void setChangeCallback(ChangeCallback callback) override;

private:
    struct Entry {
        std::shared_ptr<SimDevice> device;
        std::uint64_t attachment = 0;
    };
    void post(DeviceChangeEvent e);
    void run();

    mutable std::mutex mutex_;  // devices_, nextAttachment_
    std::vector<Entry> devices_;
    std::uint64_t nextAttachment_ = 1;

    // The notification queue, written inside clock updates: the bus's thread
    // is a member of the bench clock, so a wait for a notification to be
    // delivered passes in virtual time as the delivery's own waits do.
    Clock& clock_;
    std::deque<DeviceChangeEvent> queue_;
    bool delivering_ = false;
    bool quit_ = false;

    ChangeCallback callback_;
    std::unique_ptr<ClockThread> thread_;
};
