#include "mock_box.h"

#include "urb_bridge.h"

#include "link/box_usb_device.h"

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

std::uint8_t lo(unsigned v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(unsigned v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

usbdevfs_urb* kernelUrb(UMockdevIoctlData* d) { return reinterpret_cast<usbdevfs_urb*>(d->data); }

bool isBulkEndpoint(unsigned endpoint) { return endpoint == kBoxOutAddress || endpoint == kBoxInAddress; }

constexpr std::chrono::microseconds kIdleReapPause{200};

// What the kernel reports for usbdevfs on a current kernel.
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

}  // namespace

MockBox::MockBox(UMockdevTestbed* testbed, MockBoxParams params) : testbed_(testbed), params_(std::move(params))
{
    if (params_.product.empty())
        params_.product = kBoxDeviceName;
    // sysfs values end in a newline, as the kernel writes them. Without the
    // "dev" number umockdev creates no device node.
    char node[64], vid[8], pid[8], bus[8], dev[8], speed[16], number[32], product[300];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", params_.bus, params_.address);
    std::snprintf(vid, sizeof vid, "%04x\n", params_.vendorId);
    std::snprintf(pid, sizeof pid, "%04x\n", params_.productId);
    std::snprintf(bus, sizeof bus, "%d\n", params_.bus);
    std::snprintf(dev, sizeof dev, "%d\n", params_.address);
    std::snprintf(speed, sizeof speed, "%d\n", params_.speed);
    std::snprintf(number, sizeof number, "189:%d\n", (params_.bus - 1) * 128 + params_.address - 1);
    std::snprintf(product, sizeof product, "%s\n", params_.product.c_str());
    devNode_ = node;

    gchar* path = umockdev_testbed_add_device(
        testbed_, "usb", params_.sysName.c_str(), nullptr,
        // sysfs attributes
        "dev", number, "busnum", bus, "devnum", dev, "speed", speed, "idVendor", vid, "idProduct",
        pid, "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "product", product, nullptr,
        // udev properties
        "DEVNAME", node, "DEVTYPE", "usb_device", nullptr);
    if (!path)
        throw std::runtime_error("umockdev could not add the device");
    sysPath_ = path;
    g_free(path);

    std::vector<std::uint8_t> descriptors = deviceDescriptor();
    const std::vector<std::uint8_t> config = configDescriptor();
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    umockdev_testbed_set_attribute_binary(testbed_, sysPath_.c_str(), "descriptors", descriptors.data(),
                                          static_cast<gint>(descriptors.size()));

    // umockdev records the node's number but leaves the node itself to us;
    // opening it reaches the ioctl handler once one is attached.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string nodePath = std::string(root) + devNode_;
    g_free(root);
    gchar* dir = g_path_get_dirname(nodePath.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    g_file_set_contents(nodePath.c_str(), "", 0, nullptr);

    if (params_.firmware)
        bridge_ = std::make_unique<UrbBridge>(params_.firmware);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&MockBox::onIoctl), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devNode_.c_str(), handler_, &error)) {
        std::string what = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not attach the ioctl handler: " + what);
    }
    // The "add" uevent of add_device went out before the descriptors were
    // there; announce the device again now that it is complete.
    umockdev_testbed_uevent(testbed_, sysPath_.c_str(), "add");
}

MockBox::~MockBox()
{
    GError* error = nullptr;
    if (!gone_)
        umockdev_testbed_detach_ioctl(testbed_, devNode_.c_str(), &error);
    g_clear_error(&error);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    std::lock_guard lock(mutex_);
    bridge_.reset();
    for (Urb& u : withheldIn_)
        u.release();
    for (Urb& u : reapable_)
        u.release();
}

std::vector<std::uint8_t> MockBox::deviceDescriptor() const
{
    const bool s = params_.strings;
    return {18, 1, 0x00, 0x02, 0, 0, 0, 64,
            lo(params_.vendorId), hi(params_.vendorId), lo(params_.productId), hi(params_.productId),
            0x00, 0xA0, std::uint8_t(s ? 1 : 0), std::uint8_t(s ? 2 : 0), std::uint8_t(s ? 3 : 0), 1};
}

