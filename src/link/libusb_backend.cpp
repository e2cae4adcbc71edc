#include "link/libusb_backend.h"

#include "link/box_usb_device.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// The box answers descriptor requests within this time; the FX2 firmware
// serves them from its own tables.
constexpr unsigned kControlTimeoutMs = 5000;
// Most configurations and interfaces (alternate settings included) kept.
constexpr int kMaxConfigurations = 2;
constexpr std::size_t kMaxInterfaces = 8;

std::string utf16leToUtf8(const unsigned char* p, int bytes)
{
    std::string out;
    const int units = bytes / 2;
    for (int i = 0; i < units; ++i) {
        std::uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const std::uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;  // unpaired surrogate
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// String descriptor 0 lists the languages; 0x0409 when offered, else the
// first one, 0 when the device has no strings.
std::uint16_t chooseLanguage(libusb_device_handle* h)
{
    unsigned char buf[255];
    const int n = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                          LIBUSB_DT_STRING << 8, 0, buf, sizeof buf, kControlTimeoutMs);
    if (n < 4 || buf[1] != LIBUSB_DT_STRING)
        return 0;
    const int len = std::min<int>(n, buf[0]);
    std::uint16_t first = 0;
    for (int i = 2; i + 1 < len; i += 2) {
        const std::uint16_t lang = static_cast<std::uint16_t>(buf[i] | (buf[i + 1] << 8));
        if (lang == 0x0409)
            return lang;
        if (!first)
            first = lang;
    }
    return first;
}

std::string readString(libusb_device_handle* h, std::uint8_t index, std::uint16_t lang)
{
    if (!index || !lang)
        return {};
    unsigned char buf[255];
    const int n = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                          static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index),
                                          lang, buf, sizeof buf, kControlTimeoutMs);
    if (n < 2 || buf[1] != LIBUSB_DT_STRING)
        return {};
    const int len = std::min<int>(n, buf[0]);
    return utf16leToUtf8(buf + 2, len - 2);
}

std::uintptr_t idOf(libusb_device* dev)
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

TransferStatus statusOf(libusb_transfer_status s)
{
    switch (s) {
    case LIBUSB_TRANSFER_COMPLETED: return TransferStatus::Completed;
    case LIBUSB_TRANSFER_STALL: return TransferStatus::Stall;
    case LIBUSB_TRANSFER_NO_DEVICE: return TransferStatus::NoDevice;
    case LIBUSB_TRANSFER_CANCELLED: return TransferStatus::Cancelled;
    default: return TransferStatus::Error;  // error, time-out, overflow
    }
}

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

void LIBUSB_CALL onTransferDone(libusb_transfer* x)
{
    auto* f = static_cast<InFlight*>(x->user_data);
    const TransferStatus status = statusOf(x->status);
    const int actual = x->actual_length;
    {
        std::lock_guard lock(f->owner->mutex);
        f->owner->inFlight.erase(f->context.get());
    }
    f->owner->idle.notify_all();
    f->context->complete(status, actual);
    libusb_free_transfer(x);
    delete f;
}

std::uint8_t HandleState::transferTypeOf(std::uint8_t address) const
{
    for (const ConfigDescriptor& c : info.configurations)
        for (const InterfaceDescriptor& itf : c.interfaces)
            if (itf.alternateSetting == info.currentAlternateSetting)
                for (const EndpointDescriptor& e : itf.endpoints)
                    if (e.address == address)
                        return e.attributes & 3;
    return LIBUSB_TRANSFER_TYPE_BULK;
}

void HandleState::submit(const std::shared_ptr<TransferContext>& t)
{
    if (!t)
        return;
    const std::uint8_t type = transferTypeOf(t->endpointAddress);
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        t->complete(TransferStatus::Error, 0);  // the box link makes bulk transfers only
        return;
    }
    libusb_transfer* x = nullptr;
    InFlight* f = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!handle || closing) {
            t->complete(TransferStatus::NoDevice, 0);
            return;
        }
        x = libusb_alloc_transfer(0);
        if (!x) {
            t->complete(TransferStatus::Error, 0);
            return;
        }
        f = new InFlight{t, shared_from_this(), x};
        // No libusb time-out: the caller bounds its wait and cancels.
        if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
            libusb_fill_interrupt_transfer(x, handle, t->endpointAddress, t->buffer.data(),
                                           static_cast<int>(t->buffer.size()), onTransferDone, f, 0);
        else
            libusb_fill_bulk_transfer(x, handle, t->endpointAddress, t->buffer.data(),
                                      static_cast<int>(t->buffer.size()), onTransferDone, f, 0);
        // Registered before the submit so that close() waits for it.
        inFlight[t.get()] = f;
    }
    const int r = libusb_submit_transfer(x);
    if (r == 0)
        return;
    {
        std::lock_guard lock(mutex);
        inFlight.erase(t.get());
    }
    idle.notify_all();
    libusb_free_transfer(x);
    delete f;
    t->complete(r == LIBUSB_ERROR_NO_DEVICE ? TransferStatus::NoDevice : TransferStatus::Error, 0);
}

