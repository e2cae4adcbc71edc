#pragma once
// What the box streams while a streaming command is in force. The box asks
// its source for one record per record period and does the framing (1024-byte
// blocks behind AA 55 55 AA) and the USB packets itself; a new kind of stream
// is a new source.
#include "simbox/encoder_model.h"
#include "simbox/record_encoding.h"

#include <cstdint>
#include <memory>

// What a stream carries, so that a repeated command keeps its own stream and
// the stop can tell a capture from a position stream.
enum class StreamKind {
    Records,      // 7A: position records or sin/cos samples in 1024-byte blocks
    Capture,      // 5A: capture records back to back
    EepromPairs,  // B5: "AB v" read-back pairs
};

class StreamSource {
public:
    virtual ~StreamSource() = default;
    virtual RecordGroup group() const = 0;
    virtual int recordLength() const = 0;
    // Bench time between two records.
    virtual std::int64_t periodMicros() const = 0;
    // True: records are framed in 1024-byte blocks that begin AA 55 55 AA.
    virtual bool framed() const { return true; }
    virtual StreamKind kind() const { return StreamKind::Records; }
    // The firmware commits a USB packet when it holds this many bytes; below
    // 512 every packet is a short one that ends the host's transfer.
    virtual int packetBytes() const { return 512; }
    // Writes the record taken at `benchMicros` into `out` (recordLength()
    // bytes). `checkFault`: the record's check value comes out wrong (the
    // SPI CRC byte); sources without one ignore it.
    virtual void writeRecord(std::int64_t benchMicros, bool checkFault, std::uint8_t* out) = 0;
};

// Position records of every digital protocol, from the encoder model.
class PositionRecordSource final : public StreamSource {
public:
    PositionRecordSource(std::shared_ptr<const EncoderModel> encoder, const BoxInterfaceConfig& config,
                         std::int64_t periodMicros);
    RecordGroup group() const override { return group_; }
    int recordLength() const override { return recordLengthOf(group_); }
    std::int64_t periodMicros() const override { return period_; }
    void writeRecord(std::int64_t benchMicros, bool checkFault, std::uint8_t* out) override;

private:
    std::shared_ptr<const EncoderModel> encoder_;
    BoxInterfaceConfig config_;
    RecordGroup group_;
    std::int64_t period_;
};

// 10-byte analog sample records of the sin/cos encoder.
class SinCosSampleSource final : public StreamSource {
public:
    SinCosSampleSource(std::shared_ptr<const EncoderModel> encoder, std::int64_t periodMicros);
    RecordGroup group() const override { return RecordGroup::SinCos; }
    int recordLength() const override { return 10; }
    std::int64_t periodMicros() const override { return period_; }
    void writeRecord(std::int64_t benchMicros, bool checkFault, std::uint8_t* out) override;

private:
    std::shared_ptr<const EncoderModel> encoder_;
    std::int64_t period_;
};

// The source for the streaming command under `config`; null when the
// protocol has no stream.
std::unique_ptr<StreamSource> makeStreamSource(const BoxInterfaceConfig& config,
                                               std::shared_ptr<const EncoderModel> encoder,
                                               std::int64_t recordPeriodMicros,
                                               std::int64_t samplePeriodMicros);
