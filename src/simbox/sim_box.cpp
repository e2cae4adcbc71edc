#include "simbox/sim_box.h"

#include "link/box_usb_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
// A stream further behind than this, whose records could only be lost (FIFO
// full, no transfer pending), skips ahead and counts them as lost.
constexpr std::int64_t kMaxCatchUpMicros = 200'000;

}  // namespace

bool ReceivedPacket::isFill(std::uint8_t b) const
{
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [b](std::uint8_t x) { return x == b; });
}

bool ReceivedPacket::startsWith(std::initializer_list<std::uint8_t> header) const
{
    return bytes.size() >= header.size() && std::equal(header.begin(), header.end(), bytes.begin());
}

SimBox::SimBox(std::shared_ptr<EncoderModel> encoder)
    : encoder_(encoder ? std::move(encoder) : std::make_shared<EncoderModel>()), clock_(benchClock())
{
    registerHandlers();
    thread_ = std::make_unique<ClockThread>(clock_, [this] { run(); });
}

SimBox::~SimBox()
{
    clock_.update([this] { quit_ = true; });
    thread_->join();
    detached();
}

void SimBox::kick()
{
    clock_.update([this] { kicked_ = true; });
}

void SimBox::registerHandlers()
{
    handlers_[0x4A] = &SimBox::onPowerOn;
    handlers_[0x2C] = &SimBox::onPowerOff;
    handlers_[0x4D] = &SimBox::onConfigBegin;
    handlers_[0x3A] = &SimBox::onConfig;
    handlers_[0x9A] = &SimBox::onConfigQuery;
    handlers_[0x7A] = &SimBox::onStream;
    handlers_[0x6A] = &SimBox::onStop;
    handlers_[0xB1] = &SimBox::onResetAngle;
    handlers_[0xB2] = &SimBox::onResetTurns;
    for (std::uint8_t code : CalibrationFirmware::packetCodes())
        handlers_[code] = &SimBox::onCalibration;
    handlers_[0x5A] = &SimBox::onCapture;
    handlers_[0xB4] = &SimBox::onEepromWrite;
    handlers_[0xB5] = &SimBox::onEepromRead;
}

// --- Options and inspection ---------------------------------------------

void SimBox::setInEndpointOnly(bool inOnly)
{
    std::lock_guard lock(mutex_);
    inOnly_ = inOnly;
}

void SimBox::setRecordPeriodMicros(std::int64_t micros)
{
    std::lock_guard lock(mutex_);
    recordPeriod_ = std::max<std::int64_t>(1, micros);
}

void SimBox::setSamplePeriodMicros(std::int64_t micros)
{
    std::lock_guard lock(mutex_);
    samplePeriod_ = std::max<std::int64_t>(1, micros);
}

std::int64_t SimBox::samplePeriodMicros() const
{
    std::lock_guard lock(mutex_);
    return samplePeriod_;
}

void SimBox::setFifoPackets(int packets)
{
    std::lock_guard lock(mutex_);
    fifoCapacity_ = static_cast<std::size_t>(std::max(1, packets));
}

std::vector<ReceivedPacket> SimBox::receivedPackets() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::size_t SimBox::receivedCount() const
{
    std::lock_guard lock(mutex_);
    return log_.size();
}

void SimBox::clearReceivedPackets()
{
    std::lock_guard lock(mutex_);
    log_.clear();
    logCount_ = 0;
}

bool SimBox::waitForPackets(std::size_t count, double benchMs) const
{
    return clock_.waitFor(benchMs, [&] { return logCount_.load() >= count; });
}

SimBoxState SimBox::state()
{
    std::lock_guard lock(mutex_);
    produceLocked(clock_.nowMicros());
    SimBoxState s = state_;
    s.fifoPackets = fifo_.size();
    s.fifoBytes = 0;
    for (const FifoPacket& p : fifo_)
        s.fifoBytes += p.bytes.size();
    s.fifoBytes -= std::min(s.fifoBytes, fifoHeadOffset_);
    return s;
}

// --- Faults --------------------------------------------------------------

void SimBox::setNoAnswer(bool on)
{
    std::lock_guard lock(mutex_);
    noAnswer_ = on;
}

void SimBox::setAnswerDelayMs(double ms)
{
    std::lock_guard lock(mutex_);
    answerDelayMs_ = std::max(0.0, ms);
}

