#include "calibration/cal_info_records.h"
#include "calibration/cal_reply_scan.h"

#include <gtest/gtest.h>
#include <vector>

using Kind = CalScanItem::Kind;

TEST(CalReplyScan, ReplyFrameIsAaAnyAaCode)
{
    const std::vector<std::uint8_t> frame{0x00, 0x00, 0xAA, 0x00, 0xAA, 0x3A, 0x00, 0x00};
    const CalScanItem item = scanCalibrationTransfer(frame, false, false);
    EXPECT_EQ(item.kind, Kind::Reply);
    EXPECT_EQ(item.code, 0x3A);

    const std::vector<std::uint8_t> notFrame{0xAA, 0x00, 0x00, 0x3A, 0x00, 0x00};
    EXPECT_EQ(scanCalibrationTransfer(notFrame, false, false).kind, Kind::Nothing);

    // Only the first frame counts.
    const std::vector<std::uint8_t> two{0xAA, 0x01, 0xAA, 0x39, 0xAA, 0x00, 0xAA, 0x3A};
    EXPECT_EQ(scanCalibrationTransfer(two, false, false).code, 0x39);

    // A frame cut off before its code is no reply.
    const std::vector<std::uint8_t> cut{0x00, 0xAA, 0x00, 0xAA};
    EXPECT_EQ(scanCalibrationTransfer(cut, false, false).kind, Kind::Nothing);
    EXPECT_EQ(scanCalibrationTransfer({}, false, false).kind, Kind::Nothing);
}

TEST(CalReplyScan, TagsWhileAnInformationRecordIsAwaited)
{
    // 0x21 (33) is a tag of information 1 but not of information 2.
    const std::vector<std::uint8_t> bytes{0x00, 0xAA, 0x21, 0x7F, 0x05, 0x99};
    CalScanItem info1 = scanCalibrationTransfer(bytes, true, false);
    EXPECT_EQ(info1.kind, Kind::Tag);
    EXPECT_EQ(info1.tag, 0x21);
    EXPECT_EQ(info1.value, 0x7F);

    CalScanItem info2 = scanCalibrationTransfer(bytes, false, true);
    EXPECT_EQ(info2.kind, Kind::Tag);
    EXPECT_EQ(info2.tag, 5);
    EXPECT_EQ(info2.value, 0x99);

    // 52 is the last tag of information 1; 53 is no tag.
    EXPECT_EQ(scanCalibrationTransfer(std::vector<std::uint8_t>{53, 52, 0x10}, true, false).tag, 52);
    // While a record is awaited, a reply frame is not looked for.
    EXPECT_EQ(scanCalibrationTransfer(std::vector<std::uint8_t>{0xAA, 0x00, 0xAA, 0x3A}, true, false).kind,
              Kind::Nothing);
    // A tag in the last byte has no value.
    EXPECT_EQ(scanCalibrationTransfer(std::vector<std::uint8_t>{0x00, 0x07}, false, true).kind, Kind::Nothing);
}

TEST(CalInfoTags, LastTagCompletesTheRecord)
{
    CalInfo2Tags tags;
    EXPECT_FALSE(tags.store(1, 0xFF));
    EXPECT_FALSE(tags.store(33, 1));  // out of range: ignored
    EXPECT_TRUE(tags.store(32, 7));
    EXPECT_EQ(tags.t[1], 0xFF);
    EXPECT_EQ(tags.t[32], 7);
    CalInfo1Tags one;
    EXPECT_FALSE(one.store(32, 1));
    EXPECT_TRUE(one.store(52, 1));
}

namespace {

template <typename Tags>
void put(Tags& tags, int first, std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes)
        tags.t[first++] = b;
}

}  // namespace

TEST(CalInfoRecords, Encoder2Texts)
{
    CalInfo2Tags tags;
    put(tags, 1, {0xFF, 0xFF, 0xFF, 0xFE});
    put(tags, 5, {0x00, 0x00, 0x01, 0x00});
    put(tags, 9, {0x80, 0x00, 0x00, 0x00});
    put(tags, 17, {0xFF, 0xFF, 0xFF, 0xFF});
    put(tags, 21, {0x40, 0x00, 0x00, 0x00});
    put(tags, 25, {0x80, 0x00, 0x00, 0x01});
    put(tags, 29, {0x00, 0x01, 0xE2, 0x40});
    const Encoder2InfoTexts x = formatEncoder2Info(tags);
    EXPECT_EQ(x.coarseSin, "-2   ");
    EXPECT_EQ(x.coarseCos, "256   ");
    EXPECT_EQ(x.fineSin, "-2147483648   ");
    EXPECT_EQ(x.fineCos, "0   ");
    EXPECT_EQ(x.zeroOffset, "4294967295   ");
    EXPECT_EQ(x.b1Angle, "90.000   ");
    EXPECT_EQ(x.b2Angle, "180.000   ");
    EXPECT_EQ(x.serial, "123456   ");
}

