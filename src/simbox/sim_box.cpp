#include "simbox/sim_box.h"

#include <algorithm>

SimBox::SimBox(std::shared_ptr<EncoderModel> encoder)
    : clock_(benchClock()),
      pipe_(clock_, mutex_, *this),
      framer_(pipe_),
      context_{pipe_, framer_, port_}
{
    port_.encoder = encoder ? std::move(encoder) : std::make_shared<EncoderModel>();
    for (Firmware* f : firmwares())
        f->install(commands_, context_);
    pipe_.start();  // last: the firmware thread calls into everything above
}

SimBox::~SimBox()
{
    pipe_.stop();
    pipe_.detached();
}

// --- The 8051 side -------------------------------------------------------------

void SimBox::produceLocked(std::int64_t now)
{
    framer_.produce(now);
}

std::int64_t SimBox::nextPacketDueLocked() const
{
    return framer_.nextPacketDue();
}

void SimBox::takeLocked(const Packet& packet, std::int64_t now)
{
    commands_.dispatch(packet, now);
}

void SimBox::powerUpLocked()
{
    framer_.reset();
    port_.powerUp();
    for (Firmware* f : firmwares())
        f->reset();
}

// --- Options and inspection ------------------------------------------------------

void SimBox::setInEndpointOnly(bool inOnly)
{
    std::lock_guard lock(mutex_);
    pipe_.setInEndpointOnly(inOnly);
}

void SimBox::setRecordPeriodMicros(std::int64_t micros)
{
    std::lock_guard lock(mutex_);
    port_.recordPeriodMicros = std::max<std::int64_t>(1, micros);
}

void SimBox::setSamplePeriodMicros(std::int64_t micros)
{
    std::lock_guard lock(mutex_);
    port_.samplePeriodMicros = std::max<std::int64_t>(1, micros);
}

std::int64_t SimBox::samplePeriodMicros() const
{
    std::lock_guard lock(mutex_);
    return port_.samplePeriodMicros;
}

void SimBox::setFifoPackets(int packets)
{
    std::lock_guard lock(mutex_);
    pipe_.setFifoPackets(packets);
}

std::vector<ReceivedPacket> SimBox::receivedPackets() const
{
    std::lock_guard lock(mutex_);
    return pipe_.received();
}

std::size_t SimBox::receivedCount() const
{
    std::lock_guard lock(mutex_);
    return pipe_.received().size();
}

void SimBox::clearReceivedPackets()
{
    std::lock_guard lock(mutex_);
    pipe_.clearReceived();
}

bool SimBox::waitForPackets(std::size_t count, double benchMs) const
{
    return pipe_.waitForPackets(count, benchMs);
}

SimBoxState SimBox::state()
{
    std::lock_guard lock(mutex_);
    framer_.produce(clock_.nowMicros());
    SimBoxState s;
    s.attached = pipe_.isAttached();
    s.powered = port_.powered;
    s.configured = port_.configured;
    s.config = port_.config;
    s.streaming = framer_.streaming();
    s.streamGroup = framer_.group();
    s.streamKind = framer_.kind();
    s.blocksStarted = framer_.blocksStarted();
    const Fx2Pipe::Counters& c = pipe_.counters();
    s.lostBytes = c.lostBytes;
    s.lostBytesTotal = c.lostBytesTotal;
    s.fifoPackets = pipe_.fifoPackets();
    s.fifoBytes = pipe_.fifoBytes();
    s.bytesSent = c.bytesSent;
    s.packetsSent = c.packetsSent;
    s.packetsDropped = c.packetsDropped;
    s.answersSent = c.answersSent;
    s.stalledPackets = c.stalledPackets;
    s.stalledInTransfers = c.stalledInTransfers;
    s.pendingInTransfers = pipe_.pendingInTransfers();
    s.pendingOutTransfers = pipe_.pendingOutTransfers();
    return s;
}

// --- Faults ------------------------------------------------------------------------

void SimBox::setNoAnswer(bool on)
{
    std::lock_guard lock(mutex_);
    pipe_.setNoAnswer(on);
}

void SimBox::setAnswerDelayMs(double ms)
{
    std::lock_guard lock(mutex_);
    pipe_.setAnswerDelayMs(ms);
}

void SimBox::corruptBlocks(int count, int bytesPerBlock)
{
    std::lock_guard lock(mutex_);
    framer_.corruptBlocks(count, bytesPerBlock);
}

void SimBox::dropBlockSync(int count)
{
    std::lock_guard lock(mutex_);
    framer_.dropBlockSync(count);
}

void SimBox::injectCrcErrors(int count)
{
    std::lock_guard lock(mutex_);
    framer_.injectCrcErrors(count);
}

void SimBox::injectCrcErrorEvery(int n)
{
    std::lock_guard lock(mutex_);
    framer_.injectCrcErrorEvery(n);
}

void SimBox::setInStalled(bool on)
{
    std::lock_guard lock(mutex_);
    pipe_.setInStalled(on);
}

void SimBox::setOutFault(OutFault fault)
{
    std::lock_guard lock(mutex_);
    pipe_.setOutFault(fault);
}

// --- Capture and EEPROM firmware -------------------------------------------------------

void SimBox::setCaptureAckStatus(std::optional<int> status)
{
    std::lock_guard lock(mutex_);
    capture_.setAckStatus(status);
}

void SimBox::setCaptureAckDelayMs(double ms)
{
    std::lock_guard lock(mutex_);
    capture_.setAckDelayMs(ms);
}

void SimBox::setCaptureAckAbsent(bool absent)
{
    std::lock_guard lock(mutex_);
    capture_.setAckAbsent(absent);
}

void SimBox::injectCaptureOverflow(int packets)
{
    std::lock_guard lock(mutex_);
    capture_.injectOverflow(packets);
}

std::vector<std::uint8_t> SimBox::captureLog() const
{
    std::lock_guard lock(mutex_);
    return capture_.log();
}

std::vector<std::vector<std::uint8_t>> SimBox::captureTransfers() const
{
    std::lock_guard lock(mutex_);
    return capture_.transfers();
}

std::uint64_t SimBox::captureAcksSent() const
{
    std::lock_guard lock(mutex_);
    return capture_.acksSent();
}

void SimBox::clearCaptureLog()
{
    std::lock_guard lock(mutex_);
    capture_.clearLog();
}

void SimBox::setEepromNoise(bool on)
{
    std::lock_guard lock(mutex_);
    eeprom_.setNoise(on);
}

void SimBox::setEepromBurst(bool on)
{
    std::lock_guard lock(mutex_);
    eeprom_.setBurst(on);
}

// --- SimDevice ------------------------------------------------------------------------

UsbDeviceInfo SimBox::descriptors() const
{
    return pipe_.descriptors();
}

void SimBox::submit(const std::shared_ptr<TransferContext>& t, std::uint64_t attachment)
{
    pipe_.submit(t, attachment);
}

void SimBox::cancel(const std::shared_ptr<TransferContext>& t)
{
    pipe_.cancel(t);
}

void SimBox::attached(std::uint64_t attachment)
{
    pipe_.attached(attachment);
}

void SimBox::detached()
{
    pipe_.detached();
}
