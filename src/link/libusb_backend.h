#pragma once
// The box link on real hardware: libusb-1.0 with asynchronous bulk transfers,
// hotplug notifications (or a polling fallback) and one event thread.
//
// Devices of the box's class are those a Cypress FX2 can show up as: every
// device with Cypress's vendor id 04B4, every device on the VID:PID table
// below, and any other device whose product string is the box's name. The
// box itself is the one among them whose product string is kBoxDeviceName,
// or a device on the VID:PID table that has no product string at all.
#include "link/usb_backend.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct UsbId {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

// Cypress's vendor id.
inline constexpr std::uint16_t kCypressVendorId = 0x04B4;

// VID:PIDs the box's firmware runs under: 04B4:1004 is the id of Cypress's FX2
// example firmware that the box's GPIF-to-FIFO firmware derives from; 04B4:8613
// is the FX2LP's own id, which a box keeps when its EEPROM image carries no
// descriptors of its own. Keep in step with data/60-quillmark-box.rules.
inline constexpr UsbId kBoxUsbIds[] = {
    {0x04B4, 0x1004},
    {0x04B4, 0x8613},
};

bool isBoxUsbId(std::uint16_t vendorId, std::uint16_t productId);

// Identity of a physical device while it stays plugged in: bus << 8 | address.
// The same value in removal notifications and in UsbDeviceHandle::deviceId.
constexpr std::uintptr_t usbDeviceId(int bus, int address)
{
    return (static_cast<std::uintptr_t>(bus & 0xFF) << 8) | static_cast<std::uintptr_t>(address & 0xFF);
}

// Text of the `error` out-parameter of open() when the OS denies access.
std::string usbAccessDeniedHelp(int bus, int address, std::uint16_t vendorId, std::uint16_t productId);

class LibusbBackend : public UsbBackend {
public:
    struct Options {
        // Compare the device list this often when the platform has no hotplug
        // support (or when forced).
        std::chrono::milliseconds pollInterval{500};
        bool forcePolling = false;
    };

    LibusbBackend();
    explicit LibusbBackend(const Options& options);
    // Closes every handle still open and stops the event thread.
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    // False when libusb could not be initialised; the backend then sees no devices.
    bool isReady() const;
    std::string initError() const;
    // True when arrival and removal come from libusb's hotplug callbacks.
    bool usesHotplug() const;

    int deviceCount() override;
    // Opens device `index` of deviceCount()'s list (ordered by bus and port)
    // and claims interface 0. A denied access puts the udev rule's
    // installation steps into `error`.
    std::unique_ptr<UsbDeviceHandle> open(int index, std::string* error = nullptr) override;
    // Notifications run on the event thread, outside every libusb callback, so
    // the receiver may open and close devices from them. Replacing the
    // callback waits for a notification in progress: the receiver must not
    // wait for the thread that replaces it.
    void setChangeCallback(ChangeCallback callback) override;

    struct Impl;

private:
    std::shared_ptr<Impl> d_;
};
