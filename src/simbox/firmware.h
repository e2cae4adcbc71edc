#pragma once
// A piece of the simulated box's firmware. Each one registers the commands
// it takes with the box's command table and reaches the rest of the box
// through a FirmwareContext; the box owns them all. The FX2 restarts
// whenever it is plugged in, and reset() brings a firmware to its power-up
// state. Handlers and reset() run with the box's lock held.
#include "simbox/command_dispatcher.h"
#include "simbox/encoder_model.h"

#include <cstdint>
#include <memory>

class Fx2Pipe;
class StreamFramer;

// The box's side of the encoder cable: the encoder, its supply, the
// interface the box works with and the box's record clock.
struct EncoderPort {
    std::shared_ptr<EncoderModel> encoder;
    bool powered = true;
    bool configured = false;  // a "::" packet was taken since plug-in
    BoxInterfaceConfig config;
    // Bench time between two position records and two sin/cos samples.
    std::int64_t recordPeriodMicros = 125;
    std::int64_t samplePeriodMicros = 16;

    // The periods are the box's own and survive a replug.
    void powerUp()
    {
        powered = true;
        configured = false;
        config = {};
    }
};

// What a firmware reaches of the box.
struct FirmwareContext {
    Fx2Pipe& pipe;          // answers and packets for the host
    StreamFramer& framer;   // the one stream the box runs at a time
    EncoderPort& port;
};

class Firmware {
public:
    virtual ~Firmware() = default;
    // Registers this firmware's commands. `box` outlives the firmware's use
    // of it; install runs once, before the box is plugged in.
    virtual void install(CommandDispatcher& commands, const FirmwareContext& box) = 0;
    virtual void reset() = 0;
};
