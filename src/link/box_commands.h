#pragma once
// Box traffic by name. Every packet still comes from the flags through the
// packet builder; these give the recurring raise-send-wait-lower sequences
// the names the operations speak in. Called on the bench thread: the waits
// block it, as the box protocol expects.
#include "link/box_link.h"

#include <functional>

class BoxCommands {
public:
    BoxCommands(BoxLink& link, std::function<PacketParams()> params)
        : link_(link), params_(std::move(params))
    {
    }

    CommandFlags& flags() { return link_.flags; }

    // Parameters of one packet that are not interface settings: the byte an
    // EEPROM write stores, a calibration step's selection, the protocol
    // code of the BISS pre-configuration.
    using PacketAdjust = std::function<void(PacketParams&)>;

    // A packet for the flags that are up now, with the interface's
    // parameters as `adjust` changes them for this packet alone.
    SendTicket send(const PacketAdjust& adjust = {});
    // Raise `f`, send, wait `ms`, lower `f`.
    void pulse(Flag f, double ms, const PacketAdjust& adjust = {});

    void stop(double ms) { pulse(Flag::StopCmd, ms); }             // 512 x 6A
    void powerOn(double ms) { pulse(Flag::PowerOnCmd, ms); }       // 512 x 4A
    void configBegin(double ms) { pulse(Flag::ConfigBeginCmd, ms); }  // 512 x 4D
    // Raises a held mode flag (a stream mode, SaveActive, PowerOffCmd) and
    // sends; the packets that follow carry it until it is lowered.
    SendTicket startMode(Flag mode);
    void endMode(Flag mode) { link_.flags.lower(mode); }

private:
    BoxLink& link_;
    std::function<PacketParams()> params_;
};
