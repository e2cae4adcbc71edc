#pragma once
// The simulated box: an EZ-USB FX2 with the box's descriptors that takes the
// 512-byte command packets on bulk OUT 0x02 and answers on bulk IN 0x86.
//
// Inside, one firmware thread does what the box's firmware does:
//  - takes each OUT packet, logs it and runs the handler of its first byte
//    (fills and headers never share a first byte). This happens at once, on
//    the thread that submits the transfer;
//  - while streaming, takes one record per record period of bench time from
//    its stream source, frames them in 1024-byte blocks and packs them into
//    512-byte USB packets;
//  - keeps those packets in the FX2's small IN FIFO (4 packets by default).
//    When the FIFO is full a new packet is lost and counted in lostBytes;
//  - moves FIFO packets into the host's pending IN transfers. As on a real
//    bulk IN pipe, a transfer of N bytes completes when N bytes have arrived
//    or when a short packet (< 512 bytes, e.g. an answer) ends it.
//
// All timing is on the bench clock: in virtual time the box's record clock
// and answer delays advance with the bench's waits.
#include "simbox/calibration_firmware.h"
#include "simbox/capture_firmware.h"
#include "simbox/eeprom_firmware.h"
#include "simbox/encoder_model.h"
#include "simbox/sim_bus.h"
#include "simbox/stream_source.h"
#include "common/clock.h"

#include <array>
#include <bitset>
#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

struct ReceivedPacket {
    std::vector<std::uint8_t> bytes;
    std::int64_t benchMicros = 0;

    std::uint8_t code() const { return bytes.empty() ? 0 : bytes[0]; }
    // Every byte equals `b`.
    bool isFill(std::uint8_t b) const;
    // Starts with these bytes.
    bool startsWith(std::initializer_list<std::uint8_t> header) const;
};

enum class OutFault {
    None,
    Stall,          // OUT transfers end with a stall; the packet is not taken
    NeverComplete,  // OUT transfers stay pending until cancelled or unplugged
};

struct SimBoxState {
    bool attached = false;
    bool powered = true;      // the encoder's supply
    bool configured = false;  // a "::" packet was taken since plug-in
    BoxInterfaceConfig config;
    bool streaming = false;
    RecordGroup streamGroup = RecordGroup::None;
    StreamKind streamKind = StreamKind::Records;
    std::uint64_t blocksStarted = 0;   // of the current (or last) stream
    std::uint64_t lostBytes = 0;       // lost to a full FIFO since the current stream began
    std::uint64_t lostBytesTotal = 0;
    std::size_t fifoPackets = 0;       // packets waiting in the IN FIFO
    std::size_t fifoBytes = 0;
    std::uint64_t bytesSent = 0;       // delivered to the host
    // Whole packets (answers included) fully handed to host transfers, and
    // packets lost because the FIFO was full with no transfer pending.
    // Like bytesSent and lostBytesTotal they survive a replug.
    std::uint64_t packetsSent = 0;
    std::uint64_t packetsDropped = 0;
    std::uint64_t answersSent = 0;
    std::uint64_t stalledPackets = 0;
};

class SimBox : public SimDevice {
public:
    static constexpr int kPacketSize = 512;

    explicit SimBox(std::shared_ptr<EncoderModel> encoder = nullptr);
    ~SimBox() override;
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    EncoderModel& encoder() { return *encoder_; }
    std::shared_ptr<EncoderModel> encoderPtr() { return encoder_; }

    // Firmware that exposes only the IN endpoint (no OUT 0x02 in the
    // descriptors). The link reads descriptors when it opens the device.
    void setInEndpointOnly(bool inOnly);

    // Bench time between two position records (125 us) and two sin/cos
    // samples (16 us: a 20480-byte sample transfer fills in about 33 ms).
    void setRecordPeriodMicros(std::int64_t micros);
    void setSamplePeriodMicros(std::int64_t micros);
    std::int64_t samplePeriodMicros() const;
    // Size of the IN FIFO in 512-byte packets (4, the FX2's quad buffering).
    void setFifoPackets(int packets);

