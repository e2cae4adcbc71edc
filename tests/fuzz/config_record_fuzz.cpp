// The configuration record: decoding any bytes, and encoding any texts.
// A record that decodes re-encodes to a record that decodes to the same
// values; texts that encode read back unchanged (the GB18030 fallback must
// never store bytes that load as another text).
#include "fuzz_input.h"
#include "measure/config_record.h"

#include <QString>

namespace {

void checkSameValues(const ConfigRecordValues& a, const ConfigRecordValues& b)
{
    FUZZ_CHECK(a.protocolCode == b.protocolCode);
    FUZZ_CHECK(a.fieldWidth == b.fieldWidth);
    FUZZ_CHECK(a.fieldCount == b.fieldCount);
    FUZZ_CHECK(a.clockCode == b.clockCode && a.turnMode == b.turnMode);
    FUZZ_CHECK(a.gaugeField == b.gaugeField);
    FUZZ_CHECK(a.fieldLabel == b.fieldLabel);
    FUZZ_CHECK(a.description == b.description);
    FUZZ_CHECK(a.codeMode == b.codeMode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    if (in.u8() & 1) {
        // Bytes as a file.
        QString problem;
        const std::span<const std::uint8_t> file = in.rest();
        const std::optional<ConfigRecordValues> v = decodeConfigRecord(file, &problem);
        FUZZ_CHECK(v.has_value() == problem.isEmpty());
        if (!v)
            return 0;
        ConfigRecordBytes again{};
        if (encodeConfigRecord(*v, again))
            return 0;  // decoded replacement characters may not fit again
        const std::optional<ConfigRecordValues> back = decodeConfigRecord(again);
        FUZZ_CHECK(back.has_value());
        checkSameValues(*v, *back);
        return 0;
    }
    // Values from the input: eleven texts of random length in UTF-8 or UTF-16.
    ConfigRecordValues v;
    v.protocolCode = in.u8();
    for (int& w : v.fieldWidth)
        w = in.u8();
    v.fieldCount = in.u8();
    v.clockCode = in.u8() & 0xFE;
    v.turnMode = in.u8() & 1;
    v.gaugeField = in.u8();
    v.codeMode = in.bit() ? 128 : 0;
    for (int i = 0; i < 11; ++i) {
        const std::uint8_t head = in.u8();
        const std::span<const std::uint8_t> t = in.bytes(head & 0x7F);
        QString text = head & 0x80
                           ? QString(reinterpret_cast<const QChar*>(t.data()), static_cast<qsizetype>(t.size() / 2))
                           : QString::fromUtf8(reinterpret_cast<const char*>(t.data()), static_cast<qsizetype>(t.size()));
        // Repeat it to reach the lengths where the fallback matters.
        text = text.repeated(1 + in.u8() % 8);
        (i < 10 ? v.fieldLabel[i] : v.description) = text;
    }
    ConfigRecordBytes r{};
    r.fill(0x5A);
    const std::optional<QString> error = encodeConfigRecord(v, r);
    if (error) {
        FUZZ_CHECK(r[0] == 0x5A);  // nothing written
        return 0;
    }
    const std::optional<ConfigRecordValues> back = decodeConfigRecord(r);
    FUZZ_CHECK(back.has_value());
    // Texts holding lone surrogates cannot be stored; everything else must
    // come back exactly.
    for (int i = 0; i < 11; ++i) {
        const QString& text = i < 10 ? v.fieldLabel[i] : v.description;
        const QString& got = i < 10 ? back->fieldLabel[i] : back->description;
        if (QString::fromUtf8(text.toUtf8()) == text)
            FUZZ_CHECK(got == text);
    }
    return 0;
}
