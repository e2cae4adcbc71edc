#pragma once
// The box's own firmware: the encoder's supply (4A on, 2C off), its
// interface configuration (4D begins it, the "::" header sets it, 9A echoes
// it), the stream of position records or sin/cos samples (7A; every packet
// of the running mode repeats the fill), the stop (6A) and the encoder's
// angle and turn resets (B1, B2). A configuration, a power-off and a stop
// each end whatever stream runs.
#include "simbox/firmware.h"

#include <array>
#include <cstdint>

class InterfaceFirmware final : public Firmware {
public:
    void install(CommandDispatcher& commands, const FirmwareContext& box) override;
    void reset() override;

private:
    using Packet = CommandDispatcher::Packet;

    void onPowerOn(const Packet& p, std::int64_t now);
    void onPowerOff(const Packet& p, std::int64_t now);
    void onConfigBegin(const Packet& p, std::int64_t now);
    void onConfig(const Packet& p, std::int64_t now);
    void onConfigQuery(const Packet& p, std::int64_t now);
    void onStream(const Packet& p, std::int64_t now);
    void onStop(const Packet& p, std::int64_t now);
    void onResetAngle(const Packet& p, std::int64_t now);
    void onResetTurns(const Packet& p, std::int64_t now);

    const FirmwareContext* box_ = nullptr;
    std::array<std::uint8_t, 6> configHeader_{};  // of the last "::" packet
};