void SimBox::corruptBlocks(int count, int bytesPerBlock)
{
    std::lock_guard lock(mutex_);
    corruptBlocks_ = count;
    corruptBytesPerBlock_ = std::clamp(bytesPerBlock, 1, kStreamBlockSize - 4);
}

void SimBox::dropBlockSync(int count)
{
    std::lock_guard lock(mutex_);
    synclessBlocks_ = count;
}

void SimBox::injectCrcErrors(int count)
{
    std::lock_guard lock(mutex_);
    crcErrors_ = count;
}

void SimBox::injectCrcErrorEvery(int n)
{
    std::lock_guard lock(mutex_);
    crcEvery_ = std::max(0, n);
    spiRecords_ = 0;
}

void SimBox::setOutFault(OutFault fault)
{
    std::lock_guard lock(mutex_);
    outFault_ = fault;
}

bool SimBox::takeFaultLocked(int& counter)
{
    if (counter == 0)
        return false;
    if (counter > 0)
        --counter;
    return true;
}

// --- SimDevice -------------------------------------------------------------

UsbDeviceInfo SimBox::descriptors() const
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

void SimBox::submit(const std::shared_ptr<TransferContext>& t, std::uint64_t attachment)
{
    std::lock_guard lock(mutex_);
    if (!state_.attached || attachment != attachment_) {
        t->complete(TransferStatus::NoDevice, 0);
        return;
    }
    // Packets are taken and buffered data handed over on the caller's thread:
    // an FX2 does both within microseconds, and the bench's short completion
    // waits (10 ms, less when the clock runs fast) must not depend on when the
    // firmware thread is scheduled.
    const std::int64_t now = clock_.nowMicros();
    produceLocked(now);
    if (t->inbound && t->endpointAddress == kBoxInAddress) {
        if (t->buffer.empty()) {
            t->complete(TransferStatus::Completed, 0);
            return;
        }
        PendingIn pending;
        pending.transfer = t;
        inQueue_.push_back(std::move(pending));
    } else if (!t->inbound && t->endpointAddress == kBoxOutAddress && !inOnly_) {
        takeOutPacketLocked(t, now);
    } else {
        t->complete(TransferStatus::Stall, 0);  // no such endpoint in this firmware
        return;
    }
    deliverLocked();
    kick();  // the stream or a delayed answer may need another wake-up time
}

void SimBox::cancel(const std::shared_ptr<TransferContext>& t)
{
    std::lock_guard lock(mutex_);
    int filled = 0;
    auto in = std::find_if(inQueue_.begin(), inQueue_.end(),
                           [&](const PendingIn& p) { return p.transfer == t; });
    if (in != inQueue_.end()) {
        filled = in->filled;
        logCaptureLocked(*in);
        inQueue_.erase(in);
    }
    std::erase(stuckOut_, t);
    t->complete(TransferStatus::Cancelled, filled);
}

void SimBox::attached(std::uint64_t attachment)
{
    {
        std::lock_guard lock(mutex_);
        attachment_ = attachment;
        resetFirmwareLocked();
        state_.attached = true;
    }
    kick();
}

void SimBox::detached()
{
    std::lock_guard lock(mutex_);
    for (auto& p : inQueue_) {
        logCaptureLocked(p);
        p.transfer->complete(TransferStatus::NoDevice, p.filled);
    }
    for (auto& t : stuckOut_)
        t->complete(TransferStatus::NoDevice, 0);
    inQueue_.clear();
    stuckOut_.clear();
    resetFirmwareLocked();
    state_.attached = false;
    attachment_ = 0;
}

// Power-up state: the FX2 restarts whenever it is plugged in.
void SimBox::resetFirmwareLocked()
{
    const std::uint64_t lostTotal = state_.lostBytesTotal;
    const std::uint64_t sent = state_.bytesSent;
    const std::uint64_t answers = state_.answersSent;
    const std::uint64_t stalled = state_.stalledPackets;
    const std::uint64_t packetsSent = state_.packetsSent;
    const std::uint64_t packetsDropped = state_.packetsDropped;
    state_ = SimBoxState{};
    state_.packetsSent = packetsSent;
    state_.packetsDropped = packetsDropped;
    state_.lostBytesTotal = lostTotal;
    state_.bytesSent = sent;
    state_.answersSent = answers;
    state_.stalledPackets = stalled;
    configHeader_ = {};
    stream_.reset();
    fifo_.clear();
    fifoHeadOffset_ = 0;
    delayed_.clear();
    calibration_.reset();
}

