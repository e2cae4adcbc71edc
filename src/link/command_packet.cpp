#include "link/command_packet.h"

namespace {

void fill(CommandPacket& p, std::uint8_t b)
{
    p.fill(b);
}

void header(CommandPacket& p, std::array<std::uint8_t, 6> h)
{
    for (std::size_t i = 0; i < h.size(); ++i)
        p[i] = h[i];
}

std::uint8_t low8(int v)
{
    return static_cast<std::uint8_t>(v & 0xFF);
}

}  // namespace

std::array<std::uint8_t, 6> configHeader(const PacketParams& q)
{
    return {0x3A, 0x3A, low8(q.clockCode + q.turnMode), low8(q.protocolCode), low8(q.crcConfig),
            low8(q.codeMode + q.crcInvertBits + q.frameBits - 1)};
}

CommandPacket buildCommandPacket(const FlagSnapshot& f, const PacketParams& q)
{
    CommandPacket p{};
    if (f[Flag::ResetAngleCmd]) header(p, {0xB1, 0xB1, 0xA1, 0xA1, 0xA1, 0xA1});
    if (f[Flag::ConfigBeginCmd]) fill(p, 0x4D);
    if (f[Flag::Cal0DCmd]) fill(p, 0x0D);
    if (f[Flag::CalDashCmd]) fill(p, 0x2D);
    if (f[Flag::CalICmd]) fill(p, 0x49);
    if (f[Flag::CalPCmd]) fill(p, 0x50);
    if (f[Flag::EepromWriteCmd]) header(p, {0xB4, 0xB4, 0xA4, 0xA4, 0xFF, low8(q.eepromValue)});
    if (f[Flag::EepromReadCmd]) header(p, {0xB5, 0xB5, 0xA5, 0xA5, 0xA5, 0xA5});
    if (f[Flag::ResetTurnsCmd]) header(p, {0xB2, 0xB2, 0xA2, 0xA2, 0xA2, 0xA2});
    if (f[Flag::PowerOnCmd]) fill(p, 0x4A);
    if (f[Flag::ReadActive] || f[Flag::AbsStepActive] || f[Flag::ResolutionActive] ||
        f[Flag::SincosActive] || f[Flag::ForceActive])
        fill(p, 0x7A);
    if (f[Flag::SaveActive]) fill(p, 0x5A);
    if (f[Flag::StopCmd]) fill(p, 0x6A);
    if (f[Flag::PowerOffCmd]) fill(p, 0x2C);
    if (f[Flag::ConfigCmd]) header(p, configHeader(q));
    if (f[Flag::ConfigQueryCmd]) fill(p, 0x9A);
    if (f[Flag::Cal1DCmd]) fill(p, 0x1D);
    if (f[Flag::CalParamCmd]) {
        const std::uint8_t v = low8(q.calibParam);
        header(p, {0x39, 0x39, v, v, v, v});
    }
    if (f[Flag::CoarseEccentricityCmd]) fill(p, 0x3B);
    if (f[Flag::FineAdcCmd]) fill(p, 0x1A);
    if (f[Flag::CoarseAdcCmd]) fill(p, 0x2A);
    if (f[Flag::FineRadiusCmd]) fill(p, 0x2B);
    if (f[Flag::ZeroAlignCmd]) fill(p, 0x1C);
    if (f[Flag::CalInfoCmd] || f[Flag::CalInfoCmd2]) fill(p, 0x15);
    if (f[Flag::Cal16Cmd]) fill(p, 0x16);
    if (f[Flag::CalEqualsCmd]) fill(p, 0x3D);
    return p;
}