void HandleState::cancel(const std::shared_ptr<TransferContext>& t)
{
    // Under the lock: the completion callback unregisters before it frees.
    std::lock_guard lock(mutex);
    auto it = inFlight.find(t.get());
    if (it != inFlight.end())
        libusb_cancel_transfer(it->second->transfer);
}

void HandleState::close()
{
    std::lock_guard closeLock(closeMutex);
    libusb_device_handle* h = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!handle)
            return;
        closing = true;
        h = handle;
    }
    // Every transfer must have called back before the handle goes: libusb
    // still owns them, and the device may still write into their buffers.
    const bool onEventThread = std::this_thread::get_id() == eventThread;
    for (;;) {
        std::unique_lock lock(mutex);
        if (inFlight.empty())
            break;
        // Repeated on each round: a submit racing the close may have
        // registered a transfer after the previous round.
        for (auto& entry : inFlight)
            libusb_cancel_transfer(entry.second->transfer);
        if (onEventThread) {
            // Called from a change notification: nobody else handles events.
            lock.unlock();
            timeval tv{0, 50000};
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        } else {
            idle.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    libusb_release_interface(h, 0);
    if (detachedKernelDriver)
        libusb_attach_kernel_driver(h, 0);
    libusb_close(h);
    std::lock_guard lock(mutex);
    handle = nullptr;
}

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    explicit LibusbDeviceHandle(std::shared_ptr<HandleState> s) : s_(std::move(s)) {}
    ~LibusbDeviceHandle() override { s_->close(); }
    const UsbDeviceInfo& info() const override { return s_->info; }
    void submit(const std::shared_ptr<TransferContext>& t) override { s_->submit(t); }
    void cancel(const std::shared_ptr<TransferContext>& t) override { s_->cancel(t); }
    void close() override { s_->close(); }
    std::uintptr_t deviceId() const override { return s_->id; }

private:
    std::shared_ptr<HandleState> s_;
};

}  // namespace

bool isBoxUsbId(std::uint16_t vendorId, std::uint16_t productId)
{
    return std::any_of(std::begin(kBoxUsbIds), std::end(kBoxUsbIds), [&](const UsbId& id) {
        return id.vendorId == vendorId && id.productId == productId;
    });
}

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
    std::vector<std::weak_ptr<HandleState>> handles;

    void start();
    void shutdown();
    void run();
    bool isClassMember(libusb_device* dev);
    std::string productStringOf(libusb_device* dev, std::uint8_t iProduct);
    std::vector<libusb_device*> classDevices(const DeviceList& list);
    std::set<std::uintptr_t> scanPresent();
    void processQueue();
    void poll();
    void deliver(const std::vector<DeviceChangeEvent>& events);
};

namespace {

int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* dev, libusb_hotplug_event event, void* user)
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

}  // namespace

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

void LibusbBackend::Impl::start()
{
    const int r = libusb_init(&ctx);
    if (r != 0) {
        ctx = nullptr;
        initError = std::string("libusb could not be initialised: ") + libusb_strerror(r);
        return;
    }
    if (!options.forcePolling && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        hotplug = libusb_hotplug_register_callback(
                      ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                      LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                      LIBUSB_HOTPLUG_MATCH_ANY, onHotplug, this, &hotplugHandle) == LIBUSB_SUCCESS;
    }
    // After registering, so that a device arriving meanwhile is not missed;
    // an arrival of a device already present is dropped in processQueue().
    std::set<std::uintptr_t> ids = scanPresent();
    {
        std::lock_guard lock(classMutex);
        present = std::move(ids);
    }
    thread = std::thread([this] { run(); });
    eventThread = thread.get_id();
}

