#pragma once
// The simulated box: an EZ-USB FX2 with the box's descriptors that takes the
// 512-byte command packets on bulk OUT 0x02 and answers on bulk IN 0x86.
//
// The box is put together from parts, all under one lock:
//  - the FX2 pipe (fx2_pipe.h): endpoints, the small IN FIFO, the host's
//    pending IN transfers and the firmware thread;
//  - the command table (command_dispatcher.h) that hands each OUT packet to
//    the firmware of its first byte, at once, on the submitting thread;
//  - the stream framer (stream_framer.h): one record per record period of
//    bench time, framed in 1024-byte blocks and packed into USB packets;
//  - the firmware pieces (firmware.h): interface, capture, EEPROM and
//    calibration firmware, each registering its own commands.
// This class owns them, keeps the settings and faults the tests and tools
// use, and is the device on the simulated bus.
//
// All timing is on the bench clock: in virtual time the box's record clock
// and answer delays advance with the bench's waits.
#include "simbox/calibration_firmware.h"
#include "simbox/capture_firmware.h"
#include "simbox/command_dispatcher.h"
#include "simbox/eeprom_firmware.h"
#include "simbox/encoder_model.h"
#include "simbox/firmware.h"
#include "simbox/fx2_pipe.h"
#include "simbox/interface_firmware.h"
#include "simbox/sim_bus.h"
#include "simbox/stream_framer.h"
#include "simbox/stream_source.h"
#include "common/clock.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

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
    std::uint64_t stalledInTransfers = 0;
    // Host transfers the box holds now (cancelled or completed ones are gone).
    std::size_t pendingInTransfers = 0;
    std::size_t pendingOutTransfers = 0;
};

class SimBox : public SimDevice, private Fx2Core {
public:
    static constexpr int kPacketSize = Fx2Pipe::kPacketSize;

    explicit SimBox(std::shared_ptr<EncoderModel> encoder = nullptr);
    ~SimBox() override;
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    EncoderModel& encoder() { return *port_.encoder; }
    std::shared_ptr<EncoderModel> encoderPtr() { return port_.encoder; }

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
    // Every IN transfer fails at once (a stalled endpoint); counted in
    // SimBoxState::stalledInTransfers.
    void setInStalled(bool on);
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
    // The read-back answered in one packet at once (EepromFirmware::setBurst).
    void setEepromBurst(bool on);

    // The encoder's calibration firmware: kind, stored values, outcomes.
    CalibrationFirmware& calibration() { return calibration_; }

    // --- SimDevice -------------------------------------------------------
    UsbDeviceInfo descriptors() const override;
    void submit(const std::shared_ptr<TransferContext>& transfer, std::uint64_t attachment) override;
    void cancel(const std::shared_ptr<TransferContext>& transfer) override;
    void attached(std::uint64_t attachment) override;
    void detached() override;

private:
    // The FX2's 8051 side, as the pipe calls it.
    void produceLocked(std::int64_t now) override;
    std::int64_t nextPacketDueLocked() const override;
    void takeLocked(const Packet& packet, std::int64_t now) override;
    void powerUpLocked() override;
    // The capture firmware goes before the interface firmware: on 6A the
    // capture's tail and acknowledgement go out before the stream stops.
    std::array<Firmware*, 4> firmwares() { return {&capture_, &eeprom_, &calibration_, &interface_}; }

    Clock& clock_;
    mutable std::mutex mutex_;  // the box's lock: every part works under it
    EncoderPort port_;
    Fx2Pipe pipe_;
    StreamFramer framer_;
    CommandDispatcher commands_;
    FirmwareContext context_;
    InterfaceFirmware interface_;
    CaptureFirmware capture_;
    EepromFirmware eeprom_;
    CalibrationFirmware calibration_;
};