// --- Firmware thread --------------------------------------------------------

void SimBox::run()
{
    for (;;) {
        std::int64_t next = kNever;
        {
            std::lock_guard lock(mutex_);
            const std::int64_t now = clock_.nowMicros();
            produceLocked(now);
            releaseAnswersLocked(now);
            deliverLocked();
            next = nextWakeLocked();
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

void SimBox::takeOutPacketLocked(const std::shared_ptr<TransferContext>& t, std::int64_t now)
{
    if (outFault_ == OutFault::Stall) {
        ++state_.stalledPackets;
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
    // The EEPROM read-back runs until the next command.
    if (streamKindIs(StreamKind::EepromPairs) && !packet.empty() && packet[0] != 0xB5)
        stopStreamLocked();
    // A command is one whole packet; anything else is taken and ignored.
    if (packet.size() == static_cast<std::size_t>(kPacketSize))
        if (Handler h = handlers_[packet[0]])
            (this->*h)(packet, now);
    t->complete(TransferStatus::Completed, static_cast<int>(t->buffer.size()));
}

void SimBox::releaseAnswersLocked(std::int64_t now)
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
        commitPacketLocked(std::move(a.bytes), a.waitForRoom);
}

void SimBox::deliverLocked()
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
        if (head.capture) {
            in.capture = true;
            in.captured.insert(in.captured.end(), packet.begin() + static_cast<std::ptrdiff_t>(fifoHeadOffset_),
                               packet.begin() + static_cast<std::ptrdiff_t>(fifoHeadOffset_) + n);
        }
        in.filled += n;
        fifoHeadOffset_ += static_cast<std::size_t>(n);
        bool shortPacketEnded = false;
        if (fifoHeadOffset_ == packet.size()) {
            shortPacketEnded = packet.size() < static_cast<std::size_t>(kPacketSize);
            ++state_.packetsSent;
            fifo_.pop_front();
            fifoHeadOffset_ = 0;
        }
        if (in.filled == static_cast<int>(in.transfer->buffer.size()) || shortPacketEnded) {
            state_.bytesSent += static_cast<std::uint64_t>(in.filled);
            logCaptureLocked(in);
            in.transfer->complete(TransferStatus::Completed, in.filled);
            inQueue_.pop_front();
        }
    }
}

std::int64_t SimBox::nextWakeLocked() const
{
    std::int64_t next = kNever;
    for (const DelayedAnswer& a : delayed_)
        next = std::min(next, a.dueMicros);
    if (stream_) {
        // The record that completes the packet being filled.
        const Stream& s = *stream_;
        const int len = s.source->recordLength();
        const bool framed = s.source->framed();
        std::size_t bytes = s.packet.size();
        int pos = s.blockPos;
        std::int64_t records = 0;
        while (bytes < static_cast<std::size_t>(s.source->packetBytes())) {
            ++records;
            if (framed && pos == 0) {
                bytes += 4;
                pos = 4;
            }
            bytes += static_cast<std::size_t>(len);
            pos += len;
            if (framed && pos + len > kStreamBlockSize) {
                bytes += static_cast<std::size_t>(kStreamBlockSize - pos);
                pos = 0;
            }
        }
        next = std::min(next, s.nextRecordMicros + (records - 1) * s.source->periodMicros());
    }
    return next;
}

// --- Stream --------------------------------------------------------------

void SimBox::startStreamLocked(std::unique_ptr<StreamSource> source, std::int64_t now)
{
    stream_.reset();
    state_.streaming = false;
    state_.streamGroup = RecordGroup::None;
    if (!source)
        return;
    auto s = std::make_unique<Stream>();
    s->nextRecordMicros = now + static_cast<std::int64_t>(answerDelayMs_ * 1000.0);
    s->packet.reserve(kPacketSize);
    state_.streaming = true;
    state_.streamGroup = source->group();
    state_.streamKind = source->kind();
    state_.blocksStarted = 0;
    state_.lostBytes = 0;
    s->source = std::move(source);
    stream_ = std::move(s);
}

void SimBox::stopStreamLocked()
{
    // The packet being filled is abandoned: the host sees whole packets only.
    stream_.reset();
    state_.streaming = false;
}

void SimBox::sendAnswerLocked(Packet bytes, std::int64_t now)
{
    if (noAnswer_)
        return;
    ++state_.answersSent;
    // A multiple of the packet size needs a zero-length packet to end the transfer.
    std::vector<Packet> packets;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(kPacketSize, bytes.size() - at);
        packets.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < bytes.size() || packets.back().size() == static_cast<std::size_t>(kPacketSize));
    const auto due = now + static_cast<std::int64_t>(answerDelayMs_ * 1000.0);
    for (Packet& p : packets) {
        if (due > now)
            delayed_.push_back({due, std::move(p)});
        else
            commitPacketLocked(std::move(p));
    }
}

