#include "urb_bridge.h"

#include "link/usb_backend.h"
#include "simbox/sim_bus.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<std::uint64_t> g_nextAttachment{1};

unsigned flagsOf(const MockUrb& u) { return u.kernel()->flags; }
int lengthOf(const MockUrb& u) { return u.kernel()->buffer_length; }

// The status of the URB a transfer ended in, when it did not end full.
int endStatus(TransferStatus s, const MockUrb& u)
{
    switch (s) {
    case TransferStatus::Completed: return (flagsOf(u) & USBDEVFS_URB_SHORT_NOT_OK) ? -EREMOTEIO : 0;
    case TransferStatus::Cancelled: return -ECONNRESET;
    case TransferStatus::NoDevice: return -ENODEV;
    case TransferStatus::Stall: return -EPIPE;
    default: return -EPROTO;
    }
}

}  // namespace

bool UrbBridge::Chain::ended() const
{
    return unsubmittedEnd != 0 || (transfer && transfer->isDone());
}

UrbBridge::UrbBridge(std::shared_ptr<SimDevice> device)
    : device_(std::move(device)), attachment_(g_nextAttachment++)
{
    device_->attached(attachment_);
    plugged_ = true;
}

UrbBridge::~UrbBridge()
{
    unplug();
    for (Chain& c : chains_)
        for (MockUrb& u : c.urbs)
            u.release();
}

void UrbBridge::submit(MockUrb u)
{
    const bool inbound = (u.kernel()->endpoint & 0x80) != 0;
    Chain* chain = nullptr;
    if (flagsOf(u) & USBDEVFS_URB_BULK_CONTINUATION)
        for (auto it = chains_.rbegin(); it != chains_.rend() && !chain; ++it)
            if (!it->transfer && it->unsubmittedEnd == 0 && it->inbound == inbound)
                chain = &*it;
    if (!chain) {
        chains_.emplace_back();
        chain = &chains_.back();
        chain->inbound = inbound;
    }
    chain->urbs.push_back(u);
    if (!plugged_)
        chain->unsubmittedEnd = -ENODEV;
    else if (!(flagsOf(u) & USBDEVFS_URB_SHORT_NOT_OK))
        start(*chain);
}

void UrbBridge::start(Chain& c)
{
    auto t = std::make_shared<TransferContext>();
    t->endpointAddress = static_cast<std::uint8_t>(c.urbs.front().kernel()->endpoint);
    t->inbound = c.inbound;
    for (const MockUrb& u : c.urbs) {
        const auto at = t->buffer.size();
        t->buffer.resize(at + static_cast<std::size_t>(lengthOf(u)));
        if (!c.inbound && u.buffer && lengthOf(u) > 0)
            std::memcpy(t->buffer.data() + at, u.buffer->data, static_cast<std::size_t>(lengthOf(u)));
    }
    c.transfer = t;
    device_->submit(t, attachment_);
}

bool UrbBridge::discard(unsigned long clientAddress)
{
    for (Chain& c : chains_) {
        int offset = 0;
        for (const MockUrb& u : c.urbs) {
            if (u.clientAddress != clientAddress) {
                offset += lengthOf(u);
                continue;
            }
            if (c.ended())
                return false;
            if (!c.transfer) {  // libusb gave up submitting the chain
                c.unsubmittedEnd = -ECONNRESET;
                return true;
            }
            // A URB the box has filled was given back when it filled.
            const int end = offset + lengthOf(u);
            if (c.transfer->actualLength() >= end && lengthOf(u) > 0)
                return false;
            device_->cancel(c.transfer);
            // The device may have completed it just before the cancel.
            return c.transfer->status() == TransferStatus::Cancelled && c.transfer->actualLength() < end;
        }
    }
    return false;
}

void UrbBridge::collect(std::deque<MockUrb>& reapable, bool inbound)
{
    for (auto it = chains_.begin(); it != chains_.end();) {
        if (it->ended() && (inbound || !it->inbound)) {
            giveBack(*it, reapable);
            it = chains_.erase(it);
        } else {
            ++it;
        }
    }
}

void UrbBridge::giveBack(Chain& c, std::deque<MockUrb>& reapable)
{
    if (c.unsubmittedEnd != 0) {
        for (MockUrb& u : c.urbs) {
            u.finish(c.unsubmittedEnd, 0);
            reapable.push_back(u);
        }
        return;
    }
    const TransferStatus s = c.transfer->status();
    const int n = std::clamp(c.transfer->actualLength(), 0, static_cast<int>(c.transfer->buffer.size()));
    int offset = 0;
    bool over = false;  // the transfer ended in an earlier URB
    for (MockUrb& u : c.urbs) {
        const int len = lengthOf(u);
        if (over) {
            u.finish(s == TransferStatus::NoDevice ? -ENODEV : -ECONNRESET, 0);
            reapable.push_back(u);
            continue;
        }
        const int take = std::clamp(n - offset, 0, len);
        if (c.inbound && take > 0)
            std::memcpy(u.buffer->data, c.transfer->buffer.data() + offset, static_cast<std::size_t>(take));
        offset += take;
        const bool last = &u == &c.urbs.back();
        if (take < len || (last && s != TransferStatus::Completed)) {
            u.finish(endStatus(s, u), take);
            over = true;
        } else {
            u.finish(0, take);
        }
        reapable.push_back(u);
    }
}

void UrbBridge::unplug()
{
    if (!plugged_)
        return;
    plugged_ = false;
    for (Chain& c : chains_)
        if (!c.transfer)
            c.unsubmittedEnd = -ENODEV;
    device_->detached();  // the device's transfers end with NoDevice
}
