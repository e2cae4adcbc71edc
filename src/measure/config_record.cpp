#include "measure/config_record.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringEncoder>

#include "common/file_io.h"
#include "interface/interface_settings.h"

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

namespace {

// The bytes a text may be stored as: UTF-8 always; GB18030 too when the
// loader reads those bytes back as the same text (they must not happen to
// be valid UTF-8 of another text).
struct TextChoices {
    QByteArray utf8;
    std::optional<QByteArray> gb18030;
};

TextChoices textChoices(const QString& text)
{
    TextChoices c{text.toUtf8(), std::nullopt};
    QStringEncoder gb("GB18030", QStringEncoder::Flag::Stateless);
    if (!gb.isValid())
        return c;
    QByteArray bytes = gb.encode(text);
    if (gb.hasError() || bytes == c.utf8)
        return c;
    const auto view = std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                static_cast<std::size_t>(bytes.size()));
    if (decodeConfigText(view) == text)
        c.gb18030 = std::move(bytes);
    return c;
}

}  // namespace

std::optional<QString> encodeConfigRecord(const ConfigRecordValues& values, ConfigRecordBytes& out)
{
    // Texts go in as UTF-8. One that does not fit that way (a long Chinese
    // label from a Windows installation takes 3 bytes a character in UTF-8,
    // 2 in GB18030) is stored in GB18030, which the loader reads back, so such
    // files round-trip. Only when neither fits is the user told.
    std::array<TextChoices, 11> choices;
    std::array<QByteArray, 11> texts;
    for (int i = 0; i < 11; ++i) {
        choices[i] = textChoices(i < 10 ? values.fieldLabel[i] : values.description);
        texts[i] = choices[i].utf8;
        if (texts[i].size() > static_cast<qsizetype>(kMaxTextBytes) && choices[i].gb18030
            && choices[i].gb18030->size() < texts[i].size())
            texts[i] = *choices[i].gb18030;
    }
    // The texts and their length bytes share the record with the 15 leading
    // bytes and the code byte.
    const std::size_t room = kConfigRecordSize - kTextsOffset - 1;
    auto total = [&texts] {
        std::size_t bytes = 0;
        for (const QByteArray& t : texts)
            bytes += 1 + static_cast<std::size_t>(t.size());
        return bytes;
    };
    // Over all: switch the texts that gain most first, until the record fits.
    while (total() > room) {
        int best = -1;
        qsizetype bestGain = 0;
        for (int i = 0; i < 11; ++i) {
            if (!choices[i].gb18030 || texts[i] == *choices[i].gb18030)
                continue;
            const qsizetype gain = texts[i].size() - choices[i].gb18030->size();
            if (gain > bestGain) {
                best = i;
                bestGain = gain;
            }
        }
        if (best < 0)
            break;
        texts[best] = *choices[best].gb18030;
    }
    for (int i = 0; i < 11; ++i) {
        if (static_cast<std::size_t>(texts[i].size()) > kMaxTextBytes) {
            const QString which = i < 10 ? QStringLiteral("Label %1").arg(i + 1) : QStringLiteral("The description");
            return QStringLiteral("%1 is too long for a configuration file (%2 bytes, at most %3).")
                .arg(which)
                .arg(texts[i].size())
                .arg(kMaxTextBytes);
        }
    }
    if (total() > room)
        return QStringLiteral("The labels and the description are too long for a configuration file "
                              "(%1 bytes, at most %2).")
            .arg(total())
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

std::optional<ConfigRecordValues> decodeConfigRecord(std::span<const std::uint8_t> file, QString* problem)
{
    if (file.size() < kConfigRecordSize) {
        if (problem)
            *problem = QStringLiteral("it holds %1 bytes, a configuration record %2").arg(file.size()).arg(kConfigRecordSize);
        return std::nullopt;
    }
    if (file.size() > kConfigRecordSize) {
        if (problem)
            *problem = QStringLiteral("it is longer than a configuration record (%1 bytes)").arg(kConfigRecordSize);
        return std::nullopt;
    }

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
        if (pos + 1 + len >= kConfigRecordSize) {
            if (problem)
                *problem = QStringLiteral("the %1 (%2 bytes from byte %3) runs past the end of the %4-byte record")
                               .arg(i < 10 ? QStringLiteral("text of label %1").arg(i + 1) : QStringLiteral("description"))
                               .arg(len)
                               .arg(pos + 1)
                               .arg(kConfigRecordSize);
            return std::nullopt;
        }
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

ConfigRecordFile readConfigRecordFile(const QString& path, bool firstRecordOfLonger)
{
    ConfigRecordFile result;
    // One byte more than a record, so that a longer file is seen as such
    // without reading it.
    QString error;
    const std::optional<QByteArray> bytes = fileio::readBounded(path, kConfigRecordSize + 1, &error);
    if (!bytes) {
        result.error = error;
        return result;
    }
    QString problem;
    std::size_t size = static_cast<std::size_t>(bytes->size());
    if (firstRecordOfLonger && size > kConfigRecordSize)
        size = kConfigRecordSize;
    const auto span = std::span(reinterpret_cast<const std::uint8_t*>(bytes->constData()), size);
    result.record = decodeConfigRecord(span, &problem);
    if (!result.record) {
        const bool wholeRecord = span.size() == kConfigRecordSize;
        result.error = QLatin1Char('\'') + path + QLatin1Char('\'')
                       + (wholeRecord ? QStringLiteral(" is a damaged configuration file: ")
                                      : QStringLiteral(" is not a configuration file: "))
                       + problem;
    }
    return result;
}

QString writeConfigRecordFile(const QString& path, const ConfigRecordValues& values)
{
    ConfigRecordBytes bytes{};
    if (std::optional<QString> error = encodeConfigRecord(values, bytes))
        return *error;
    QString error;
    if (!fileio::writeFileSafely(path, QByteArrayView(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<qsizetype>(bytes.size())),
                                 &error))
        return error;
    return {};
}

ConfigRecordValues configRecordValuesOf(const InterfaceSettings& s)
{
    ConfigRecordValues v;
    v.protocolCode = s.protocolCode;
    v.fieldWidth = s.fieldWidth;
    v.fieldCount = static_cast<int>(s.fieldCount);
    v.clockCode = s.clockCode;
    v.turnMode = s.turnMode;
    v.gaugeField = s.gaugeField;
    v.fieldLabel = s.fieldLabel;
    v.description = s.description;
    v.codeMode = s.codeMode;
    return v;
}

QByteArray configRecordBytesOf(const InterfaceSettings& s)
{
    ConfigRecordBytes bytes{};
    if (encodeConfigRecord(configRecordValuesOf(s), bytes))
        return {};  // the editor keeps texts that fit; nothing to keep otherwise
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}