std::vector<std::uint8_t> MockBox::configDescriptor() const
{
    // One interface, vendor class, bulk OUT 0x02 and bulk IN 0x86 of 512 bytes.
    return {9, 2, 32, 0, 1, 1, 0, 0x80, 50,
            9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
            7, 5, 0x02, 2, lo(512), hi(512), 0,
            7, 5, 0x86, 2, lo(512), hi(512), 0};
}

std::vector<std::uint8_t> MockBox::stringDescriptor(int index) const
{
    std::vector<std::uint8_t> d{0, 3};
    if (index == 0) {
        for (std::uint16_t lang : params_.languages) {
            d.push_back(lo(lang));
            d.push_back(hi(lang));
        }
    } else {
        const std::string* text = index == 1 ? &params_.manufacturer
                                  : index == 2 ? &params_.product
                                  : index == 3 ? &params_.serial
                                               : nullptr;
        if (!text)
            return {};
        for (char c : *text) {
            d.push_back(static_cast<std::uint8_t>(c));
            d.push_back(0);
        }
    }
    d[0] = static_cast<std::uint8_t>(d.size());
    return d;
}

gboolean MockBox::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    return static_cast<MockBox*>(self)->handle(client) ? TRUE : FALSE;
}

bool MockBox::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock lock(mutex_);

    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        if (bridge_) {
            bridge_->collect(reapable_, !holdIn_ || releaseIn_);
            releaseIn_ = false;
            if (reapable_.empty() && !gone_ && idleReaps_++ > 0) {
                // The emulated node polls writable at all times, so libusb's
                // event thread reaps in a loop. A kernel would make it sleep
                // until a URB completes; a short pause after the second idle
                // reap in a row keeps it (and this handler thread, which
                // serves every request in turn) from taking two cores away
                // from the box and the bench, without slowing a burst of
                // submits. It is far below every wait of the bench.
                lock.unlock();
                std::this_thread::sleep_for(kIdleReapPause);
                lock.lock();
                bridge_->collect(reapable_, !holdIn_ || releaseIn_);
                releaseIn_ = false;
            }
        }
        if (!reapable_.empty())
            idleReaps_ = 0;
        if (reapable_.empty()) {
            // REAPURB would block; libusb only ever asks without delay.
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
            return true;
        }
        Urb u = reapable_.front();
        reapable_.pop_front();
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        u.release();
        return true;
    }
    idleReaps_ = 0;
    if (gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
    } else if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE) {
        claimed_ = request == USBDEVFS_CLAIMINTERFACE;
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (request == USBDEVFS_GETDRIVER) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
    } else if (request == USBDEVFS_SUBMITURB) {
        submit(client, arg);
    } else if (request == USBDEVFS_DISCARDURB) {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        if (bridge_) {
            // EINVAL: given back already (completed, or about to be reaped).
            const bool discarded = bridge_->discard(address);
            releaseIn_ = true;
            discards_ += discarded ? 1 : 0;
            umockdev_ioctl_client_complete(client, discarded ? 0 : -1, discarded ? 0 : EINVAL);
            return true;
        }
        auto it = std::find_if(withheldIn_.begin(), withheldIn_.end(),
                               [&](const Urb& u) { return u.clientAddress == address; });
        if (it == withheldIn_.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);  // already given back
        } else {
            Urb u = *it;
            withheldIn_.erase(it);
            ++discards_;
            finish(u, -ECONNRESET, 0);
            umockdev_ioctl_client_complete(client, 0, 0);
        }
    } else {
        unhandled_.push_back(request);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    return true;
}

