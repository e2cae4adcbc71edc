#include "simbox/sim_bus.h"

#include <algorithm>

namespace {

// An open simulated device. Tracks its transfers so close() can cancel them.
class SimDeviceHandle : public UsbDeviceHandle {
public:
    SimDeviceHandle(std::shared_ptr<SimDevice> device, std::uint64_t attachment, UsbDeviceInfo info)
        : device_(std::move(device)), attachment_(attachment), info_(std::move(info))
    {
    }
    ~SimDeviceHandle() override { close(); }

    const UsbDeviceInfo& info() const override { return info_; }

    void submit(const std::shared_ptr<TransferContext>& t) override
    {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                t->complete(TransferStatus::NoDevice, 0);
                return;
            }
            std::erase_if(transfers_, [](const std::weak_ptr<TransferContext>& w) {
                auto s = w.lock();
                return !s || s->isDone();
            });
            transfers_.push_back(t);
        }
        device_->submit(t, attachment_);
    }

    void cancel(const std::shared_ptr<TransferContext>& t) override { device_->cancel(t); }

    void close() override
    {
        std::vector<std::weak_ptr<TransferContext>> pending;
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return;
            closed_ = true;
            pending.swap(transfers_);
        }
        for (auto& w : pending)
            if (auto t = w.lock())
                device_->cancel(t);
    }

    std::uintptr_t deviceId() const override { return static_cast<std::uintptr_t>(attachment_); }

private:
    std::shared_ptr<SimDevice> device_;
    std::uint64_t attachment_;
    UsbDeviceInfo info_;
    std::mutex mutex_;
    bool closed_ = false;
    std::vector<std::weak_ptr<TransferContext>> transfers_;
};

}  // namespace

// ---------------------------------------------------------------------------

SimOtherDevice::SimOtherDevice(std::string deviceName, std::vector<EndpointDescriptor> endpoints)
{
    info_.deviceDescriptor = {0x12, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x40, 0xB4,
                              0x04, 0x02, 0x10, 0x00, 0x00, 0x01, 0x02, 0x00, 0x01};
    info_.vendorId = 0x04B4;
    info_.productId = 0x1002;
    info_.manufacturer = "Cypress";
    info_.product = deviceName;
    info_.deviceName = deviceName;
    info_.friendlyName = deviceName;
    InterfaceDescriptor itf;
    itf.endpoints = std::move(endpoints);
    ConfigDescriptor cfg;
    cfg.interfaces.push_back(std::move(itf));
    info_.configurations.push_back(std::move(cfg));
}

UsbDeviceInfo SimOtherDevice::descriptors() const
{
    return info_;
}

void SimOtherDevice::submit(const std::shared_ptr<TransferContext>& t, std::uint64_t attachment)
{
    std::lock_guard lock(mutex_);
    if (attachment == 0 || attachment != attachment_) {
        t->complete(TransferStatus::NoDevice, 0);
        return;
    }
    if (t->inbound)
        pendingIn_.push_back(t);  // this device never sends anything
    else
        t->complete(TransferStatus::Completed, static_cast<int>(t->buffer.size()));
}

void SimOtherDevice::cancel(const std::shared_ptr<TransferContext>& t)
{
    std::lock_guard lock(mutex_);
    std::erase(pendingIn_, t);
    t->complete(TransferStatus::Cancelled, 0);
}

void SimOtherDevice::attached(std::uint64_t attachment)
{
    std::lock_guard lock(mutex_);
    attachment_ = attachment;
}

void SimOtherDevice::detached()
{
    std::lock_guard lock(mutex_);
    attachment_ = 0;
    for (auto& t : pendingIn_)
        t->complete(TransferStatus::NoDevice, 0);
    pendingIn_.clear();
}

// ---------------------------------------------------------------------------

SimBus::SimBus() : clock_(benchClock()), thread_(std::make_unique<ClockThread>(clock_, [this] { run(); })) {}

