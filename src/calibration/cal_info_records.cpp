#include "calibration/cal_info_records.h"

#include <cmath>
#include <cstddef>

namespace {

// Big-endian group ta..t(a+3).
std::uint32_t group32(const std::uint8_t* t, int a)
{
    return static_cast<std::uint32_t>(t[a]) << 24 | static_cast<std::uint32_t>(t[a + 1]) << 16
           | static_cast<std::uint32_t>(t[a + 2]) << 8 | t[a + 3];
}

std::int32_t signed32(const std::uint8_t* t, int a)
{
    return static_cast<std::int32_t>(group32(t, a));
}

QString signedText(std::int32_t v)
{
    return QString::asprintf("%d   ", v);
}

QString unsignedText(std::uint32_t v)
{
    return QString::asprintf("%.0f   ", static_cast<double>(v));
}

QString angleText(std::uint32_t v)
{
    return QString::asprintf("%.3f   ", v * 360.0 / 4294967296.0);
}

// PPR of an incremental output, by its code in the firmware word.
const char* pprText(int code)
{
    static const char* const kPpr[] = {
        "PPR;1024", "PPR;2048", "PPR;4096", "PPR;8192", "PPR;16384", "PPR;32768", "PPR;65536",
        "PPR;131072", "PPR;1000", "PPR;2000", "PPR;2500", "PPR;5000", "PPR;8000", "PPR;16000",
    };
    const int i = code - 10;
    return i >= 0 && i < static_cast<int>(std::size(kPpr)) ? kPpr[i] : nullptr;
}

// Whole degrees Celsius by raw code range of the encoder's temperature
// sensor; the code falls as the temperature rises. 3778 has no entry.
struct TemperatureRange {
    int degrees;
    int low;
    int high;
};
constexpr TemperatureRange kTemperatureTable[] = {
    {-40, 3797, 3798}, {-39, 3796, 3796}, {-38, 3794, 3795}, {-37, 3793, 3793}, {-36, 3791, 3792},
    {-35, 3789, 3790}, {-34, 3787, 3788}, {-33, 3786, 3786}, {-32, 3783, 3785}, {-31, 3782, 3782},
    {-30, 3781, 3781}, {-29, 3780, 3780}, {-28, 3779, 3779}, {-27, 3776, 3777}, {-26, 3774, 3775},
    {-25, 3772, 3773}, {-24, 3771, 3771}, {-23, 3769, 3770}, {-22, 3767, 3768}, {-21, 3766, 3766},
    {-20, 3765, 3765}, {-19, 3763, 3764}, {-18, 3760, 3762}, {-17, 3757, 3759}, {-16, 3756, 3756},
    {-15, 3753, 3755}, {-14, 3752, 3752}, {-13, 3751, 3751}, {-12, 3750, 3750}, {-11, 3747, 3749},
    {-10, 3745, 3746}, {-9, 3743, 3744},   {-8, 3741, 3742},   {-7, 3739, 3740},   {-6, 3737, 3738},
    {-5, 3734, 3736},   {-4, 3733, 3733},   {-3, 3732, 3732},   {-2, 3731, 3731},   {-1, 3730, 3730},
    {0, 3726, 3729},    {1, 3722, 3725},    {2, 3721, 3721},    {3, 3720, 3720},    {4, 3718, 3719},
    {5, 3716, 3717},    {6, 3714, 3715},    {7, 3712, 3713},    {8, 3710, 3711},    {9, 3708, 3709},
    {10, 3705, 3707},   {11, 3704, 3704},   {12, 3703, 3703},   {13, 3701, 3702},   {14, 3700, 3700},
    {15, 3699, 3699},   {16, 3698, 3698},   {17, 3697, 3697},   {18, 3696, 3696},   {19, 3689, 3695},
    {20, 3685, 3688},   {21, 3683, 3684},   {22, 3681, 3682},   {23, 3679, 3680},   {24, 3678, 3678},
    {25, 3677, 3677},   {26, 3674, 3676},   {27, 3671, 3673},   {28, 3668, 3670},   {29, 3667, 3667},
    {30, 3665, 3666},   {31, 3663, 3664},   {32, 3661, 3662},   {33, 3659, 3660},   {34, 3657, 3658},
    {35, 3655, 3656},   {36, 3652, 3654},   {37, 3649, 3651},   {38, 3646, 3648},   {39, 3644, 3645},
    {40, 3643, 3643},   {41, 3642, 3642},   {42, 3641, 3641},   {43, 3639, 3640},   {44, 3638, 3638},
    {45, 3635, 3637},   {46, 3633, 3634},   {47, 3631, 3632},   {48, 3629, 3630},   {49, 3626, 3628},
    {50, 3623, 3625},   {51, 3620, 3622},   {52, 3617, 3619},   {53, 3614, 3616},   {54, 3611, 3613},
    {55, 3608, 3610},   {56, 3605, 3607},   {57, 3602, 3604},   {58, 3599, 3601},   {59, 3596, 3598},
    {60, 3595, 3595},   {61, 3594, 3594},   {62, 3593, 3593},   {63, 3592, 3592},   {64, 3591, 3591},
    {65, 3590, 3590},   {66, 3586, 3589},   {67, 3583, 3585},   {68, 3580, 3582},   {69, 3577, 3579},
    {70, 3574, 3576},   {71, 3571, 3573},   {72, 3568, 3570},   {73, 3565, 3567},   {74, 3562, 3564},
    {75, 3559, 3561},   {76, 3556, 3558},   {77, 3553, 3555},   {78, 3552, 3552},   {79, 3551, 3551},
    {80, 3550, 3550},   {81, 3549, 3549},   {82, 3548, 3548},   {83, 3547, 3547},   {84, 3543, 3546},
    {85, 3539, 3542},   {86, 3535, 3538},   {87, 3531, 3534},   {88, 3527, 3530},   {89, 3526, 3526},
    {90, 3525, 3525},   {91, 3523, 3524},   {92, 3520, 3522},   {93, 3517, 3519},   {94, 3514, 3516},
    {95, 3511, 3513},   {96, 3508, 3510},   {97, 3505, 3507},   {98, 3502, 3504},   {99, 3501, 3501},
    {100, 3499, 3500},  {101, 3497, 3498},  {102, 3495, 3496},  {103, 3493, 3494},  {104, 3491, 3492},
    {105, 3490, 3490},  {106, 3487, 3489},  {107, 3484, 3486},  {108, 3481, 3483},  {109, 3478, 3480},
    {110, 3475, 3477},  {111, 3472, 3474},  {112, 3469, 3471},  {113, 3466, 3468},  {114, 3462, 3465},
    {115, 3461, 3461},  {116, 3460, 3460},  {117, 3457, 3459},  {118, 3452, 3456},  {119, 3451, 3451},
    {120, 3450, 3450},  {121, 3446, 3449},  {122, 3441, 3445},  {123, 3433, 3440},  {124, 3432, 3432},
    {125, 3431, 3431},
};

}  // namespace

