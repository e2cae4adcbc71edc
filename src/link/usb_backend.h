#pragma once
// The platform layer under the box link. Two implementations: libusb for the
// real box, and the simulated bus that carries the simulated box.
#include "link/completion_event.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct EndpointDescriptor {
    std::uint8_t length = 7;
    std::uint8_t descriptorType = 5;
    std::uint8_t address = 0;
    std::uint8_t attributes = 2;  // bits 0..1: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    std::uint16_t maxPacketSize = 512;
    std::uint8_t interval = 0;
};

struct InterfaceDescriptor {
    std::uint8_t number = 0;
    std::uint8_t alternateSetting = 0;
    std::vector<EndpointDescriptor> endpoints;
};

struct ConfigDescriptor {
    std::vector<InterfaceDescriptor> interfaces;
};

// What the link reads from a device when it opens it.
struct UsbDeviceInfo {
    std::array<std::uint8_t, 18> deviceDescriptor{};
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t language = 0x0409;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string deviceName;    // the name that marks the box
    std::string friendlyName;
    int usbAddress = 0;
    bool highSpeed = true;
    int currentAlternateSetting = 0;
    std::vector<ConfigDescriptor> configurations;
};

enum class TransferStatus {
    Pending,
    Completed,
    Error,      // I/O error reported by the device or the OS
    Stall,
    Cancelled,
    NoDevice,   // the device went away
};

// One asynchronous bulk transfer. The context owns its buffer, so nothing the
// device may still write into is freed while the transfer is pending, however
// long the caller has forgotten it.
struct TransferContext {
    std::uint8_t endpointAddress = 0;
    bool inbound = false;
    std::vector<std::uint8_t> buffer;
    std::shared_ptr<CompletionEvent> event;

    // Filled by the backend when the transfer ends; read after `done`.
    void complete(TransferStatus status, int actualLength);
    bool isDone() const;
    TransferStatus status() const;
    int actualLength() const;

    // Backend's own bookkeeping (libusb_transfer*, simulated queue entry, ...).
    std::shared_ptr<void> backendData;

private:
    mutable std::mutex mutex_;
    bool done_ = false;
    TransferStatus status_ = TransferStatus::Pending;
    int actual_ = 0;
};

// An open device. Destroying or closing it cancels every pending transfer.
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;
    virtual const UsbDeviceInfo& info() const = 0;
    // Starts the transfer; completes it with an error status when it cannot
    // be started. Completion may come on any thread.
    virtual void submit(const std::shared_ptr<TransferContext>& transfer) = 0;
    virtual void cancel(const std::shared_ptr<TransferContext>& transfer) = 0;
    virtual void close() = 0;
    // Identifies the physical device in removal notifications.
    virtual std::uintptr_t deviceId() const = 0;
};

struct DeviceChangeEvent {
    enum class Kind { Arrival, NodesChanged, RemovalComplete };
    Kind kind = Kind::NodesChanged;
    std::uintptr_t deviceId = 0;  // for RemovalComplete: the device that went away
};

// Open errors that start with this text mean the OS denied access to a
// device (a missing udev rule); the box search reports them to the user.
inline constexpr const char* kAccessDeniedPrefix = "Access to the USB device";

class UsbBackend {
public:
    using ChangeCallback = std::function<void(const DeviceChangeEvent&)>;
    virtual ~UsbBackend() = default;
    // Present devices of the box's class, counted afresh on every call.
    virtual int deviceCount() = 0;
    // Opens device `index`; null when it cannot be opened. `error` says why.
    virtual std::unique_ptr<UsbDeviceHandle> open(int index, std::string* error = nullptr) = 0;
    // Arrival and removal notifications; called from a backend thread.
    virtual void setChangeCallback(ChangeCallback callback) = 0;
};