void SimBox::sendShortPacketLocked(Packet bytes, std::int64_t now, std::int64_t dueMicros)
{
    if (noAnswer_)
        return;
    ++state_.answersSent;
    const auto due = dueMicros + static_cast<std::int64_t>(answerDelayMs_ * 1000.0);
    if (due > now) {
        delayed_.push_back({due, std::move(bytes)});
        return;
    }
    releaseAnswersLocked(now);  // earlier answers not yet released go first
    commitPacketLocked(std::move(bytes));
}

void SimBox::commitPacketLocked(Packet packet, bool waitForRoom, bool capture)
{
    if (noAnswer_)
        return;
    // A pending IN transfer takes packets as they come; only when the host
    // has none pending does the FIFO fill up. (Packets are produced in
    // batches when this thread runs late, so this must happen per packet.)
    deliverLocked();
    if (fifo_.size() >= fifoCapacity_ && !waitForRoom) {
        state_.lostBytes += packet.size();
        state_.lostBytesTotal += packet.size();
        ++state_.packetsDropped;
        return;
    }
    // A packet that waits for room is queued behind the full FIFO: the host
    // sees it after everything buffered, as it would once the firmware got
    // its buffer.
    fifo_.push_back({std::move(packet), capture});
}

bool SimBox::streamKindIs(StreamKind kind) const
{
    return stream_ && stream_->source->kind() == kind;
}

void SimBox::produceLocked(std::int64_t now)
{
    if (!stream_)
        return;
    Stream& s = *stream_;
    const std::int64_t period = s.source->periodMicros();
    const bool nowhereToGo = noAnswer_ || (inQueue_.empty() && fifo_.size() >= fifoCapacity_);
    if (now - s.nextRecordMicros > kMaxCatchUpMicros && nowhereToGo) {
        // Far behind, and everything read meanwhile would be lost anyway:
        // count it instead of producing it.
        const std::int64_t skip = (now - s.nextRecordMicros) / period;
        const auto lost = static_cast<std::uint64_t>(skip * s.source->recordLength()) + s.packet.size();
        state_.lostBytes += lost;
        state_.lostBytesTotal += lost;
        // As many packets as those bytes would have filled, each one lost to
        // the full FIFO just as commitPacketLocked would have counted it.
        const auto packetBytes = static_cast<std::uint64_t>(s.source->packetBytes());
        state_.packetsDropped += (lost + packetBytes - 1) / packetBytes;
        s.nextRecordMicros += skip * period;
        s.packet.clear();
        s.blockPos = 0;
    }
    while (s.nextRecordMicros <= now) {
        emitRecordLocked(s.nextRecordMicros);
        s.nextRecordMicros += period;
    }
}

void SimBox::startBlockLocked()
{
    Stream& s = *stream_;
    ++state_.blocksStarted;
    s.flips.reset();
    s.blockSyncless = takeFaultLocked(synclessBlocks_);
    if (takeFaultLocked(corruptBlocks_)) {
        const int len = s.source->recordLength();
        const int recordBytes = (kStreamBlockSize - 4) / len * len;
        std::uniform_int_distribution<int> at(4, 4 + recordBytes - 1);
        const int count = std::min(corruptBytesPerBlock_, recordBytes);
        while (static_cast<int>(s.flips.count()) < count)
            s.flips.set(static_cast<std::size_t>(at(rng_)));
    }
    static constexpr std::array<std::uint8_t, 4> kNoSync{0, 0, 0, 0};
    appendStreamLocked(s.blockSyncless ? kNoSync.data() : kBlockSync.data(), 4);
}

