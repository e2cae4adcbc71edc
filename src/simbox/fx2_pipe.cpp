#include "simbox/fx2_pipe.h"

#include "link/box_usb_device.h"

#include <algorithm>
#include <cstring>

bool ReceivedPacket::isFill(std::uint8_t b) const
{
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [b](std::uint8_t x) { return x == b; });
}

bool ReceivedPacket::startsWith(std::initializer_list<std::uint8_t> header) const
{
    return bytes.size() >= header.size() && std::equal(header.begin(), header.end(), bytes.begin());
}

Fx2Pipe::Fx2Pipe(Clock& clock, std::mutex& boxLock, Fx2Core& core) : clock_(clock), mutex_(boxLock), core_(core) {}

Fx2Pipe::~Fx2Pipe()
{
    stop();
}

void Fx2Pipe::start()
{
    thread_ = std::make_unique<ClockThread>(clock_, [this] { run(); });
}

void Fx2Pipe::stop()
{
    if (!thread_)
        return;
    clock_.update([this] { quit_ = true; });
    thread_->join();
    thread_.reset();
}

void Fx2Pipe::kick()
{
    clock_.update([this] { kicked_ = true; });
}

// --- Options and inspection ---------------------------------------------------

void Fx2Pipe::setFifoPackets(int packets)
{
    fifoCapacity_ = static_cast<std::size_t>(std::max(1, packets));
}

void Fx2Pipe::setAnswerDelayMs(double ms)
{
    answerDelayMs_ = std::max(0.0, ms);
}

std::int64_t Fx2Pipe::answerDelayMicros() const
{
    return static_cast<std::int64_t>(answerDelayMs_ * 1000.0);
}

void Fx2Pipe::clearReceived()
{
    log_.clear();
    logCount_ = 0;
}

bool Fx2Pipe::waitForPackets(std::size_t count, double benchMs) const
{
    return clock_.waitFor(benchMs, [&] { return logCount_.load() >= count; });
}

std::size_t Fx2Pipe::fifoBytes() const
{
    std::size_t bytes = 0;
    for (const FifoPacket& p : fifo_)
        bytes += p.bytes.size();
    return bytes - std::min(bytes, fifoHeadOffset_);
}

// --- SimDevice side ---------------------------------------------------------------

UsbDeviceInfo Fx2Pipe::descriptors() const
{
    UsbDeviceInfo info;
    // USB 2.0, vendor class, EP0 64 bytes, Cypress 04B4:1004, one configuration.
    info.deviceDescriptor = {0x12, 0x01, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0x40, 0xB4,
                             0x04, 0x04, 0x10, 0x00, 0x00, 0x01, 0x02, 0x00, 0x01};
    info.vendorId = 0x04B4;
    info.productId = 0x1004;
    info.manufacturer = "Cypress";
    info.product = kBoxDeviceName;
    info.deviceName = kBoxDeviceName;
    info.friendlyName = "Orvik_encoder_box";
    info.usbAddress = 2;
    info.highSpeed = true;
    info.currentAlternateSetting = 0;

    InterfaceDescriptor itf;  // interface 0, alternate setting 0
    {
        std::lock_guard lock(mutex_);
        if (!inOnly_)
            itf.endpoints.push_back(EndpointDescriptor{7, 5, kBoxOutAddress, 2, kPacketSize, 0});
    }
    itf.endpoints.push_back(EndpointDescriptor{7, 5, kBoxInAddress, 2, kPacketSize, 0});
    ConfigDescriptor cfg;
    cfg.interfaces.push_back(std::move(itf));
    info.configurations.push_back(std::move(cfg));
    return info;
}

void Fx2Pipe::submit(const std::shared_ptr<TransferContext>& t, std::uint64_t attachment)
{
    std::lock_guard lock(mutex_);
    if (!attached_ || attachment != attachment_) {
        t->complete(TransferStatus::NoDevice, 0);
        return;
    }
    // Packets are taken and buffered data handed over on the caller's thread:
    // an FX2 does both within microseconds, and the bench's short completion
    // waits (10 ms, less when the clock runs fast) must not depend on when the
    // firmware thread is scheduled.
    const std::int64_t now = clock_.nowMicros();
    core_.produceLocked(now);
    if (t->inbound && t->endpointAddress == kBoxInAddress) {
        if (inStalled_) {
            ++counters_.stalledInTransfers;
            t->complete(TransferStatus::Stall, 0);
            return;
        }
        if (t->buffer.empty()) {
            t->complete(TransferStatus::Completed, 0);
            return;
        }
        PendingIn pending;
        pending.transfer = t;
        inQueue_.push_back(std::move(pending));
    } else if (!t->inbound && t->endpointAddress == kBoxOutAddress && !inOnly_) {
        takeOutPacket(t, now);
    } else {
        t->complete(TransferStatus::Stall, 0);  // no such endpoint in this firmware
        return;
    }
    deliver();
    kick();  // the stream or a delayed answer may need another wake-up time
}

