#pragma once
// The 512-byte outbound command packet, built purely from the flags that are
// up and a few parameters. No box is needed to build one.
#include "protocol/command_flags.h"
#include "protocol/packet_params.h"

#include <array>
#include <cstdint>

constexpr std::size_t kCommandPacketSize = 512;
using CommandPacket = std::array<std::uint8_t, kCommandPacketSize>;

CommandPacket buildCommandPacket(const FlagSnapshot& flags, const PacketParams& params);

// The six bytes of the configuration ("::") header.
std::array<std::uint8_t, 6> configHeader(const PacketParams& params);