    // Every OUT packet the box took, in order.
    std::vector<ReceivedPacket> receivedPackets() const;
    std::size_t receivedCount() const;
    void clearReceivedPackets();
    // Waits until at least `count` packets have been taken; false on time-out.
    bool waitForPackets(std::size_t count, double benchMs) const;

    // The state as of now (the stream is brought up to the current bench time).
    SimBoxState state();

    // --- Fault injection -------------------------------------------------
    // Packets are taken (and logged) but nothing is streamed or answered.
    void setNoAnswer(bool on);
    // Answers and the start of a stream come this many bench ms late.
    void setAnswerDelayMs(double ms);
    // The next `count` blocks (-1: every block until called with 0) get
    // `bytesPerBlock` record bytes inverted.
    void corruptBlocks(int count, int bytesPerBlock = 8);
    // The next `count` blocks (-1: all until 0) lack their AA 55 55 AA.
    void dropBlockSync(int count);
    // The next `count` SPI records (-1: all until 0) carry a CRC byte b9 that
    // differs from the CRC field of their word.
    void injectCrcErrors(int count);
    void setOutFault(OutFault fault);
    // Every `n`th SPI record (0: none) carries a wrong CRC byte b9, besides
    // the records counted by injectCrcErrors.
    void injectCrcErrorEvery(int n);

    // --- Capture firmware (5A, 6A) -----------------------------------------
    // The acknowledgement after a capture's stop: a forced status byte
    // (none: 0, or kCaptureOverflowStatus after data was lost), a delay in
    // bench ms, or no acknowledgement at all.
    void setCaptureAckStatus(std::optional<int> status);
    void setCaptureAckDelayMs(double ms);
    void setCaptureAckAbsent(bool absent);
    // The next `packets` capture packets are lost as if the host had not read
    // in time (the acknowledgement then reports the loss).
    void injectCaptureOverflow(int packets);
    // Capture bytes delivered to the host since the last clear: all of them,
    // and as the host's transfers took them (a transfer ended by a
    // zero-length packet is an empty entry; one the host cancelled counts
    // with the bytes it had taken).
    std::vector<std::uint8_t> captureLog() const;
    std::vector<std::vector<std::uint8_t>> captureTransfers() const;
    std::uint64_t captureAcksSent() const;
    void clearCaptureLog();

    // --- EEPROM firmware (B4, B5) ------------------------------------------
    // A line-noise byte (never AB) before every read-back pair.
    void setEepromNoise(bool on);

    // The encoder's calibration firmware: kind, stored values, outcomes.
    CalibrationFirmware& calibration() { return calibration_; }

    // --- SimDevice -------------------------------------------------------
    UsbDeviceInfo descriptors() const override;
    void submit(const std::shared_ptr<TransferContext>& transfer, std::uint64_t attachment) override;
    void cancel(const std::shared_ptr<TransferContext>& transfer) override;
    void attached(std::uint64_t attachment) override;
    void detached() override;

private:
    using Packet = std::vector<std::uint8_t>;
    using Handler = void (SimBox::*)(const Packet& packet, std::int64_t now);

    struct PendingIn {
        std::shared_ptr<TransferContext> transfer;
        int filled = 0;
        bool capture = false;                // took capture bytes
        std::vector<std::uint8_t> captured;  // those bytes
    };
    struct DelayedAnswer {
        std::int64_t dueMicros = 0;
        Packet bytes;
        bool waitForRoom = false;
    };
    struct FifoPacket {
        Packet bytes;
        bool capture = false;
    };
    struct Stream {
        std::unique_ptr<StreamSource> source;
        std::int64_t nextRecordMicros = 0;
        int blockPos = 0;              // write position in the current block
        bool blockSyncless = false;
        std::bitset<kStreamBlockSize> flips;  // corrupted offsets of the current block
        Packet packet;                 // USB packet being filled
    };

    void run();
    void registerHandlers();
    void resetFirmwareLocked();

