#pragma once
// The two calibration information records: tag values collected from the
// box, and the value texts the calibration dialog shows next to its captions.
#include <QString>
#include <array>
#include <cstdint>

// Tag values t1..tN of one record (index 0 unused).
template <int N>
struct CalInfoTags {
    std::array<std::uint8_t, N + 1> t{};

    // Stores a tag's value; returns true when the record's last tag arrived.
    bool store(int tag, std::uint8_t value)
    {
        if (tag < 1 || tag > N)
            return false;
        t[tag] = value;
        return tag == N;
    }
};
using CalInfo1Tags = CalInfoTags<52>;
using CalInfo2Tags = CalInfoTags<32>;

struct Encoder2InfoTexts {
    QString coarseSin;   // 粗圈sin
    QString coarseCos;   // 粗圈cos
    QString fineSin;     // 细圈sin
    QString fineCos;     // 细圈cos
    QString zeroOffset;  // 零偏补偿
    QString b1Angle;     // B1角度
    QString b2Angle;     // B2角度
    QString serial;      // 编码器序号
};

Encoder2InfoTexts formatEncoder2Info(const CalInfo2Tags& tags);

// "偏心%:" of an encoder-1 record whose fine radius is 0.
inline constexpr char kNoEccentricityText[] = "---   ";

struct Encoder1InfoTexts {
    QString coarseZero;           // 粗圈零偏
    QString fineZero;             // 细圈零偏
    QString coarseSin;            // 粗圈sin
    QString coarseCos;            // 粗圈cos
    QString fineRadius;           // 细圈半径
    QString userZero;             // 用户零偏
    QString temperature;          // 温度
    QString fineSin;              // 细圈sin
    QString fineCos;              // 细圈cos
    QString eccentricitySin;      // 偏心% (upper)
    QString eccentricityCos;      // 偏心% (lower)
    QString firmwareCode;         // 程序版本号
    QString firmwareDescription;  // 程序版本解析
    QString coarseAdc;            // 粗ADC
    QString fineAdc;              // 细ADC
};

// Decodes encoder-1 records. Keeps the speed, protocol and PPR pieces of
// the firmware description: a code without an entry repeats the piece of
// the previous record (empty before the first).
class Encoder1InfoDecoder {
public:
    Encoder1InfoTexts decode(const CalInfo1Tags& tags);
    QString describeFirmware(std::uint8_t t41, std::uint8_t t42, std::uint8_t t43, std::uint8_t t44);

private:
    QString m_speed;
    QString m_protocol;
    QString m_single;
    QString m_multi;
};

// The temperature text of a raw sensor code: four blanks and whole degrees
// Celsius for codes in the sensor's table, otherwise the raw code with "%.0f   ".
QString temperatureText(std::uint32_t rawCode);
// Whole degrees for a code in the table; false for codes outside it.
bool temperatureDegrees(std::uint32_t rawCode, int* degrees);
