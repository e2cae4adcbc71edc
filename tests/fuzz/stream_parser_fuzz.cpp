// The stream parser and the record walk on any transfer, checked against a
// plain restatement of the walk.
#include "fuzz_input.h"
#include "interface/stream_parser.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    static constexpr RecordFormat kFormats[] = {RecordFormat::None, RecordFormat::SyncSerial6, RecordFormat::Spi10,
                                                RecordFormat::Rs485_10, RecordFormat::Rs485Ab10, RecordFormat::RxOnly4};
    const RecordFormat format = kFormats[in.u8() % 6];
    const std::int64_t shown = static_cast<std::int64_t>(in.u64() & 0x00FFFFFFFFFFFFFFull);
    const std::uint8_t control = in.u8();
    const int stopAfter = control & 0x7F;
    // The body of the input; when asked, made longer with repeats so that
    // sync pairs 1024 bytes apart can occur in a short input.
    const std::span<const std::uint8_t> body = in.rest();
    std::vector<std::uint8_t> transfer(body.begin(), body.end());
    if ((control & 0x80) && !transfer.empty() && transfer.size() < 1100)
        while (transfer.size() < 2100)
            transfer.insert(transfer.end(), body.begin(), body.end());
    const int length = static_cast<int>(transfer.size());

    const int sync = findSyncPair(transfer.data(), length);
    FUZZ_CHECK(sync >= -1 && sync + 1028 <= std::max(length, 1028));

    int visited = 0;
    const RecordWalk walk = walkRecords(transfer.data(), length, format, shown, [&](const ParsedRecord& r) {
        FUZZ_CHECK(!r.sync);
        FUZZ_CHECK(r.value == shown);
        return ++visited < stopAfter || stopAfter == 0;
    });
    FUZZ_CHECK(walk.synced == (sync >= 0));
    FUZZ_CHECK(walk.recordsParsed >= 0);
    if (!walk.synced)
        FUZZ_CHECK(walk.recordsParsed == 0 && !walk.lastValue && !walk.changedValue);
    if (walk.changedValue) {
        FUZZ_CHECK(*walk.changedValue != shown);
        FUZZ_CHECK(walk.lastValue == walk.changedValue);
    }
    FUZZ_CHECK(visited <= walk.recordsParsed);

    // Every record of the transfer parses without reading past it.
    const int len = recordLength(format);
    for (int at = 0; len > 0 && at + len <= length; at += len) {
        const ParsedRecord r = parseRecord(transfer.data() + at, format);
        FUZZ_CHECK(r.value >= 0 && r.value < (std::int64_t{1} << 56));
        if (format != RecordFormat::Spi10)
            FUZZ_CHECK(r.spiCrcByte == 0);
    }
    return 0;
}