    // Firmware steps, all with mutex_ held.
    void takeOutPacketLocked(const std::shared_ptr<TransferContext>& t, std::int64_t now);
    void produceLocked(std::int64_t now);
    void releaseAnswersLocked(std::int64_t now);
    void deliverLocked();
    std::int64_t nextWakeLocked() const;

    // Services for the command handlers.
    void startStreamLocked(std::unique_ptr<StreamSource> source, std::int64_t now);
    void stopStreamLocked();
    void sendAnswerLocked(Packet bytes, std::int64_t now);
    // One short packet at `dueMicros` (plus the injected answer delay).
    void sendShortPacketLocked(Packet bytes, std::int64_t now, std::int64_t dueMicros);
    // A packet for the IN FIFO. When the FIFO is full it is lost, unless
    // `waitForRoom` (the firmware waits: the end of a capture, its
    // acknowledgement). `capture`: the bytes go to the capture log when delivered.
    void commitPacketLocked(Packet packet, bool waitForRoom = false, bool capture = false);
    bool streamKindIs(StreamKind kind) const;

    // Stream framing.
    void emitRecordLocked(std::int64_t recordMicros);
    void startBlockLocked();
    void appendStreamLocked(const std::uint8_t* bytes, int n);
    static bool takeFaultLocked(int& counter);

    // Command handlers, one per first byte.
    void onPowerOn(const Packet& p, std::int64_t now);
    void onPowerOff(const Packet& p, std::int64_t now);
    void onConfigBegin(const Packet& p, std::int64_t now);
    void onConfig(const Packet& p, std::int64_t now);
    void onConfigQuery(const Packet& p, std::int64_t now);
    void onStream(const Packet& p, std::int64_t now);
    void onStop(const Packet& p, std::int64_t now);
    void onResetAngle(const Packet& p, std::int64_t now);
    void onResetTurns(const Packet& p, std::int64_t now);
    void onCalibration(const Packet& p, std::int64_t now);
    // capture_firmware.cpp
    void onCapture(const Packet& p, std::int64_t now);
    void endCaptureLocked(std::int64_t now);
    void commitCapturePacketLocked(Packet packet);
    void logCaptureLocked(PendingIn& in);
    // eeprom_firmware.cpp
    void onEepromWrite(const Packet& p, std::int64_t now);
    void onEepromRead(const Packet& p, std::int64_t now);

    std::shared_ptr<EncoderModel> encoder_;
    std::array<Handler, 256> handlers_{};

    mutable std::mutex mutex_;
    Clock& clock_;
    // Written inside clock updates: the firmware thread's wake-up and end.
    bool kicked_ = false;
    bool quit_ = false;
    std::atomic<std::size_t> logCount_{0};  // log_.size(), for waitForPackets
    void kick();

    // Device identity and options.
    bool inOnly_ = false;
    std::uint64_t attachment_ = 0;
    std::int64_t recordPeriod_ = 125;
    std::int64_t samplePeriod_ = 16;
    std::size_t fifoCapacity_ = 4;

    // Firmware state.
    SimBoxState state_;
    std::array<std::uint8_t, 6> configHeader_{};
    std::unique_ptr<Stream> stream_;
    std::deque<FifoPacket> fifo_;
    std::size_t fifoHeadOffset_ = 0;  // bytes of the front packet already delivered
    std::vector<std::shared_ptr<TransferContext>> stuckOut_;
    std::deque<PendingIn> inQueue_;
    std::vector<DelayedAnswer> delayed_;
    std::vector<ReceivedPacket> log_;

    // Faults.
    bool noAnswer_ = false;
    double answerDelayMs_ = 0;
    int corruptBlocks_ = 0;
    int corruptBytesPerBlock_ = 8;
    int synclessBlocks_ = 0;
    int crcErrors_ = 0;
    OutFault outFault_ = OutFault::None;
    int crcEvery_ = 0;
    std::uint64_t spiRecords_ = 0;
    std::mt19937 rng_{0x5EEDu};

    CalibrationFirmware calibration_;
    CaptureFirmware capture_;
    EepromFirmware eeprom_;

    std::unique_ptr<ClockThread> thread_;  // last: starts once everything above exists
};
