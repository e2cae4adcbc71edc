#include "measure/accuracy_sampler.h"

#include "measure/block_walk.h"

RecordFormat accuracyRecordFormat(const ModeFlags& modes)
{
    if (modes.syncSerialMode)
        return RecordFormat::SyncSerial6;
    if (modes.spiMode)
        return RecordFormat::Spi10;
    if (modes.rs485Mode)
        return RecordFormat::Rs485_10;
    if (modes.rs485AbMode)
        return RecordFormat::Rs485Ab10;
    if (modes.rxOnlyMode)
        return RecordFormat::RxOnly4;
    return RecordFormat::None;
}

int findAccuracySync(std::span<const std::uint8_t> transfer)
{
    const int length = static_cast<int>(transfer.size());
    for (int i = kAccuracySyncSearchStart; i + 4 <= length; ++i) {
        if (streamSyncAt(transfer, i))
            return i;
    }
    return -1;
}

AccuracyPick pickAccuracySample(std::span<const std::uint8_t> transfer, const FrameLayout& layout,
                                std::int64_t previousValue,
                                const std::array<std::int64_t, kMaxFields>& previousFields)
{
    AccuracyPick pick;
    const int sync = findAccuracySync(transfer);
    if (sync < 0)
        return pick;
    pick.kind = AccuracyPickKind::NoSample;

    const RecordFormat format = accuracyRecordFormat(layout.modes);
    const bool gaugeSet = layout.gaugeField >= 1 && layout.gaugeField <= kMaxFields;
    if (format == RecordFormat::None || !gaugeSet)
        return pick;

    const int length = static_cast<int>(transfer.size());
    walkBlockRecords(transfer, sync, recordLength(format), length - 5, [&](int p) {
        const ParsedRecord r = parseRecord(transfer.data() + p, format);
        if (r.sync)
            return true;
        const DecodedFrame d = decodeFields(r.value, layout, previousFields);
        pick.lastValue = r.value;
        pick.lastDecoded = d;
        if (layout.modes.spiCrcMode && d.spiCrcField && *d.spiCrcField != r.spiCrcByte) {
            pick.kind = AccuracyPickKind::CrcMismatch;
            return false;
        }
        const double angle = d.gaugeAngle.value_or(0.0);
        if (angle <= kAccuracyMinAngle)
            return false;
        if (r.value == previousValue)
            return true;
        pick.kind = AccuracyPickKind::Sample;
        pick.value = r.value;
        pick.angle = angle;
        return false;
    });
    return pick;
}