bool temperatureDegrees(std::uint32_t rawCode, int* degrees)
{
    for (const TemperatureRange& r : kTemperatureTable) {
        if (rawCode >= static_cast<std::uint32_t>(r.low) && rawCode <= static_cast<std::uint32_t>(r.high)) {
            if (degrees)
                *degrees = r.degrees;
            return true;
        }
    }
    return false;
}

QString temperatureText(std::uint32_t rawCode)
{
    int degrees = 0;
    if (temperatureDegrees(rawCode, &degrees))
        return QStringLiteral("    ") + QString::number(degrees);
    return unsignedText(rawCode);
}

Encoder2InfoTexts formatEncoder2Info(const CalInfo2Tags& tags)
{
    const std::uint8_t* t = tags.t.data();
    Encoder2InfoTexts x;
    x.coarseSin = signedText(signed32(t, 1));
    x.coarseCos = signedText(signed32(t, 5));
    x.fineSin = signedText(signed32(t, 9));
    x.fineCos = signedText(signed32(t, 13));
    x.zeroOffset = unsignedText(group32(t, 17));
    x.b1Angle = angleText(group32(t, 21));
    x.b2Angle = angleText(group32(t, 25));
    x.serial = unsignedText(group32(t, 29));
    return x;
}

Encoder1InfoTexts Encoder1InfoDecoder::decode(const CalInfo1Tags& tags)
{
    const std::uint8_t* t = tags.t.data();
    Encoder1InfoTexts x;
    x.coarseZero = unsignedText(group32(t, 1));
    x.fineZero = unsignedText(group32(t, 5));
    x.coarseSin = signedText(signed32(t, 9));
    x.coarseCos = signedText(signed32(t, 13));

    // The radius comes as its square, a 64-bit big-endian number.
    const std::uint64_t radiusSquared = static_cast<std::uint64_t>(group32(t, 17)) << 32 | group32(t, 21);
    const double fineRadius = std::sqrt(static_cast<double>(radiusSquared));
    x.fineRadius = QString::asprintf("%.0f   ", fineRadius);

    x.userZero = unsignedText(group32(t, 25));
    x.temperature = temperatureText(group32(t, 29));

    const std::int32_t fineSin = signed32(t, 33);
    const std::int32_t fineCos = signed32(t, 37);
    x.fineSin = signedText(fineSin);
    x.fineCos = signedText(fineCos);
    // Eccentricity in percent of the unrounded radius; an encoder that has
    // not measured its radius yet reports 0, and there is no percentage.
    if (radiusSquared == 0) {
        x.eccentricitySin = QString::fromLatin1(kNoEccentricityText);
        x.eccentricityCos = QString::fromLatin1(kNoEccentricityText);
    } else {
        x.eccentricitySin = QString::asprintf("%.2f   ", 100.0 * fineSin / fineRadius);
        x.eccentricityCos = QString::asprintf("%.2f   ", 100.0 * fineCos / fineRadius);
    }

    x.firmwareCode = QString::asprintf("%02X%02X%02X%02X", t[41], t[42], t[43], t[44]);
    x.firmwareDescription = describeFirmware(t[41], t[42], t[43], t[44]);

    x.coarseAdc = unsignedText(group32(t, 45));
    x.fineAdc = unsignedText(group32(t, 49));
    return x;
}