void Fx2Pipe::cancel(const std::shared_ptr<TransferContext>& t)
{
    std::lock_guard lock(mutex_);
    int filled = 0;
    auto in = std::find_if(inQueue_.begin(), inQueue_.end(),
                           [&](const PendingIn& p) { return p.transfer == t; });
    if (in != inQueue_.end()) {
        filled = in->filled;
        endTap(*in);
        inQueue_.erase(in);
    }
    std::erase(stuckOut_, t);
    t->complete(TransferStatus::Cancelled, filled);
}

void Fx2Pipe::attached(std::uint64_t attachment)
{
    {
        std::lock_guard lock(mutex_);
        attachment_ = attachment;
        powerUp();
        attached_ = true;
    }
    kick();
}

void Fx2Pipe::detached()
{
    std::lock_guard lock(mutex_);
    for (auto& p : inQueue_) {
        endTap(p);
        p.transfer->complete(TransferStatus::NoDevice, p.filled);
    }
    for (auto& t : stuckOut_)
        t->complete(TransferStatus::NoDevice, 0);
    inQueue_.clear();
    stuckOut_.clear();
    powerUp();
    attached_ = false;
    attachment_ = 0;
}

void Fx2Pipe::powerUp()
{
    counters_.lostBytes = 0;
    fifo_.clear();
    fifoHeadOffset_ = 0;
    delayed_.clear();
    core_.powerUpLocked();
}

// --- Firmware thread ------------------------------------------------------------

void Fx2Pipe::run()
{
    for (;;) {
        std::int64_t next = Clock::kNever;
        {
            std::lock_guard lock(mutex_);
            const std::int64_t now = clock_.nowMicros();
            core_.produceLocked(now);
            releaseAnswers(now);
            deliver();
            next = nextWake();
        }
        // A submit, an attach or the end kicks the thread before its time.
        bool quit = false;
        clock_.waitUntil(next, [&] {
            quit = quit_;
            const bool kicked = kicked_;
            kicked_ = false;
            return quit || kicked;
        });
        if (quit)
            return;
    }
}

void Fx2Pipe::takeOutPacket(const std::shared_ptr<TransferContext>& t, std::int64_t now)
{
    if (outFault_ == OutFault::Stall) {
        ++counters_.stalledPackets;
        t->complete(TransferStatus::Stall, 0);
        return;
    }
    if (outFault_ == OutFault::NeverComplete) {
        stuckOut_.push_back(t);
        return;
    }
    log_.push_back({t->buffer, now});
    logCount_ = log_.size();
    clock_.update([] {});  // waitForPackets looks again
    const Packet packet = t->buffer;
    core_.takeLocked(packet, now);
    t->complete(TransferStatus::Completed, static_cast<int>(t->buffer.size()));
}

void Fx2Pipe::releaseAnswers(std::int64_t now)
{
    std::vector<DelayedAnswer> due;
    std::erase_if(delayed_, [&](DelayedAnswer& a) {
        if (a.dueMicros > now)
            return false;
        due.push_back(std::move(a));
        return true;
    });
    // Answers due at the same time keep the order in which they were given.
    std::stable_sort(due.begin(), due.end(),
                     [](const DelayedAnswer& a, const DelayedAnswer& b) { return a.dueMicros < b.dueMicros; });
    for (DelayedAnswer& a : due)
        commit(std::move(a.bytes), a.waitForRoom);
}