void LibusbBackend::Impl::run()
{
    auto nextPoll = std::chrono::steady_clock::now() + options.pollInterval;
    while (!stop.load()) {
        timeval tv{0, 100000};
        libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        if (stop.load())
            break;
        processQueue();
        if (!hotplug && std::chrono::steady_clock::now() >= nextPoll) {
            poll();
            nextPoll = std::chrono::steady_clock::now() + options.pollInterval;
        }
    }
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

void LibusbBackend::Impl::shutdown()
{
    if (!ctx)
        return;
    // Handles still open are closed while the event thread still runs: their
    // cancelled transfers need it to call back.
    std::vector<std::shared_ptr<HandleState>> open;
    {
        std::lock_guard lock(handlesMutex);
        for (auto& w : handles)
            if (auto s = w.lock())
                open.push_back(std::move(s));
        handles.clear();
    }
    for (auto& s : open)
        s->close();

    stop = true;
    libusb_interrupt_event_handler(ctx);
    if (thread.joinable())
        thread.join();
    if (hotplug)
        libusb_hotplug_deregister_callback(ctx, hotplugHandle);
    for (const RawChange& c : queue)
        if (c.device)
            libusb_unref_device(c.device);
    queue.clear();
    libusb_exit(ctx);
    ctx = nullptr;
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

namespace {

void readInfo(libusb_device* dev, libusb_device_handle* h, UsbDeviceInfo& info)
{
    libusb_device_descriptor dd{};
    libusb_get_device_descriptor(dev, &dd);
    auto& raw = info.deviceDescriptor;
    raw = {dd.bLength,
           dd.bDescriptorType,
           static_cast<std::uint8_t>(dd.bcdUSB & 0xFF),
           static_cast<std::uint8_t>(dd.bcdUSB >> 8),
           dd.bDeviceClass,
           dd.bDeviceSubClass,
           dd.bDeviceProtocol,
           dd.bMaxPacketSize0,
           static_cast<std::uint8_t>(dd.idVendor & 0xFF),
           static_cast<std::uint8_t>(dd.idVendor >> 8),
           static_cast<std::uint8_t>(dd.idProduct & 0xFF),
           static_cast<std::uint8_t>(dd.idProduct >> 8),
           static_cast<std::uint8_t>(dd.bcdDevice & 0xFF),
           static_cast<std::uint8_t>(dd.bcdDevice >> 8),
           dd.iManufacturer,
           dd.iProduct,
           dd.iSerialNumber,
           dd.bNumConfigurations};
    info.vendorId = dd.idVendor;
    info.productId = dd.idProduct;
    info.usbAddress = libusb_get_device_address(dev);
    info.highSpeed = libusb_get_device_speed(dev) >= LIBUSB_SPEED_HIGH;

    info.language = chooseLanguage(h);
    info.manufacturer = readString(h, dd.iManufacturer, info.language);
    info.product = readString(h, dd.iProduct, info.language);
    info.serialNumber = readString(h, dd.iSerialNumber, info.language);
    info.deviceName = info.product;
    if (info.deviceName.empty() && isBoxUsbId(dd.idVendor, dd.idProduct))
        info.deviceName = kBoxDeviceName;  // firmware without strings
    info.friendlyName = info.deviceName;

    info.configurations.clear();
    for (int c = 0; c < std::min<int>(dd.bNumConfigurations, kMaxConfigurations); ++c) {
        libusb_config_descriptor* cfg = nullptr;
        if (libusb_get_config_descriptor(dev, static_cast<std::uint8_t>(c), &cfg) != 0)
            break;
        ConfigDescriptor config;
        for (int i = 0; i < cfg->bNumInterfaces; ++i) {
            const libusb_interface& itf = cfg->interface[i];
            for (int a = 0; a < itf.num_altsetting && config.interfaces.size() < kMaxInterfaces; ++a) {
                const libusb_interface_descriptor& alt = itf.altsetting[a];
                InterfaceDescriptor out;
                out.number = alt.bInterfaceNumber;
                out.alternateSetting = alt.bAlternateSetting;
                for (int e = 0; e < alt.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                    out.endpoints.push_back({ep.bLength, ep.bDescriptorType, ep.bEndpointAddress,
                                             ep.bmAttributes, ep.wMaxPacketSize, ep.bInterval});
                }
                config.interfaces.push_back(std::move(out));
            }
        }
        libusb_free_config_descriptor(cfg);
        info.configurations.push_back(std::move(config));
    }
}

// GET_INTERFACE on interface 0; 0 when the device does not answer.
int currentAlternateSetting(libusb_device_handle* h)
{
    unsigned char alt = 0;
    const int n = libusb_control_transfer(
        h, 0x81 /* device-to-host, standard, interface */, LIBUSB_REQUEST_GET_INTERFACE, 0, 0, &alt, 1, kControlTimeoutMs);
    return n == 1 ? alt : 0;
}

std::string describe(libusb_device* dev, const char* what, int err)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "USB device on bus %03d device %03d: %s (%s)",
                  libusb_get_bus_number(dev), libusb_get_device_address(dev), what,
                  libusb_strerror(err));
    return buf;
}

}  // namespace

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
    return std::make_unique<LibusbDeviceHandle>(std::move(s));
}

void LibusbBackend::setChangeCallback(ChangeCallback callback)
{
    std::lock_guard lock(d_->deliveryMutex);
    d_->callback = std::move(callback);
}