void SimBox::emitRecordLocked(std::int64_t t)
{
    Stream& s = *stream_;
    const bool framed = s.source->framed();
    const int len = s.source->recordLength();
    if (framed && s.blockPos == 0)
        startBlockLocked();
    std::array<std::uint8_t, 32> record{};
    bool checkFault = false;
    if (s.source->group() == RecordGroup::Spi) {
        const bool counted = takeFaultLocked(crcErrors_);
        const bool nth = crcEvery_ > 0 && ++spiRecords_ % static_cast<std::uint64_t>(crcEvery_) == 0;
        checkFault = counted || nth;
    }
    s.source->writeRecord(t, checkFault, record.data());
    appendStreamLocked(record.data(), len);
    if (framed && s.blockPos + len > kStreamBlockSize) {
        // The rest of the block, too short for another record, is zero.
        static constexpr std::array<std::uint8_t, kStreamBlockSize> kZeros{};
        appendStreamLocked(kZeros.data(), kStreamBlockSize - s.blockPos);
    }
}

void SimBox::appendStreamLocked(const std::uint8_t* bytes, int n)
{
    Stream& s = *stream_;
    const bool framed = s.source->framed();
    for (int i = 0; i < n; ++i) {
        std::uint8_t b = bytes[i];
        if (framed) {
            if (s.flips.test(static_cast<std::size_t>(s.blockPos)))
                b ^= 0xFF;
            s.blockPos = (s.blockPos + 1) % kStreamBlockSize;
        }
        s.packet.push_back(b);
        if (s.packet.size() >= static_cast<std::size_t>(s.source->packetBytes())) {
            if (s.source->kind() == StreamKind::Capture)
                commitCapturePacketLocked(std::move(s.packet));
            else
                commitPacketLocked(std::move(s.packet));
            s.packet = Packet{};
            s.packet.reserve(kPacketSize);
        }
    }
}

// --- Command handlers ------------------------------------------------------

void SimBox::onPowerOn(const Packet&, std::int64_t)
{
    state_.powered = true;
}

void SimBox::onPowerOff(const Packet&, std::int64_t)
{
    // An unpowered encoder has nothing to stream.
    state_.powered = false;
    stopStreamLocked();
}

void SimBox::onConfigBegin(const Packet&, std::int64_t)
{
    stopStreamLocked();
}

void SimBox::onConfig(const Packet& p, std::int64_t)
{
    if (p[1] != 0x3A)
        return;
    std::copy_n(p.begin(), 6, configHeader_.begin());
    state_.config = BoxInterfaceConfig::fromHeader(p.data());
    state_.configured = true;
    stopStreamLocked();
}

void SimBox::onConfigQuery(const Packet&, std::int64_t now)
{
    // The answer echoes the interface parameters the box works with.
    sendAnswerLocked({0x9A, 0x9A, configHeader_[2], configHeader_[3], configHeader_[4], configHeader_[5]}, now);
}

void SimBox::onStream(const Packet&, std::int64_t now)
{
    if (!state_.powered)
        return;
    // Every packet sent while a mode runs repeats the fill: keep streaming.
    if (streamKindIs(StreamKind::Records) && stream_->source->group() == state_.config.group())
        return;
    startStreamLocked(makeStreamSource(state_.config, encoder_, recordPeriod_, samplePeriod_), now);
}

void SimBox::onStop(const Packet&, std::int64_t now)
{
    endCaptureLocked(now);  // a capture ends with its acknowledgement
    stopStreamLocked();
}

void SimBox::onResetAngle(const Packet& p, std::int64_t)
{
    if (p[1] == 0xB1 && p[2] == 0xA1 && p[3] == 0xA1 && p[4] == 0xA1 && p[5] == 0xA1)
        encoder_->resetAngle();
}

void SimBox::onResetTurns(const Packet& p, std::int64_t)
{
    if (p[1] == 0xB2 && p[2] == 0xA2 && p[3] == 0xA2 && p[4] == 0xA2 && p[5] == 0xA2)
        encoder_->resetTurns();
}

void SimBox::onCalibration(const Packet& p, std::int64_t now)
{
    calibration_.take(p, now, [&](Packet bytes, std::int64_t due) { sendShortPacketLocked(std::move(bytes), now, due); });
}