QString Encoder1InfoDecoder::describeFirmware(std::uint8_t t41, std::uint8_t t42, std::uint8_t t43,
                                              std::uint8_t t44)
{
    const int version = (t41 * 256 + t42) >> 4;
    const int quad = t42 & 15;
    const int protocol = t43 & 15;
    const int speed = t43 >> 4;
    const int single = (t44 >> 4) + 10;
    const int multi = (t44 & 15) + 10;

    static const char* const kSpeed[] = {"100RPM；", "3500RPM；", "6500RPM；", "9000RPM；"};
    if (speed < static_cast<int>(std::size(kSpeed)))
        m_speed = QString::fromUtf8(kSpeed[speed]);

    static const char* const kProtocol[] = {"SSI", "BISS", "SPI(crc)", "SPI(no_crc)", "RS485", "RS485AB", "TTL"};
    if (protocol >= 1 && protocol <= static_cast<int>(std::size(kProtocol)))
        m_protocol = QString::fromUtf8(kProtocol[protocol - 1]);

    if (protocol == 7) {
        if (const char* ppr = pprText(single))
            m_single = QString::fromUtf8(ppr);
    } else {
        m_single = QStringLiteral("单圈:%1").arg(single);
    }

    QString text = QStringLiteral("版本号:%1；").arg(version);
    text += quad != 0 ? QStringLiteral("四倍频补偿；") : QStringLiteral("无四倍频补偿；");
    text += QStringLiteral("最高转速:") + m_speed;
    text += QStringLiteral("协议:") + m_protocol + QStringLiteral("；");
    text += m_single + QStringLiteral("；");
    if (multi != 25) {
        if (protocol == 6) {
            if (const char* ppr = pprText(multi))
                m_multi = QString::fromUtf8(ppr);
        } else {
            m_multi = QStringLiteral("多圈:%1").arg(multi);
        }
        text += m_multi;
    }
    return text;
}
