#pragma once
// The bench's side of the box: the device object, the two endpoints, the
// command flags, SendLock, the send and drain-read results and the workers
// that move packets. Owned by the bench state for the life of the window.
#include "link/box_usb_device.h"
#include "link/command_packet.h"
#include "link/in_pump.h"
#include "link/inbound_gate.h"
#include "link/out_queue.h"
#include "link/send_lock.h"
#include "link/worker_set.h"
#include "protocol/command_flags.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// An endpoint reference that device changes replace. Workers copy the
// shared pointer and keep using their copy; a closed device makes its
// transfers fail instead of touching freed memory.
class EndpointSlot {
public:
    std::shared_ptr<CCyUSBEndPoint> get() const
    {
        std::lock_guard lock(mutex_);
        return ep_;
    }
    void set(std::shared_ptr<CCyUSBEndPoint> ep)
    {
        std::lock_guard lock(mutex_);
        ep_ = std::move(ep);
    }
    bool present() const { return get() != nullptr; }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<CCyUSBEndPoint> ep_;
};

// What the link asks of its owner: stop-all and a modal message. Both may be
// called from worker threads.
struct LinkHooks {
    std::function<void()> stopAll;
    std::function<void(const std::string&)> showMessage;
};

inline constexpr const char* kDrainFailedMessage = "操作失败请重新操作";

struct BoxLink {
    std::unique_ptr<BoxUsbDevice> usbDevice;
    EndpointSlot inEndpoint;
    EndpointSlot outEndpoint;

    // Device-change marks.
    std::atomic<bool> arrivalSeen{false};
    std::atomic<bool> nodesChanged{false};
    std::atomic<bool> removalSeen{false};

    CommandFlags flags;
    // Held by the sender around each write and by the box search while it
    // replaces the endpoints.
    SendLock sendLock;
    std::atomic<bool> lastSendOk{false};
    std::atomic<bool> lastReadOk{false};
    SendTicket senderWorker;
    WorkerHandle drainWorker;

    // Why the last search found no box, when a device refused access.
    std::string accessError;

    // One reader at a time on the IN endpoint; stop-all cancels them all.
    InboundGate inGate;
    // Sessions of the streaming consumers on the IN endpoint.
    InPump inPump{*this};

    LinkHooks hooks;
    WorkerSet workers;

    // Every packet to the box, in the order requested (last: it writes
    // through the members above).
    OutQueue outQueue{[this](const CommandPacket& p) { return writePacket(p); }};

private:
    SendStatus writePacket(const CommandPacket& packet);
};

// Queues the packet for the flags that are up now and the given packet
// parameters (both captured at the request). Does not wait for it: the
// ticket tells when it was written and how that went.
SendTicket requestSend(BoxLink& link, const PacketParams& params);

// A drain read under way: its worker, and its one transfer, which is queued
// on the IN endpoint by the request itself (on the caller's thread), so an
// answer the box already holds is taken at once, however late the worker
// gets to run.
struct DrainRequest {
    WorkerHandle worker;
    std::shared_ptr<InSession> session;
    explicit operator bool() const { return static_cast<bool>(worker); }
    // The transfer has completed without error (the box answered).
    bool answered() const { return session && session->firstCompleted(); }
};

// Starts the one-shot 2048-byte drain read. After its first 100 ms it keeps
// waiting only while `stillArmed` says the operation that armed it runs (at
// most a second); then the transfer is cancelled.
DrainRequest requestDrainRead(BoxLink& link, std::function<bool()> stillArmed = {});

// Searches the bus for the box, opens it and sets the endpoints; returns the
// window title ("Rotoscope", plus "错误!" per missing endpoint, or empty).
std::string findBox(BoxLink& link);

// The sender's and the drain read's bodies, run on the calling thread.
SendStatus runSender(BoxLink& link, const CommandPacket& packet);
void runDrainRead(BoxLink& link, InSession& session, std::int64_t startMicros,
                  const std::function<bool()>& stillArmed = {});
// A drain read of its first 100 ms on the calling thread.
void drainNow(BoxLink& link);
