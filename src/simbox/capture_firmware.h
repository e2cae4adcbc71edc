#pragma once
// The box's capture firmware. On a 5A packet the box streams capture records
// back to back, without block framing, one record per record period, in
// full 512-byte packets through the IN FIFO; the host takes them in
// transfers of up to 40960 bytes. On the 6A stop the packet being filled goes
// out as a short packet (a zero-length one when it is empty), so the host's
// partial transfer ends, and the acknowledgement 6A, 00, 6A, status follows
// as a short packet of its own. Status 0 means that the stream was complete;
// data lost to a full FIFO makes it kCaptureOverflowStatus.
//
// Record layouts, as a decimal report reads them:
//  - BISS, SSI, TTL, HTL: 6 bytes, value = r4 r5 r2 r3 r0 r1;
//  - RS485: 10 bytes, turns r7 r4 r5, single-turn r3 r0 r1, warning r8;
//  - RS485+AB: 10 bytes, counter r9 r6 r7, single-turn r3 r0 r1, warning r8;
//  - SPI: 10 bytes, the 48-bit word in r1..r6 and the box's CRC byte of the
//    record in byte 0 of the record after it;
//  - sin/cos and the ADC front ends: the 10-byte sample record;
//  - receive-only: the 4-byte record followed by six zero bytes.
#include "simbox/firmware.h"
#include "simbox/stream_source.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

inline constexpr int kCaptureTransferBytes = 40960;
inline constexpr std::uint8_t kCaptureOverflowStatus = 0x01;

int captureRecordLengthOf(RecordGroup group);

// value = r7*2^48 + r4*2^40 + r5*2^32 + r3*2^24 + r0*2^16 + r1*2^8 + r8, the
// layout of the RS485 stream value (turns, single-turn, status byte).
void encodeRs485CaptureRecord(std::uint64_t value56, std::uint8_t* out);

class CaptureRecordSource final : public StreamSource {
public:
    CaptureRecordSource(std::shared_ptr<const EncoderModel> encoder, const BoxInterfaceConfig& config,
                        std::int64_t periodMicros);
    RecordGroup group() const override { return group_; }
    int recordLength() const override { return captureRecordLengthOf(group_); }
    std::int64_t periodMicros() const override { return period_; }
    bool framed() const override { return false; }
    StreamKind kind() const override { return StreamKind::Capture; }
    void writeRecord(std::int64_t benchMicros, bool checkFault, std::uint8_t* out) override;

private:
    std::shared_ptr<const EncoderModel> encoder_;
    BoxInterfaceConfig config_;
    RecordGroup group_;
    std::int64_t period_;
    std::uint8_t previousCrc_ = 0;  // SPI: goes into the next record
};

// The capture firmware: 5A starts the capture, 6A ends it. Its settings are
// injected behaviour; it logs the capture bytes each host transfer took.
class CaptureFirmware final : public Firmware {
public:
    void install(CommandDispatcher& commands, const FirmwareContext& box) override;
    // Settings and the log survive a replug.
    void reset() override {}

    // The acknowledgement: a forced status byte (none: from the FIFO), the
    // bench ms between the stop and it, or none at all.
    void setAckStatus(std::optional<int> status) { ackStatus_ = status; }
    void setAckDelayMs(double ms);
    void setAckAbsent(bool absent) { ackAbsent_ = absent; }
    // The next capture packets are lost as if the FIFO were full.
    void injectOverflow(int packets);

    // Capture bytes per completed host transfer, in order (a zero-length
    // packet gives an empty entry).
    const std::vector<std::vector<std::uint8_t>>& transfers() const { return transfers_; }
    std::vector<std::uint8_t> log() const;
    void clearLog() { transfers_.clear(); }
    std::uint64_t acksSent() const { return acksSent_; }

private:
    using Packet = CommandDispatcher::Packet;

    void onCapture(const Packet& p, std::int64_t now);
    void onStop(const Packet& p, std::int64_t now);
    void commitPacket(Packet packet);

    const FirmwareContext* box_ = nullptr;
    std::optional<int> ackStatus_;
    double ackDelayMs_ = 0.0;
    bool ackAbsent_ = false;
    int overflowPackets_ = 0;
    std::uint64_t acksSent_ = 0;
    std::vector<std::vector<std::uint8_t>> transfers_;
};
