#pragma once
// What the libusb backend's files share: the device list, the state of an
// open device and its transfers in flight, and the backend's own state.
// Private to src/link/libusb_*.cpp.
#include "link/libusb_backend.h"

#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace libusb_impl {

// The box answers descriptor requests within this time; the FX2 firmware
// serves them from its own tables.
inline constexpr unsigned kControlTimeoutMs = 5000;

inline std::uintptr_t idOf(libusb_device* dev)
{
    return usbDeviceId(libusb_get_bus_number(dev), libusb_get_device_address(dev));
}

// libusb's device list, freed (and its references dropped) on scope exit.
class DeviceList {
public:
    explicit DeviceList(libusb_context* ctx)
    {
        const ssize_t n = ctx ? libusb_get_device_list(ctx, &list_) : 0;
        count_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ~DeviceList()
    {
        if (list_)
            libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    libusb_device** begin() const { return list_; }
    libusb_device** end() const { return list_ + count_; }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

// --- Descriptors (libusb_descriptors.cpp) --------------------------------------

// String descriptor 0 lists the languages; 0x0409 when offered, else the
// first one, 0 when the device has no strings.
std::uint16_t chooseLanguage(libusb_device_handle* h);
// String descriptor `index` in `lang`, as UTF-8; empty when absent.
std::string readString(libusb_device_handle* h, std::uint8_t index, std::uint16_t lang);
// The device descriptor, strings and configurations of an opened device.
void readInfo(libusb_device* dev, libusb_device_handle* h, UsbDeviceInfo& info);
// GET_INTERFACE on interface 0; 0 when the device does not answer.
int currentAlternateSetting(libusb_device_handle* h);
// "USB device on bus B device D: what (libusb's error)".
std::string describe(libusb_device* dev, const char* what, int err);

// --- Open devices and their transfers (libusb_transfers.cpp) --------------------

struct HandleState;

// One transfer libusb owns. Holds the context (and so its buffer) and the
// handle state until the completion callback has run.
struct InFlight {
    std::shared_ptr<TransferContext> context;
    std::shared_ptr<HandleState> owner;
    libusb_transfer* transfer = nullptr;
};

// An open device. Shared between the handle object, the backend's list of
// open handles and every transfer in flight.
struct HandleState : std::enable_shared_from_this<HandleState> {
    libusb_context* ctx = nullptr;
    std::thread::id eventThread;
    UsbDeviceInfo info;
    std::uintptr_t id = 0;
    bool detachedKernelDriver = false;

    std::mutex closeMutex;  // one close at a time
    std::mutex mutex;       // guards the members below
    std::condition_variable idle;
    libusb_device_handle* handle = nullptr;
    bool closing = false;
    std::map<TransferContext*, InFlight*> inFlight;

    void submit(const std::shared_ptr<TransferContext>& t);
    void cancel(const std::shared_ptr<TransferContext>& t);
    void close();
    std::uint8_t transferTypeOf(std::uint8_t address) const;
};

// The handle the link holds; closing it (or dropping it) closes the device.
std::unique_ptr<UsbDeviceHandle> makeDeviceHandle(std::shared_ptr<HandleState> state);

}  // namespace libusb_impl

struct LibusbBackend::Impl {
    Options options;
    libusb_context* ctx = nullptr;
    std::string initError;
    bool hotplug = false;
    libusb_hotplug_callback_handle hotplugHandle{};
    std::thread thread;
    std::thread::id eventThread;
    std::atomic<bool> stop{false};

    // Hotplug callbacks only queue; the event thread turns the queue into
    // notifications after libusb has let go of its locks.
    struct RawChange {
        bool arrived = false;
        std::uintptr_t id = 0;
        libusb_device* device = nullptr;  // referenced, arrivals only
    };
    std::mutex queueMutex;
    std::vector<RawChange> queue;

    // Held while a notification runs, so that replacing the callback waits
    // for it (recursive: the callback may replace itself).
    std::recursive_mutex deliveryMutex;
    ChangeCallback callback;

    // Devices of the box's class seen present, and product strings read from
    // devices outside Cypress's ids, by device id.
    std::mutex classMutex;
    std::set<std::uintptr_t> present;
    std::map<std::uintptr_t, std::string> productCache;

    std::mutex handlesMutex;
    std::vector<std::weak_ptr<libusb_impl::HandleState>> handles;

    // The context and the event thread (libusb_event_thread.cpp).
    void start();
    void shutdown();
    void run();
    // The box's class, hotplug, polling and notifications (libusb_devices.cpp).
    bool isClassMember(libusb_device* dev);
    std::string productStringOf(libusb_device* dev, std::uint8_t iProduct);
    std::vector<libusb_device*> classDevices(const libusb_impl::DeviceList& list);
    std::set<std::uintptr_t> scanPresent();
    void processQueue();
    void poll();
    void deliver(const std::vector<DeviceChangeEvent>& events);
};

namespace libusb_impl {

// Queues arrivals and removals for the event thread (`user` is the Impl).
int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* dev, libusb_hotplug_event event, void* user);

}  // namespace libusb_impl

