#include "measure/config_record.h"

#include "interface/interface_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

ConfigRecordValues defaultBiss()
{
    ConfigRecordValues v;
    v.protocolCode = 0;
    v.fieldWidth = {15, 17, 2, 0, 0, 0, 0, 0, 0, 0};
    v.fieldCount = 3;
    v.clockCode = 18;
    v.turnMode = 0;
    v.gaugeField = 0;
    v.fieldLabel[0] = "St";
    v.fieldLabel[1] = "Error";
    v.fieldLabel[2] = "Warning";
    v.codeMode = 0;
    return v;
}

ConfigRecordBytes encoded(const ConfigRecordValues& v)
{
    ConfigRecordBytes r{};
    const std::optional<QString> error = encodeConfigRecord(v, r);
    EXPECT_FALSE(error.has_value()) << (error ? error->toStdString() : "");
    return r;
}

}  // namespace

TEST(ConfigRecord, DefaultBissRecordBytes)
{
    const ConfigRecordBytes r = encoded(defaultBiss());
    std::vector<std::uint8_t> expected{0x00, 0x00, 0x0F, 0x11, 0x02, 0x00, 0x00, 0x00,
                                       0x00, 0x03, 0x12, 0x00, 0x00, 0x00, 0x00};
    for (const char* text : {"St", "Error", "Warning"}) {
        expected.push_back(static_cast<std::uint8_t>(std::strlen(text)));
        expected.insert(expected.end(), text, text + std::strlen(text));
    }
    expected.insert(expected.end(), 8, 0x00);  // seven empty labels, empty description
    expected.push_back(0x00);                  // Binary
    expected.resize(kConfigRecordSize, 0x00);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.end()), expected);
}

TEST(ConfigRecord, RoundTripKeepsEveryValue)
{
    ConfigRecordValues v;
    v.protocolCode = 11;
    v.fieldWidth = {26, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    v.fieldCount = 10;
    v.clockCode = 34;
    v.turnMode = 1;
    v.gaugeField = 2;
    v.fieldLabel[0] = QString("Label\n13 byte");  // 13 bytes holding a byte 10
    for (int k = 1; k < 10; ++k)
        v.fieldLabel[k] = QStringLiteral("字段%1").arg(k);
    v.description = QStringLiteral("Ünïcode description, 测试");
    v.codeMode = 128;

    const ConfigRecordBytes r = encoded(v);
    EXPECT_EQ(r[2], 26);
    EXPECT_EQ(r[10], 35);  // clock 34 + multiturn
    EXPECT_EQ(r[12], 7);   // widths 8..10 after the gauge byte
    EXPECT_EQ(r[15], 13);
    EXPECT_EQ(r[15 + 1 + 5], 10);

    const std::optional<ConfigRecordValues> back = decodeConfigRecord(r);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->protocolCode, 11);
    EXPECT_EQ(back->fieldWidth, v.fieldWidth);
    EXPECT_EQ(back->fieldCount, 10);
    EXPECT_EQ(back->clockCode, 34);
    EXPECT_EQ(back->turnMode, 1);
    EXPECT_EQ(back->gaugeField, 2);
    EXPECT_EQ(back->fieldLabel, v.fieldLabel);
    EXPECT_EQ(back->description, v.description);
    EXPECT_EQ(back->codeMode, 128);
}

// The record a report carries is the settings' own: every saved value comes
// back, and settings whose texts cannot be stored give no record at all.
TEST(ConfigRecord, SettingsRecordDecodesToTheSettingsOrIsEmpty)
{
    InterfaceSettings s;
    s.protocolCode = 5;
    s.fieldWidth = {12, 4, 1, 0, 0, 0, 0, 0, 0, 9};
    s.fieldCount = 10;
    s.clockCode = 38;
    s.turnMode = 1;
    s.gaugeField = 3;
    s.fieldLabel[9] = QStringLiteral("末");
    s.description = QStringLiteral("SN 0042");
    s.codeMode = 128;

    const QByteArray bytes = configRecordBytesOf(s);
    ASSERT_EQ(bytes.size(), static_cast<qsizetype>(kConfigRecordSize));
    const auto back = decodeConfigRecord(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->protocolCode, 5);
    EXPECT_EQ(back->fieldWidth, s.fieldWidth);
    EXPECT_EQ(back->fieldCount, 10);
    EXPECT_EQ(back->clockCode, 38);
    EXPECT_EQ(back->turnMode, 1);
    EXPECT_EQ(back->gaugeField, 3);
    EXPECT_EQ(back->fieldLabel, s.fieldLabel);
    EXPECT_EQ(back->description, s.description);
    EXPECT_EQ(back->codeMode, 128);

    s.description = QString(300, QChar('d'));
    EXPECT_TRUE(configRecordBytesOf(s).isEmpty());
}

TEST(ConfigRecord, NumbersAreStoredAsTheirLow8Bits)
{
    ConfigRecordValues v = defaultBiss();
    v.fieldWidth[9] = 300;
    v.gaugeField = -1;
    const ConfigRecordBytes r = encoded(v);
    EXPECT_EQ(r[14], 300 & 0xFF);
    EXPECT_EQ(r[11], 0xFF);
}

