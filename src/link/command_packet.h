#pragma once
// The 512-byte outbound command packet, built purely from the flags that are
// up and a few parameters. No box is needed to build one.
#include "link/command_flags.h"

#include <array>
#include <cstdint>

constexpr std::size_t kCommandPacketSize = 512;
using CommandPacket = std::array<std::uint8_t, kCommandPacketSize>;

// Parameters carried by the header packets. Every value is sent as the low
// 8 bits of its sum, so the sums wrap.
struct PacketParams {
    int clockCode = 18;
    int turnMode = 0;
    int protocolCode = 0;
    int crcConfig = 0xA1;
    int codeMode = 0;
    int crcInvertBits = 64;
    int frameBits = 34;
    int eepromValue = 0;
    int calibParam = 4;
};

CommandPacket buildCommandPacket(const FlagSnapshot& flags, const PacketParams& params);

// The six bytes of the configuration ("::") header.
std::array<std::uint8_t, 6> configHeader(const PacketParams& params);
