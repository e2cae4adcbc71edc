#include "measure/config_record.h"

#include <QByteArray>
#include <QStringDecoder>

namespace {

constexpr std::size_t kTextsOffset = 15;
constexpr std::size_t kMaxTextBytes = 255;
// Field widths 1..7 sit at bytes 2..8, widths 8..10 at bytes 12..14.
constexpr std::size_t kWidthOffset[10] = {2, 3, 4, 5, 6, 7, 8, 12, 13, 14};

std::uint8_t low8(int v)
{
    return static_cast<std::uint8_t>(v & 0xFF);
}

}  // namespace

ClockTurn decodeClockTurnByte(std::uint8_t byte)
{
    return ClockTurn{byte & 0xFE, byte & 0x01};
}

std::optional<QString> encodeConfigRecord(const ConfigRecordValues& values, ConfigRecordBytes& out)
{
    std::array<QByteArray, 11> texts;
    std::size_t textBytes = 0;
    for (int i = 0; i < 11; ++i) {
        texts[i] = (i < 10 ? values.fieldLabel[i] : values.description).toUtf8();
        if (static_cast<std::size_t>(texts[i].size()) > kMaxTextBytes) {
            const QString which = i < 10 ? QStringLiteral("Label %1").arg(i + 1) : QStringLiteral("The description");
            return QStringLiteral("%1 is too long for a configuration file (%2 bytes, at most %3).")
                .arg(which)
                .arg(texts[i].size())
                .arg(kMaxTextBytes);
        }
        textBytes += 1 + texts[i].size();
    }
    // The texts and their length bytes share the record with the 15 leading
    // bytes and the code byte.
    const std::size_t room = kConfigRecordSize - kTextsOffset - 1;
    if (textBytes > room)
        return QStringLiteral("The labels and the description are too long for a configuration file "
                              "(%1 bytes, at most %2).")
            .arg(textBytes)
            .arg(room);

    ConfigRecordBytes r{};
    r[1] = low8(values.protocolCode);
    for (int k = 0; k < 10; ++k)
        r[kWidthOffset[k]] = low8(values.fieldWidth[k]);
    r[9] = low8(values.fieldCount);
    r[10] = low8(values.clockCode + values.turnMode);
    r[11] = low8(values.gaugeField);
    std::size_t pos = kTextsOffset;
    for (const QByteArray& text : texts) {
        r[pos++] = static_cast<std::uint8_t>(text.size());
        for (char ch : text)
            r[pos++] = static_cast<std::uint8_t>(ch);
    }
    r[pos] = low8(values.codeMode);
    out = r;
    return std::nullopt;
}

QString decodeConfigText(std::span<const std::uint8_t> bytes)
{
    const QByteArrayView view(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb("GB18030", QStringDecoder::Flag::Stateless);
    if (!gb.isValid())
        return text;  // no GB18030 converter: keep the replacement characters
    return gb.decode(view);
}

std::optional<ConfigRecordValues> decodeConfigRecord(std::span<const std::uint8_t> file)
{
    if (file.size() != kConfigRecordSize)
        return std::nullopt;

    ConfigRecordValues v;
    v.protocolCode = file[1];
    for (int k = 0; k < 10; ++k)
        v.fieldWidth[k] = file[kWidthOffset[k]];
    v.fieldCount = file[9];
    const ClockTurn ct = decodeClockTurnByte(file[10]);
    v.clockCode = ct.clockCode;
    v.turnMode = ct.turnMode;
    v.gaugeField = file[11];

    std::size_t pos = kTextsOffset;
    for (int i = 0; i < 11; ++i) {
        const std::size_t len = file[pos];
        // The length byte, the text and, after the last text, the code byte
        // must all lie inside the record.
        if (pos + 1 + len >= kConfigRecordSize)
            return std::nullopt;
        const QString text = decodeConfigText(file.subspan(pos + 1, len));
        if (i < 10)
            v.fieldLabel[i] = text;
        else
            v.description = text;
        pos += 1 + len;
    }
    v.codeMode = file[pos] == 128 ? 128 : 0;
    return v;
}