TEST(ConfigRecord, ClockByteAndCodeModeDecoding)
{
    EXPECT_EQ(decodeClockTurnByte(35).clockCode, 34);
    EXPECT_EQ(decodeClockTurnByte(35).turnMode, 1);
    EXPECT_EQ(decodeClockTurnByte(18).clockCode, 18);
    EXPECT_EQ(decodeClockTurnByte(18).turnMode, 0);

    ConfigRecordBytes r = encoded(defaultBiss());
    const std::size_t codeAt = 15 + 3 + 6 + 8 + 8;  // after the eleven texts
    for (std::uint8_t code : {std::uint8_t(64), std::uint8_t(1), std::uint8_t(255)}) {
        r[codeAt] = code;
        EXPECT_EQ(decodeConfigRecord(r)->codeMode, 0) << int(code);  // Binary
    }
    r[codeAt] = 128;
    EXPECT_EQ(decodeConfigRecord(r)->codeMode, 128);
}

TEST(ConfigRecord, TooLongTextsAreRefusedAndNothingIsWritten)
{
    ConfigRecordBytes r;
    r.fill(0xAB);
    ConfigRecordValues v = defaultBiss();
    v.fieldLabel[4] = QString(256, QChar('x'));
    std::optional<QString> error = encodeConfigRecord(v, r);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("Label 5"));
    EXPECT_EQ(r[0], 0xAB);

    // 255 bytes each is allowed alone, but two of them and more overflow.
    v = defaultBiss();
    v.description = QString(255, QChar('d'));
    EXPECT_FALSE(encodeConfigRecord(v, r).has_value());
    v.fieldLabel[3] = QString(255, QChar('y'));
    error = encodeConfigRecord(v, r);
    ASSERT_TRUE(error.has_value());

    // Exactly filling the record: texts and length bytes take 496 bytes.
    v = ConfigRecordValues{};
    v.fieldLabel[0] = QString(255, QChar('a'));
    v.description = QString(496 - 11 - 255, QChar('b'));
    ASSERT_FALSE(encodeConfigRecord(v, r).has_value());
    EXPECT_EQ(decodeConfigRecord(r)->description, v.description);
    v.description += 'c';
    EXPECT_TRUE(encodeConfigRecord(v, r).has_value());

    // Multi-byte characters count as bytes: 128 × 3 = 384 in UTF-8 and
    // 128 × 2 = 256 in GB18030; neither fits.
    v = ConfigRecordValues{};
    v.fieldLabel[0] = QString(128, QChar(0x6D4B));
    error = encodeConfigRecord(v, r);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("Label 1")) << error->toStdString();
}

// A label that fits only in GB18030 (as Windows installations wrote it) is
// saved that way, so a loaded file can be saved again and reads back the same.
TEST(ConfigRecord, TextsThatOnlyFitAsGb18030AreSavedAsGb18030)
{
    ASSERT_TRUE(QStringDecoder("GB18030").isValid()) << "this Qt has no GB18030 converter";
    struct Case {
        const char* what;
        ConfigRecordValues values;
        bool fits;
    };
    ConfigRecordValues one;  // 86 × 3 = 258 UTF-8 bytes, 172 in GB18030
    one.fieldLabel[0] = QString(86, QChar(0x6D4B));
    ConfigRecordValues windows;  // 240 GB18030 bytes, 360 in UTF-8
    windows.fieldLabel[2] = QString(120, QChar(0x8BD5));
    ConfigRecordValues together;  // each fits alone as UTF-8, all three do not
    for (int k = 0; k < 3; ++k)
        together.fieldLabel[k] = QString(60, QChar(0x5B57));  // 180 bytes each
    ConfigRecordValues mixed = together;  // ASCII texts stay UTF-8 beside them
    mixed.description = QStringLiteral("plain description");
    ConfigRecordValues tooMuch;  // 3 × 170 GB18030 bytes + lengths > 496
    for (int k = 0; k < 3; ++k)
        tooMuch.fieldLabel[k] = QString(85, QChar(0x5B57));
    const Case cases[] = {
        {"one long label", one, true},
        {"label from a Windows file", windows, true},
        {"texts too long together", together, true},
        {"with an ASCII description", mixed, true},
        {"too long either way", tooMuch, false},
    };
    for (const Case& c : cases) {
        ConfigRecordBytes r{};
        const std::optional<QString> error = encodeConfigRecord(c.values, r);
        ASSERT_EQ(!error.has_value(), c.fits) << c.what;
        if (!c.fits)
            continue;
        const std::optional<ConfigRecordValues> back = decodeConfigRecord(r);
        ASSERT_TRUE(back.has_value()) << c.what;
        EXPECT_EQ(back->fieldLabel, c.values.fieldLabel) << c.what;
        EXPECT_EQ(back->description, c.values.description) << c.what;
    }
    // Short texts stay UTF-8.
    ConfigRecordValues small;
    small.fieldLabel[0] = QStringLiteral("测试");
    ConfigRecordBytes r{};
    ASSERT_FALSE(encodeConfigRecord(small, r).has_value());
    EXPECT_EQ(r[15], 6);
    EXPECT_EQ(r[16], 0xE6);
}