void Fx2Pipe::deliver()
{
    while (!inQueue_.empty() && !fifo_.empty()) {
        PendingIn& in = inQueue_.front();
        const FifoPacket& head = fifo_.front();
        const Packet& packet = head.bytes;
        const int room = static_cast<int>(in.transfer->buffer.size()) - in.filled;
        const int left = static_cast<int>(packet.size() - fifoHeadOffset_);
        const int n = std::min(room, left);
        if (n > 0)
            std::memcpy(in.transfer->buffer.data() + in.filled, packet.data() + fifoHeadOffset_,
                        static_cast<std::size_t>(n));
        if (head.tapped) {
            in.tapped = true;
            in.taps.insert(in.taps.end(), packet.begin() + static_cast<std::ptrdiff_t>(fifoHeadOffset_),
                           packet.begin() + static_cast<std::ptrdiff_t>(fifoHeadOffset_) + n);
        }
        in.filled += n;
        fifoHeadOffset_ += static_cast<std::size_t>(n);
        bool shortPacketEnded = false;
        if (fifoHeadOffset_ == packet.size()) {
            shortPacketEnded = packet.size() < static_cast<std::size_t>(kPacketSize);
            ++counters_.packetsSent;
            fifo_.pop_front();
            fifoHeadOffset_ = 0;
        }
        if (in.filled == static_cast<int>(in.transfer->buffer.size()) || shortPacketEnded) {
            counters_.bytesSent += static_cast<std::uint64_t>(in.filled);
            endTap(in);
            in.transfer->complete(TransferStatus::Completed, in.filled);
            inQueue_.pop_front();
        }
    }
}

std::int64_t Fx2Pipe::nextWake() const
{
    std::int64_t next = core_.nextPacketDueLocked();
    for (const DelayedAnswer& a : delayed_)
        next = std::min(next, a.dueMicros);
    return next;
}

void Fx2Pipe::endTap(PendingIn& in)
{
    if (!in.tapped)
        return;
    if (tap_)
        tap_(std::move(in.taps));
    in.taps.clear();
    in.tapped = false;
}

// --- For the firmware ----------------------------------------------------------------

void Fx2Pipe::sendAnswer(Packet bytes, std::int64_t now)
{
    if (noAnswer_)
        return;
    ++counters_.answersSent;
    // A multiple of the packet size needs a zero-length packet to end the transfer.
    std::vector<Packet> packets;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(kPacketSize, bytes.size() - at);
        packets.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < bytes.size() || packets.back().size() == static_cast<std::size_t>(kPacketSize));
    const auto due = now + answerDelayMicros();
    for (Packet& p : packets) {
        if (due > now)
            delayed_.push_back({due, std::move(p)});
        else
            commit(std::move(p));
    }
}

void Fx2Pipe::sendShortPacket(Packet bytes, std::int64_t now, std::int64_t dueMicros)
{
    if (noAnswer_)
        return;
    ++counters_.answersSent;
    const auto due = dueMicros + answerDelayMicros();
    if (due > now) {
        delayed_.push_back({due, std::move(bytes)});
        return;
    }
    releaseAnswers(now);  // earlier answers not yet released go first
    commit(std::move(bytes));
}

void Fx2Pipe::sendAcknowledgement(Packet bytes, std::int64_t now, std::int64_t dueMicros)
{
    if (noAnswer_)
        return;
    ++counters_.answersSent;
    if (dueMicros > now)
        delayed_.push_back({dueMicros, std::move(bytes), true});
    else
        commit(std::move(bytes), true);
}

void Fx2Pipe::commit(Packet packet, bool waitForRoom, bool tapped)
{
    if (noAnswer_)
        return;
    // A pending IN transfer takes packets as they come; only when the host
    // has none pending does the FIFO fill up. (Packets are produced in
    // batches when the firmware thread runs late, so this must happen per
    // packet.)
    deliver();
    if (fifo_.size() >= fifoCapacity_ && !waitForRoom) {
        counters_.lostBytes += packet.size();
        counters_.lostBytesTotal += packet.size();
        ++counters_.packetsDropped;
        return;
    }
    // A packet that waits for room is queued behind the full FIFO: the host
    // sees it after everything buffered, as it would once the firmware got
    // its buffer.
    fifo_.push_back({std::move(packet), tapped});
}

bool Fx2Pipe::wouldLose() const
{
    return noAnswer_ || (inQueue_.empty() && fifo_.size() >= fifoCapacity_);
}

void Fx2Pipe::countLost(std::uint64_t bytes, std::uint64_t packets)
{
    counters_.lostBytes += bytes;
    counters_.lostBytesTotal += bytes;
    counters_.packetsDropped += packets;
}
