#include "link/libusb_backend.h"

#include "link/box_usb_device.h"
#include "link/libusb_internal.h"

#include <algorithm>
#include <cstdio>

using namespace libusb_impl;

std::string usbAccessDeniedHelp(int bus, int address, std::uint16_t vendorId, std::uint16_t productId)
{
    char where[64];
    std::snprintf(where, sizeof where, "bus %03d device %03d (%04x:%04x)", bus, address, vendorId,
                  productId);
    return std::string(kAccessDeniedPrefix) + " on " + where +
           " was denied. Install the udev rule that comes with Quillmark, "
           "data/60-quillmark-box.rules, into /etc/udev/rules.d/, run "
           "'sudo udevadm control --reload && sudo udevadm trigger', "
           "then unplug the box and plug it in again.";
}

LibusbBackend::LibusbBackend() : LibusbBackend(Options{}) {}

LibusbBackend::LibusbBackend(const Options& options) : d_(std::make_shared<Impl>())
{
    d_->options = options;
    d_->start();
}

LibusbBackend::~LibusbBackend()
{
    d_->shutdown();
}

bool LibusbBackend::isReady() const
{
    return d_->ctx != nullptr;
}

std::string LibusbBackend::initError() const
{
    return d_->initError;
}

bool LibusbBackend::usesHotplug() const
{
    return d_->hotplug;
}

int LibusbBackend::deviceCount()
{
    if (!d_->ctx)
        return 0;
    DeviceList list(d_->ctx);
    return static_cast<int>(d_->classDevices(list).size());
}

std::unique_ptr<UsbDeviceHandle> LibusbBackend::open(int index, std::string* error)
{
    auto fail = [&](std::string text) -> std::unique_ptr<UsbDeviceHandle> {
        if (error)
            *error = std::move(text);
        return nullptr;
    };
    if (error)
        error->clear();
    if (!d_->ctx)
        return fail(d_->initError);
    DeviceList list(d_->ctx);
    const std::vector<libusb_device*> devices = d_->classDevices(list);
    if (index < 0 || index >= static_cast<int>(devices.size()))
        return fail("No USB device with index " + std::to_string(index) + ".");
    libusb_device* dev = devices[static_cast<std::size_t>(index)];
    libusb_device_descriptor dd{};
    libusb_get_device_descriptor(dev, &dd);

    libusb_device_handle* h = nullptr;
    int r = libusb_open(dev, &h);
    if (r == LIBUSB_ERROR_ACCESS)
        return fail(usbAccessDeniedHelp(libusb_get_bus_number(dev), libusb_get_device_address(dev),
                                        dd.idVendor, dd.idProduct));
    if (r != 0)
        return fail(describe(dev, "cannot be opened", r));

    auto s = std::make_shared<HandleState>();
    s->ctx = d_->ctx;
    s->eventThread = d_->eventThread;
    s->id = idOf(dev);
    readInfo(dev, h, s->info);

    // A kernel driver is pushed aside for the box only; another Cypress
    // device keeps its driver and is skipped by the search.
    if (libusb_kernel_driver_active(h, 0) == 1) {
        if (s->info.deviceName != kBoxDeviceName) {
            libusb_close(h);
            return fail(describe(dev, "is in use by a kernel driver", LIBUSB_ERROR_BUSY));
        }
        r = libusb_detach_kernel_driver(h, 0);
        if (r != 0) {
            libusb_close(h);
            return fail(describe(dev, "kernel driver cannot be detached", r));
        }
        s->detachedKernelDriver = true;
    }
    r = libusb_claim_interface(h, 0);
    if (r != 0) {
        if (s->detachedKernelDriver)
            libusb_attach_kernel_driver(h, 0);
        libusb_close(h);
        if (r == LIBUSB_ERROR_ACCESS)
            return fail(usbAccessDeniedHelp(libusb_get_bus_number(dev),
                                            libusb_get_device_address(dev), dd.idVendor, dd.idProduct));
        return fail(describe(dev, "interface 0 cannot be claimed", r));
    }
    s->info.currentAlternateSetting = currentAlternateSetting(h);
    s->handle = h;
    {
        std::lock_guard lock(d_->handlesMutex);
        auto& hs = d_->handles;
        hs.erase(std::remove_if(hs.begin(), hs.end(), [](auto& w) { return w.expired(); }), hs.end());
        hs.push_back(s);
    }
    return makeDeviceHandle(std::move(s));
}

void LibusbBackend::setChangeCallback(ChangeCallback callback)
{
    std::lock_guard lock(d_->deliveryMutex);
    d_->callback = std::move(callback);
}