SimBus::~SimBus()
{
    clock_.update([this] { quit_ = true; });
    thread_->join();
    std::vector<Entry> devices;
    {
        std::lock_guard lock(mutex_);
        devices.swap(devices_);
    }
    for (auto& e : devices)
        e.device->detached();
}

void SimBus::addDevice(std::shared_ptr<SimDevice> device, int position)
{
    std::uint64_t attachment;
    {
        std::lock_guard lock(mutex_);
        attachment = nextAttachment_++;
        Entry e{device, attachment};
        if (position < 0 || position >= static_cast<int>(devices_.size()))
            devices_.push_back(std::move(e));
        else
            devices_.insert(devices_.begin() + position, std::move(e));
    }
    device->attached(attachment);
}

void SimBus::plug(std::shared_ptr<SimDevice> device, int position)
{
    addDevice(std::move(device), position);
    post({DeviceChangeEvent::Kind::Arrival, 0});
    post({DeviceChangeEvent::Kind::NodesChanged, 0});
}

bool SimBus::unplug(const std::shared_ptr<SimDevice>& device)
{
    std::uint64_t attachment = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Entry& e) { return e.device == device; });
        if (it == devices_.end())
            return false;
        attachment = it->attachment;
        devices_.erase(it);
    }
    device->detached();
    post({DeviceChangeEvent::Kind::RemovalComplete, static_cast<std::uintptr_t>(attachment)});
    post({DeviceChangeEvent::Kind::NodesChanged, 0});
    return true;
}

bool SimBus::replug(const std::shared_ptr<SimDevice>& device)
{
    int position = -1;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < devices_.size(); ++i)
            if (devices_[i].device == device)
                position = static_cast<int>(i);
    }
    if (position < 0 || !unplug(device))
        return false;
    plug(device, position);
    return true;
}

bool SimBus::isPresent(const std::shared_ptr<SimDevice>& device) const
{
    return deviceIdOf(device) != 0;
}

std::uintptr_t SimBus::deviceIdOf(const std::shared_ptr<SimDevice>& device) const
{
    std::lock_guard lock(mutex_);
    for (const Entry& e : devices_)
        if (e.device == device)
            return static_cast<std::uintptr_t>(e.attachment);
    return 0;
}

int SimBus::deviceCount()
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(devices_.size());
}

std::unique_ptr<UsbDeviceHandle> SimBus::open(int index, std::string* error)
{
    Entry e;
    {
        std::lock_guard lock(mutex_);
        if (index < 0 || index >= static_cast<int>(devices_.size())) {
            if (error)
                *error = "no device at index " + std::to_string(index);
            return nullptr;
        }
        e = devices_[static_cast<std::size_t>(index)];
    }
    return std::make_unique<SimDeviceHandle>(e.device, e.attachment, e.device->descriptors());
}

void SimBus::setChangeCallback(ChangeCallback callback)
{
    if (std::this_thread::get_id() == thread_->id()) {
        clock_.update([&] { callback_ = std::move(callback); });  // from inside a callback
        return;
    }
    // Waits, on the clock, for a delivery in progress to end.
    clock_.waitUntil(Clock::kNever, [&] {
        if (delivering_)
            return false;
        callback_ = std::move(callback);
        return true;
    });
}

void SimBus::waitForNotifications()
{
    clock_.waitUntil(Clock::kNever, [this] { return (queue_.empty() && !delivering_) || quit_; });
}

void SimBus::post(DeviceChangeEvent e)
{
    clock_.update([&] { queue_.push_back(e); });
}

void SimBus::run()
{
    for (;;) {
        DeviceChangeEvent e;
        ChangeCallback callback;
        const bool taken = takeNext(clock_, queue_, quit_, e, [&] {
            delivering_ = true;
            // A copy, so the callback may replace itself while it runs.
            callback = callback_;
        });
        if (!taken)
            return;
        if (callback)
            callback(e);
        clock_.update([this] { delivering_ = false; });
    }
}
