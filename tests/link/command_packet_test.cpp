// The packet builder: precedence of fills and headers, and the configuration
// header's parameter sums.
#include "link/command_packet.h"
#include "link/usb_endpoint.h"

#include <gtest/gtest.h>

namespace {

bool allBytes(const CommandPacket& p, std::size_t from, std::uint8_t b)
{
    for (std::size_t i = from; i < p.size(); ++i)
        if (p[i] != b)
            return false;
    return true;
}

std::array<std::uint8_t, 6> head(const CommandPacket& p)
{
    return {p[0], p[1], p[2], p[3], p[4], p[5]};
}

using H = std::array<std::uint8_t, 6>;

}  // namespace

TEST(CommandPacket, PrecedenceOfFillsAndHeaders)
{
    const PacketParams q;
    EXPECT_TRUE(allBytes(buildCommandPacket({}, q), 0, 0x00));
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::ReadActive, Flag::StopCmd}, q), 0, 0x6A));
    // A later fill overwrites an earlier header.
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::ReadActive, Flag::ResetAngleCmd}, q), 0, 0x7A));
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::ResetAngleCmd, Flag::ConfigBeginCmd}, q), 0, 0x4D));
    // A later header keeps the earlier fill behind its six bytes.
    const CommandPacket p = buildCommandPacket({Flag::ConfigBeginCmd, Flag::ResetTurnsCmd}, q);
    EXPECT_EQ(head(p), (H{0xB2, 0xB2, 0xA2, 0xA2, 0xA2, 0xA2}));
    EXPECT_TRUE(allBytes(p, 6, 0x4D));
    // Each of the five mode flags makes the stream fill.
    for (Flag f : {Flag::ReadActive, Flag::AbsStepActive, Flag::ResolutionActive, Flag::SincosActive,
                   Flag::ForceActive})
        EXPECT_TRUE(allBytes(buildCommandPacket({f}, q), 0, 0x7A));
    // The held power-off fill beats everything before it.
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::PowerOffCmd, Flag::StopCmd, Flag::PowerOnCmd}, q), 0, 0x2C));
    // Either trigger of the information fill.
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::CalInfoCmd2}, q), 0, 0x15));
    EXPECT_TRUE(allBytes(buildCommandPacket({Flag::CalInfoCmd, Flag::Cal16Cmd}, q), 0, 0x16));
}

TEST(CommandPacket, ConfigurationHeader)
{
    PacketParams q;
    q.clockCode = 18;
    q.turnMode = 1;
    q.protocolCode = 0;
    q.crcConfig = 0xA1;
    q.codeMode = 0;
    q.crcInvertBits = 64;
    q.frameBits = 32;
    EXPECT_EQ(head(buildCommandPacket({Flag::ConfigCmd}, q)), (H{0x3A, 0x3A, 0x13, 0x00, 0xA1, 0x5F}));

    // Held power-off underneath: six header bytes, then 506 × 2C.
    const CommandPacket p = buildCommandPacket({Flag::PowerOffCmd, Flag::ConfigCmd}, q);
    EXPECT_EQ(head(p), (H{0x3A, 0x3A, 0x13, 0x00, 0xA1, 0x5F}));
    EXPECT_TRUE(allBytes(p, 6, 0x2C));

    // The sums wrap at 8 bits.
    q.clockCode = 250;
    q.turnMode = 9;
    q.protocolCode = 0x1FF;
    q.crcConfig = 0x3A1;
    q.codeMode = 128;
    q.crcInvertBits = 64;
    q.frameBits = 65;
    EXPECT_EQ(head(buildCommandPacket({Flag::ConfigCmd}, q)),
              (H{0x3A, 0x3A, 0x03, 0xFF, 0xA1, static_cast<std::uint8_t>((128 + 64 + 64) & 0xFF)}));
}

TEST(CommandPacket, ParameterHeaders)
{
    PacketParams q;
    q.eepromValue = 255;
    EXPECT_EQ(head(buildCommandPacket({Flag::EepromWriteCmd}, q)), (H{0xB4, 0xB4, 0xA4, 0xA4, 0xFF, 0xFF}));
    q.eepromValue = 0;
    EXPECT_EQ(head(buildCommandPacket({Flag::EepromWriteCmd}, q)), (H{0xB4, 0xB4, 0xA4, 0xA4, 0xFF, 0x00}));
    q.eepromValue = 0x1AB;  // low 8 bits
    EXPECT_EQ(buildCommandPacket({Flag::EepromWriteCmd}, q)[5], 0xAB);
    q.calibParam = 4;
    EXPECT_EQ(head(buildCommandPacket({Flag::CalParamCmd}, q)), (H{0x39, 0x39, 4, 4, 4, 4}));
    EXPECT_EQ(head(buildCommandPacket({Flag::EepromReadCmd}, q)), (H{0xB5, 0xB5, 0xA5, 0xA5, 0xA5, 0xA5}));
}

TEST(EndpointRules, MaxPacketSize)
{
    // (w & 0x7FF) × (((w >> 11) & 3) + 1)
    EXPECT_EQ(CCyUSBEndPoint::maxPacketSizeOf(512), 512);
    EXPECT_EQ(CCyUSBEndPoint::maxPacketSizeOf(0x1400), 1024 * 3);
    EXPECT_EQ(CCyUSBEndPoint::maxPacketSizeOf(0x0800 | 64), 64 * 2);
}
