#pragma once
// The emulated device's bulk endpoints served by a simulated device (the
// SimBox firmware: its command handlers, stream, four-packet FIFO and faults).
//
// libusb hands usbfs a bulk transfer as a chain of URBs of at most 16 KiB:
// the first without USBDEVFS_URB_BULK_CONTINUATION, every one but the last
// with USBDEVFS_URB_SHORT_NOT_OK. The bridge gives each chain to the device
// as one transfer, so the FX2's rule holds across the chain: it ends when it
// is full or on a short (or zero-length) packet. When it ends, each URB is
// given back as the kernel gives it back: the full ones completed, the one
// the short packet ended with -EREMOTEIO (or 0 when it is the last), the rest
// of the chain cancelled (-ECONNRESET) before they took a byte; a discard
// cancels the device's transfer and the bytes it already holds are kept.
//
// Not thread-safe: MockBox calls it under its lock. The device never calls
// back: a finished transfer is only marked done, and collect() (on every
// reap) looks for those.
#include "mock_urb.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class SimDevice;
struct TransferContext;

class UrbBridge {
public:
    // Plugs `device` in under a new attachment.
    explicit UrbBridge(std::shared_ptr<SimDevice> device);
    // Unplugs the device if still plugged; URBs still held are released.
    ~UrbBridge();
    UrbBridge(const UrbBridge&) = delete;
    UrbBridge& operator=(const UrbBridge&) = delete;

    // A bulk URB on 0x02 or 0x86, taken over.
    void submit(MockUrb urb);
    // DISCARDURB: true when the URB was still the device's; false when it has
    // been given back (or is about to be).
    bool discard(unsigned long clientAddress);
    // Appends the URBs of every ended chain to `reapable`, in order; IN
    // chains only with `inbound`.
    void collect(std::deque<MockUrb>& reapable, bool inbound = true);
    // The device goes away: every chain ends (-ENODEV).
    void unplug();

private:
    struct Chain {
        std::vector<MockUrb> urbs;
        bool inbound = false;
        // The device's transfer, once the chain's last URB arrived.
        std::shared_ptr<TransferContext> transfer;
        // Nonzero: ended before the device had it (-ENODEV, -ECONNRESET).
        int unsubmittedEnd = 0;
        bool ended() const;
    };
    void start(Chain& c);
    void giveBack(Chain& c, std::deque<MockUrb>& reapable);

    std::shared_ptr<SimDevice> device_;
    std::uint64_t attachment_ = 0;
    bool plugged_ = false;
    std::deque<Chain> chains_;  // in submission order
};