void MockBox::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    Urb u;
    u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!u.urb) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    u.clientAddress = u.urb->client_addr;
    const usbdevfs_urb* k = kernelUrb(u.urb);
    if (k->buffer_length > 0)
        u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer),
                                               static_cast<gsize>(k->buffer_length), nullptr);
    const unsigned type = k->type;
    const unsigned endpoint = k->endpoint;

    if (type == USBDEVFS_URB_TYPE_CONTROL && endpoint == 0 && u.buffer && k->buffer_length >= 8) {
        control(u);
    } else if (bridge_ && type == USBDEVFS_URB_TYPE_BULK && isBulkEndpoint(endpoint)) {
        bridge_->submit(u);
    } else if (type == USBDEVFS_URB_TYPE_BULK && endpoint == 0x02) {
        out_.emplace_back(u.buffer->data, u.buffer->data + k->buffer_length);
        finish(u, 0, k->buffer_length);
    } else if (type == USBDEVFS_URB_TYPE_BULK && endpoint == 0x86) {
        if (stallIn_)
            finish(u, -EPIPE, 0);
        else if (!inData_.empty())
            fillIn(u);
        else
            withheldIn_.push_back(u);
    } else {
        u.release();
        umockdev_ioctl_client_complete(client, -1, EINVAL);  // no such endpoint
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void MockBox::control(Urb& u)
{
    std::uint8_t* b = u.buffer->data;
    const unsigned requestType = b[0], request = b[1];
    const unsigned value = b[2] | (b[3] << 8), length = b[6] | (b[7] << 8);
    std::vector<std::uint8_t> reply;
    bool ok = true;
    if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR
        switch (value >> 8) {
        case 1: reply = deviceDescriptor(); break;
        case 2: reply = configDescriptor(); break;
        case 3: reply = params_.strings ? stringDescriptor(value & 0xFF) : std::vector<std::uint8_t>{}; break;
        default: break;
        }
        ok = !reply.empty();
    } else if (requestType == 0x81 && request == 10) {  // GET_INTERFACE
        reply = {0};
    } else {
        ok = false;
    }
    if (!ok) {
        finish(u, -EPIPE, 0);  // the FX2 stalls endpoint 0 on requests it does not know
        return;
    }
    const std::size_t room = static_cast<std::size_t>(kernelUrb(u.urb)->buffer_length) - 8;
    const std::size_t n = std::min({reply.size(), std::size_t(length), room});
    std::memcpy(b + 8, reply.data(), n);
    finish(u, 0, static_cast<int>(n));
}

void MockBox::fillIn(Urb& u)
{
    const std::size_t n = std::min(inData_.size(), static_cast<std::size_t>(kernelUrb(u.urb)->buffer_length));
    std::copy_n(inData_.begin(), n, u.buffer->data);
    inData_.erase(inData_.begin(), inData_.begin() + static_cast<std::ptrdiff_t>(n));
    finish(u, 0, static_cast<int>(n));
}

void MockBox::finish(Urb u, int status, int actualLength)
{
    u.finish(status, actualLength);
    reapable_.push_back(u);
}

void MockBox::supplyIn(const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(mutex_);
    inData_.insert(inData_.end(), bytes.begin(), bytes.end());
    while (!withheldIn_.empty() && !inData_.empty()) {
        Urb u = withheldIn_.front();
        withheldIn_.pop_front();
        fillIn(u);
    }
}

void MockBox::setStallIn(bool stall)
{
    std::lock_guard lock(mutex_);
    stallIn_ = stall;
}

void MockBox::unplug()
{
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
        if (bridge_)
            bridge_->unplug();
        while (!withheldIn_.empty()) {
            Urb u = withheldIn_.front();
            withheldIn_.pop_front();
            finish(u, -ENODEV, 0);
        }
    }
    umockdev_testbed_uevent(testbed_, sysPath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysPath_.c_str());
}

std::vector<std::vector<std::uint8_t>> MockBox::outTransfers() const
{
    std::lock_guard lock(mutex_);
    return out_;
}

void MockBox::holdFinishedInUntilDiscard(bool on)
{
    std::lock_guard lock(mutex_);
    holdIn_ = on;
}

bool MockBox::isPlugged() const
{
    std::lock_guard lock(mutex_);
    return !gone_;
}

int MockBox::withheldInCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(withheldIn_.size());
}

int MockBox::discardCount() const
{
    std::lock_guard lock(mutex_);
    return discards_;
}

bool MockBox::interfaceClaimed() const
{
    std::lock_guard lock(mutex_);
    return claimed_;
}

std::vector<unsigned long> MockBox::unhandledRequests() const
{
    std::lock_guard lock(mutex_);
    return unhandled_;
}