TEST(ConfigRecord, ShortOrCorruptFilesLoadNothing)
{
    const ConfigRecordBytes r = encoded(defaultBiss());
    EXPECT_FALSE(decodeConfigRecord(std::span<const std::uint8_t>(r.data(), 511)).has_value());
    std::vector<std::uint8_t> longer(r.begin(), r.end());
    longer.push_back(0);
    EXPECT_FALSE(decodeConfigRecord(longer).has_value());
    EXPECT_FALSE(decodeConfigRecord({}).has_value());

    // A text length running past the record.
    ConfigRecordBytes worse{};
    for (std::size_t i = 15; i < kConfigRecordSize; i += 1)
        worse[i] = 250;  // every length 250: the second text leaves the record
    EXPECT_FALSE(decodeConfigRecord(worse).has_value());
    // A text ending on the last byte leaves no room for the texts and the
    // code byte that follow it.
    ConfigRecordBytes full{};
    full[15] = 255;
    full[15 + 256] = 240;  // bytes 272..511
    EXPECT_FALSE(decodeConfigRecord(full).has_value());
}

TEST(ConfigRecord, NonUtf8TextsAreReadAsGb18030)
{
    ASSERT_TRUE(QStringDecoder("GB18030").isValid()) << "this Qt has no GB18030 converter";
    ConfigRecordBytes r = encoded(defaultBiss());
    // "测试" in GB18030 (as a Windows installation in China writes it).
    const std::uint8_t gb[] = {0xB2, 0xE2, 0xCA, 0xD4};
    r[15] = 4;
    std::copy(std::begin(gb), std::end(gb), r.begin() + 16);
    // Shift the rest: rebuild from "Error" on.
    std::size_t pos = 20;
    for (const char* text : {"Error", "Warning"}) {
        r[pos++] = static_cast<std::uint8_t>(std::strlen(text));
        for (const char* c = text; *c; ++c)
            r[pos++] = static_cast<std::uint8_t>(*c);
    }
    std::fill(r.begin() + static_cast<std::ptrdiff_t>(pos), r.end(), 0);
    const std::optional<ConfigRecordValues> v = decodeConfigRecord(r);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->fieldLabel[0], QStringLiteral("测试"));
    EXPECT_EQ(v->fieldLabel[1], "Error");
    EXPECT_EQ(v->fieldLabel[2], "Warning");
}

// Loading a file names what is wrong with it.
TEST(ConfigRecord, FileLoadNamesTheCause)
{
    QTemporaryDir dir;
    const auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const auto write = [](const QString& p, const QByteArray& bytes) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const ConfigRecordBytes good = encoded(defaultBiss());
    const QByteArray goodBytes(reinterpret_cast<const char*>(good.data()), static_cast<qsizetype>(good.size()));
    write(path("good.cfg"), goodBytes);
    write(path("short.cfg"), goodBytes.left(100));
    write(path("long.cfg"), goodBytes + QByteArray(100000, 'x'));
    QByteArray overrun = goodBytes;
    overrun[15] = char(250);   // label 1 takes bytes 16..265
    overrun[266] = char(250);  // label 2 would end past byte 511
    write(path("overrun.cfg"), overrun);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.cfg"));
    ASSERT_TRUE(QFile::link(path("gone.cfg"), path("dangling.cfg")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.cfg")).constData(), 0600), 0);

    struct Case {
        const char* name;
        const char* cause;
    };
    const Case cases[] = {
        {"missing.cfg", "does not exist"},
        {"dangling.cfg", "dangling link"},
        {"folder.cfg", "is a directory"},
        {"fifo.cfg", "FIFO"},
        {"short.cfg", "not a configuration file: it holds 100 bytes"},
        {"long.cfg", "not a configuration file: it is longer than a configuration record"},
        {"overrun.cfg", "damaged configuration file: the text of label 2"},
    };
    for (const Case& c : cases) {
        const ConfigRecordFile r = readConfigRecordFile(path(c.name));
        EXPECT_FALSE(r.record.has_value()) << c.name;
        EXPECT_TRUE(r.error.contains(c.cause)) << c.name << ": " << r.error.toStdString();
        EXPECT_TRUE(r.error.startsWith("'" + path(c.name) + "'")) << r.error.toStdString();
    }
    const ConfigRecordFile ok = readConfigRecordFile(path("good.cfg"));
    ASSERT_TRUE(ok.record.has_value()) << ok.error.toStdString();
    EXPECT_EQ(ok.record->fieldLabel[1], "Error");

    // Written safely: a FIFO nobody reads is refused, not waited on or replaced.
    EXPECT_TRUE(writeConfigRecordFile(path("fifo.cfg"), defaultBiss()).contains("FIFO"));
    EXPECT_TRUE(QFileInfo(path("fifo.cfg")).isFile() == false);
    EXPECT_EQ(writeConfigRecordFile(path("new.cfg"), defaultBiss()), QString());
    EXPECT_TRUE(readConfigRecordFile(path("new.cfg")).record.has_value());
}
