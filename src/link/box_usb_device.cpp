#include "link/box_usb_device.h"

BoxUsbDevice::BoxUsbDevice(std::shared_ptr<UsbBackend> backend, NotifyCallback notify, bool openNow)
    : backend_(std::move(backend)), notify_(std::move(notify))
{
    backend_->setChangeCallback([this](const DeviceChangeEvent& e) {
        if (notify_)
            notify_(e);
    });
    if (openNow)
        open(0);
}

BoxUsbDevice::~BoxUsbDevice()
{
    close();
    backend_->setChangeCallback(nullptr);
}

int BoxUsbDevice::deviceCount()
{
    return backend_->deviceCount();
}

bool BoxUsbDevice::open(int index)
{
    close();
    index &= 0xFF;  // the device index is an 8-bit number
    if (index >= deviceCount())
        return false;
    std::string error;
    std::unique_ptr<UsbDeviceHandle> h = backend_->open(index, &error);
    std::lock_guard lock(mutex_);
    lastOpenError_ = error;
    if (!h)
        return false;
    if (h->info().configurations.empty()) {
        h->close();
        return false;
    }
    handle_ = std::shared_ptr<UsbDeviceHandle>(std::move(h));
    info_ = handle_->info();
    buildEndpoints();
    return true;
}

void BoxUsbDevice::buildEndpoints()
{
    EndpointDescriptor ep0;
    ep0.address = 0;
    ep0.attributes = 0;
    ep0.maxPacketSize = info_.deviceDescriptor[7];
    controlEndpoint_ = makeEndpoint(handle_, ep0);

    // The current interface: the first interface of the first configuration
    // whose alternate setting is the one the device reports as current.
    const InterfaceDescriptor* current = nullptr;
    for (const InterfaceDescriptor& itf : info_.configurations.front().interfaces) {
        if (itf.alternateSetting == info_.currentAlternateSetting) {
            current = &itf;
            break;
        }
    }
    if (!current)
        return;
    for (const EndpointDescriptor& d : current->endpoints) {
        auto ep = makeEndpoint(handle_, d);
        const bool in = (d.address & 0x80) != 0;
        auto firstOf = [&](std::shared_ptr<CCyUSBEndPoint>& slot) {
            if (!slot)
                slot = ep;
        };
        switch (d.attributes & 3) {
        case 1: firstOf(in ? isocInEndpoint : isocOutEndpoint); break;
        case 2: firstOf(in ? bulkInEndpoint : bulkOutEndpoint); break;
        case 3: firstOf(in ? interruptInEndpoint : interruptOutEndpoint); break;
        default: break;
        }
        endpoints_.push_back(std::move(ep));
    }
}

void BoxUsbDevice::close()
{
    std::shared_ptr<UsbDeviceHandle> h;
    {
        std::lock_guard lock(mutex_);
        h = std::move(handle_);
        handle_.reset();
        endpoints_.clear();
        controlEndpoint_.reset();
        bulkInEndpoint.reset();
        bulkOutEndpoint.reset();
        interruptInEndpoint.reset();
        interruptOutEndpoint.reset();
        isocInEndpoint.reset();
        isocOutEndpoint.reset();
        info_ = UsbDeviceInfo{};
    }
    // Cancels every pending transfer; waiting workers wake with an error.
    if (h)
        h->close();
}

bool BoxUsbDevice::isOpen() const
{
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

std::string BoxUsbDevice::deviceName() const
{
    std::lock_guard lock(mutex_);
    return info_.deviceName;
}

std::string BoxUsbDevice::lastOpenError() const
{
    std::lock_guard lock(mutex_);
    return lastOpenError_;
}

UsbDeviceInfo BoxUsbDevice::info() const
{
    std::lock_guard lock(mutex_);
    return info_;
}

std::uintptr_t BoxUsbDevice::openDeviceId() const
{
    std::lock_guard lock(mutex_);
    return handle_ ? handle_->deviceId() : 0;
}

std::shared_ptr<CCyUSBEndPoint> BoxUsbDevice::endpointOf(std::uint8_t address) const
{
    std::lock_guard lock(mutex_);
    if (address == 0)
        return controlEndpoint_;
    for (const auto& ep : endpoints_)
        if (ep->address == address)
            return ep;
    return nullptr;
}
