// The box's class of devices: which devices belong to it, the ordered
// list that open() indexes, and the arrivals and removals seen by hotplug
// callbacks or by polling, delivered as notifications.
#include "link/libusb_internal.h"

#include "link/box_usb_device.h"

#include <algorithm>
#include <tuple>

using namespace libusb_impl;

bool isBoxUsbId(std::uint16_t vendorId, std::uint16_t productId)
{
    return std::any_of(std::begin(kBoxUsbIds), std::end(kBoxUsbIds), [&](const UsbId& id) {
        return id.vendorId == vendorId && id.productId == productId;
    });
}

int LIBUSB_CALL libusb_impl::onHotplug(libusb_context*, libusb_device* dev, libusb_hotplug_event event, void* user)
{
    auto* d = static_cast<LibusbBackend::Impl*>(user);
    LibusbBackend::Impl::RawChange c;
    c.arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    c.id = idOf(dev);
    if (c.arrived)
        c.device = libusb_ref_device(dev);
    std::lock_guard lock(d->queueMutex);
    d->queue.push_back(c);
    return 0;  // stay registered
}

std::string LibusbBackend::Impl::productStringOf(libusb_device* dev, std::uint8_t iProduct)
{
    const std::uintptr_t id = idOf(dev);
    {
        std::lock_guard lock(classMutex);
        auto it = productCache.find(id);
        if (it != productCache.end())
            return it->second;
    }
    std::string product;
    libusb_device_handle* h = nullptr;
    if (libusb_open(dev, &h) == 0) {
        product = readString(h, iProduct, chooseLanguage(h));
        libusb_close(h);
    }
    std::lock_guard lock(classMutex);
    productCache[id] = product;
    return product;
}

bool LibusbBackend::Impl::isClassMember(libusb_device* dev)
{
    libusb_device_descriptor dd;
    if (libusb_get_device_descriptor(dev, &dd) != 0)
        return false;
    if (dd.idVendor == kCypressVendorId || isBoxUsbId(dd.idVendor, dd.idProduct))
        return true;
    // Anything else counts only when it names itself the box; hubs never do.
    if (dd.bDeviceClass == LIBUSB_CLASS_HUB || dd.iProduct == 0)
        return false;
    return productStringOf(dev, dd.iProduct) == kBoxDeviceName;
}

std::vector<libusb_device*> LibusbBackend::Impl::classDevices(const DeviceList& list)
{
    struct Entry {
        libusb_device* dev;
        int bus;
        std::vector<std::uint8_t> ports;
        int address;
    };
    std::vector<Entry> found;
    for (libusb_device* dev : list) {
        if (!isClassMember(dev))
            continue;
        std::uint8_t ports[8];
        const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
        found.push_back({dev, libusb_get_bus_number(dev),
                         std::vector<std::uint8_t>(ports, ports + std::max(n, 0)),
                         libusb_get_device_address(dev)});
    }
    // Indexes stay put between deviceCount() and open(): order by where the
    // device is plugged in, not by libusb's list order.
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.bus, a.ports, a.address) < std::tie(b.bus, b.ports, b.address);
    });
    std::vector<libusb_device*> out;
    for (const Entry& e : found)
        out.push_back(e.dev);
    return out;
}

std::set<std::uintptr_t> LibusbBackend::Impl::scanPresent()
{
    DeviceList list(ctx);
    std::set<std::uintptr_t> ids;
    for (libusb_device* dev : classDevices(list))
        ids.insert(idOf(dev));
    return ids;
}

void LibusbBackend::Impl::processQueue()
{
    std::vector<RawChange> batch;
    {
        std::lock_guard lock(queueMutex);
        batch.swap(queue);
    }
    if (batch.empty())
        return;
    std::vector<DeviceChangeEvent> events;
    for (const RawChange& c : batch) {
        if (c.arrived) {
            // May read the product string: outside libusb's callbacks only.
            const bool member = isClassMember(c.device);
            libusb_unref_device(c.device);
            std::lock_guard lock(classMutex);
            if (member && present.insert(c.id).second) {
                events.push_back({DeviceChangeEvent::Kind::Arrival, c.id});
                events.push_back({DeviceChangeEvent::Kind::NodesChanged, 0});
            }
        } else {
            std::lock_guard lock(classMutex);
            productCache.erase(c.id);
            if (present.erase(c.id)) {
                events.push_back({DeviceChangeEvent::Kind::RemovalComplete, c.id});
                events.push_back({DeviceChangeEvent::Kind::NodesChanged, 0});
            }
        }
    }
    deliver(events);
}

void LibusbBackend::Impl::poll()
{
    // Without hotplug the list is the only witness; a device whose address
    // changed between two looks is a removal and an arrival.
    const std::set<std::uintptr_t> now = scanPresent();
    std::vector<DeviceChangeEvent> events;
    {
        std::lock_guard lock(classMutex);
        for (std::uintptr_t id : present) {
            if (!now.count(id)) {
                productCache.erase(id);
                events.push_back({DeviceChangeEvent::Kind::RemovalComplete, id});
                events.push_back({DeviceChangeEvent::Kind::NodesChanged, 0});
            }
        }
        for (std::uintptr_t id : now) {
            if (!present.count(id)) {
                events.push_back({DeviceChangeEvent::Kind::Arrival, id});
                events.push_back({DeviceChangeEvent::Kind::NodesChanged, 0});
            }
        }
        present = now;
    }
    deliver(events);
}

void LibusbBackend::Impl::deliver(const std::vector<DeviceChangeEvent>& events)
{
    for (const DeviceChangeEvent& e : events) {
        std::lock_guard lock(deliveryMutex);
        if (!callback)
            return;
        ChangeCallback cb = callback;  // the callback may replace itself
        cb(e);
    }
}
