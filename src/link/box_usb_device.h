#pragma once
// The box device object: finds devices on the backend, opens one, builds its
// endpoint objects and forwards arrival and removal notifications.
#include "link/usb_backend.h"
#include "link/usb_endpoint.h"

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// The device name that marks the box.
inline constexpr const char* kBoxDeviceName =
    "EZ-USB FX2 GPIF to Ext FIFO Example using Single Transactions";
inline constexpr std::uint8_t kBoxInAddress = 0x86;
inline constexpr std::uint8_t kBoxOutAddress = 0x02;

class BoxUsbDevice {
public:
    using NotifyCallback = std::function<void(const DeviceChangeEvent&)>;

    // Registers `notify` for arrival and removal notifications; opens device
    // 0 at once when `openNow` is set.
    BoxUsbDevice(std::shared_ptr<UsbBackend> backend, NotifyCallback notify, bool openNow);
    ~BoxUsbDevice();
    BoxUsbDevice(const BoxUsbDevice&) = delete;
    BoxUsbDevice& operator=(const BoxUsbDevice&) = delete;

    int deviceCount();
    bool open(int index);
    void close();
    bool isOpen() const;
    std::string deviceName() const;
    std::string lastOpenError() const;
    UsbDeviceInfo info() const;
    // Identity of the open device, compared with removal notifications.
    std::uintptr_t openDeviceId() const;

    // Address 0: the control endpoint; otherwise the endpoint of the current
    // interface with that address, or null.
    std::shared_ptr<CCyUSBEndPoint> endpointOf(std::uint8_t address) const;

    // First endpoints of each kind in the current interface (null when absent).
    std::shared_ptr<CCyUSBEndPoint> bulkInEndpoint, bulkOutEndpoint, interruptInEndpoint,
        interruptOutEndpoint, isocInEndpoint, isocOutEndpoint;

private:
    void buildEndpoints();

    std::shared_ptr<UsbBackend> backend_;
    NotifyCallback notify_;
    mutable std::mutex mutex_;
    std::shared_ptr<UsbDeviceHandle> handle_;
    UsbDeviceInfo info_;
    std::string lastOpenError_;
    std::shared_ptr<CCyUSBEndPoint> controlEndpoint_;
    std::vector<std::shared_ptr<CCyUSBEndPoint>> endpoints_;  // of the current interface
};