TEST(CalInfoRecords, Encoder1TextsAndFirmwareDescription)
{
    CalInfo1Tags tags;
    put(tags, 1, {0x00, 0x00, 0x30, 0x39});               // 12345
    put(tags, 5, {0x00, 0x00, 0x00, 0x07});
    put(tags, 9, {0xFF, 0xFF, 0xFF, 0x9C});               // -100
    put(tags, 13, {0x00, 0x00, 0x00, 0x64});              // 100
    put(tags, 17, {0, 0, 0, 0, 0x00, 0x98, 0x96, 0x80});  // 10^7 = 3162.28²
    put(tags, 25, {0x00, 0x00, 0x00, 0x01});
    put(tags, 29, {0x00, 0x00, 0x0E, 0x5D});              // 3677
    put(tags, 33, {0x00, 0x00, 0x00, 0x20});              // 32
    put(tags, 37, {0xFF, 0xFF, 0xFF, 0xF0});              // -16
    put(tags, 41, {0x01, 0x43, 0x15, 0xA4});
    put(tags, 45, {0x00, 0x00, 0x04, 0x00});
    put(tags, 49, {0x00, 0x00, 0x08, 0x00});
    Encoder1InfoDecoder decoder;
    const Encoder1InfoTexts x = decoder.decode(tags);
    EXPECT_EQ(x.coarseZero, "12345   ");
    EXPECT_EQ(x.fineZero, "7   ");
    EXPECT_EQ(x.coarseSin, "-100   ");
    EXPECT_EQ(x.coarseCos, "100   ");
    EXPECT_EQ(x.fineRadius, "3162   ");
    EXPECT_EQ(x.userZero, "1   ");
    EXPECT_EQ(x.temperature, "    25");
    EXPECT_EQ(x.fineSin, "32   ");
    EXPECT_EQ(x.fineCos, "-16   ");
    // 100·32/3162.2777 = 1.0119; 100·-16/3162.2777 = -0.5060 (unrounded radius).
    EXPECT_EQ(x.eccentricitySin, "1.01   ");
    EXPECT_EQ(x.eccentricityCos, "-0.51   ");
    EXPECT_EQ(x.firmwareCode, "014315A4");
    EXPECT_EQ(x.firmwareDescription,
              QStringLiteral("版本号:20；四倍频补偿；最高转速:3500RPM；协议:RS485；单圈:20；多圈:14"));
    EXPECT_EQ(x.coarseAdc, "1024   ");
    EXPECT_EQ(x.fineAdc, "2048   ");
}

TEST(CalInfoRecords, FirmwarePiecesWithoutEntryKeepThePreviousText)
{
    Encoder1InfoDecoder d;
    // Before any known code: empty speed and protocol pieces; quad 0.
    EXPECT_EQ(d.describeFirmware(0x00, 0x10, 0xF0, 0x00),
              QStringLiteral("版本号:1；无四倍频补偿；最高转速:协议:；单圈:10；多圈:10"));
    // TTL: PPR by the single-turn code (18 → 1000); multi 25 adds nothing.
    EXPECT_EQ(d.describeFirmware(0x00, 0x20, 0x27, 0x8F),
              QStringLiteral("版本号:2；无四倍频补偿；最高转速:6500RPM；协议:TTL；PPR;1000；"));
    // Unknown speed (5) and protocol (0) and a PPR code without entry (24):
    // those pieces repeat the previous record's.
    EXPECT_EQ(d.describeFirmware(0x00, 0x21, 0x50, 0xE0),
              QStringLiteral("版本号:2；四倍频补偿；最高转速:6500RPM；协议:TTL；单圈:24；多圈:10"));
    EXPECT_EQ(d.describeFirmware(0x00, 0x20, 0x37, 0xEE),
              QStringLiteral("版本号:2；无四倍频补偿；最高转速:9000RPM；协议:TTL；单圈:24；多圈:24"));
    // RS485AB: multi-turn code read as PPR (23 → 16000).
    EXPECT_EQ(d.describeFirmware(0x00, 0x20, 0x06, 0x0D),
              QStringLiteral("版本号:2；无四倍频补偿；最高转速:100RPM；协议:RS485AB；单圈:10；PPR;16000"));
}

TEST(CalTemperature, TableAndRawCodes)
{
    EXPECT_EQ(temperatureText(3677), "    25");
    EXPECT_EQ(temperatureText(3900), "3900   ");
    EXPECT_EQ(temperatureText(3798), "    -40");
    EXPECT_EQ(temperatureText(3797), "    -40");
    EXPECT_EQ(temperatureText(3799), "3799   ");
    EXPECT_EQ(temperatureText(3778), "3778   ");  // a gap in the sensor table
    EXPECT_EQ(temperatureText(3779), "    -28");
    EXPECT_EQ(temperatureText(3777), "    -27");
    EXPECT_EQ(temperatureText(3440), "    123");
    EXPECT_EQ(temperatureText(3433), "    123");
    EXPECT_EQ(temperatureText(3431), "    125");
    EXPECT_EQ(temperatureText(3430), "3430   ");
    EXPECT_EQ(temperatureText(3726), "    0");

    // Every code from 3431 to 3798 but 3778 is in the table, and degrees
    // never fall as the code falls.
    int previous = -100;
    for (std::uint32_t code = 3798; code >= 3431; --code) {
        int degrees = 0;
        const bool known = temperatureDegrees(code, &degrees);
        EXPECT_EQ(known, code != 3778) << code;
        if (known) {
            EXPECT_GE(degrees, previous) << code;
            previous = degrees;
        }
    }
}
