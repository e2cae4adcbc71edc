#include "simbox/stream_source.h"

PositionRecordSource::PositionRecordSource(std::shared_ptr<const EncoderModel> encoder,
                                           const BoxInterfaceConfig& config, std::int64_t periodMicros)
    : encoder_(std::move(encoder)), config_(config), group_(config.group()), period_(periodMicros)
{
}

void PositionRecordSource::writeRecord(std::int64_t t, bool checkFault, std::uint8_t* out)
{
    const RecordValue r = encoder_->recordValueAt(group_, config_, t);
    switch (group_) {
    case RecordGroup::SyncSerial:
    case RecordGroup::Incremental: encodeSixByteRecord(r.value, out); break;
    case RecordGroup::Spi: {
        // The box's own CRC of the data; a transmission fault makes it
        // disagree with the CRC field inside the word.
        const std::uint8_t crc = checkFault ? static_cast<std::uint8_t>(r.crc ^ 0x3F) : r.crc;
        encodeSpiRecord(r.value, crc, out);
        break;
    }
    case RecordGroup::Rs485: encodeRs485Record(r.value, out); break;
    case RecordGroup::Rs485Ab: encodeRs485AbRecord(r.value, out); break;
    case RecordGroup::RxOnly: encodeRxOnlyRecord(static_cast<std::uint32_t>(r.value), out); break;
    case RecordGroup::SinCos:
    case RecordGroup::None: break;
    }
}

SinCosSampleSource::SinCosSampleSource(std::shared_ptr<const EncoderModel> encoder, std::int64_t periodMicros)
    : encoder_(std::move(encoder)), period_(periodMicros)
{
}

void SinCosSampleSource::writeRecord(std::int64_t t, bool /*checkFault*/, std::uint8_t* out)
{
    const SinCosSample s = encoder_->sinCosAt(t);
    encodeSinCosRecord(s.codes, s.count, out);
}

std::unique_ptr<StreamSource> makeStreamSource(const BoxInterfaceConfig& config,
                                               std::shared_ptr<const EncoderModel> encoder,
                                               std::int64_t recordPeriodMicros,
                                               std::int64_t samplePeriodMicros)
{
    switch (config.group()) {
    case RecordGroup::None: return nullptr;
    case RecordGroup::SinCos:
        return std::make_unique<SinCosSampleSource>(std::move(encoder), samplePeriodMicros);
    default:
        return std::make_unique<PositionRecordSource>(std::move(encoder), config, recordPeriodMicros);
    }
}
