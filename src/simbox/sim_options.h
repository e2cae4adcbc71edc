#pragma once
// The simulated box as the `--simulate=KEY=VALUE,...` option describes it:
//   speed=F          a steady bench clock F times faster than real time
//                    (installed by the caller before the box exists;
//                    without it quillmark-tool runs in virtual time)
//   rpm=R            shaft speed
//   bits=S, turn-bits=T, status-bits=K
//                    the encoder's frame [turns][position][status]
//   jump=A:D         repeatable: the first time the shaft passes A degrees the
//                    absolute position steps by D degrees
//   crc-errors=N     every Nth SPI record has a wrong CRC
//   eeprom=store|ignore|short
//   sincos=CO:SO:CA:SA:PH
//                    COS+ and SIN+ offsets and peak amplitudes in volts, phase
//                    in degrees; the minus tracks mirror the plus tracks
//   ack-status=N     status byte of every capture acknowledgement
//   no-ack           the box never acknowledges the end of a capture
//   unplug-after=S   the box is pulled off the bus after S bench seconds
//   calibration=1|2  the encoder the calibration firmware answers for:
//                    1 coarse and fine track (the default), 2 the waking one
//   silent           the box answers nothing
// Every key is optional; what is not given keeps the box's own setting.
#include "simbox/encoder_model.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SimBox;
class SimBus;
class SimUnplugTimer;

struct SimSinCosSetting {
    double cosOffset = 2.5;
    double sinOffset = 2.5;
    double cosAmplitude = 1.0;
    double sinAmplitude = 1.0;
    double phaseDegrees = 90.0;
};

struct SimSettings {
    std::optional<double> speed;
    std::optional<double> rpm;
    std::optional<int> singleTurnBits;
    std::optional<int> turnBits;
    std::optional<int> statusBits;
    std::vector<AngleJump> jumps;
    std::optional<int> crcErrorEvery;
    std::optional<EepromBehaviour> eeprom;
    std::optional<SimSinCosSetting> sincos;
    std::optional<int> ackStatus;
    std::optional<double> unplugAfterSeconds;
    std::optional<int> calibrationEncoder;  // 1 or 2
    bool silent = false;
    bool noAck = false;
};

struct SimOptionsParse {
    SimSettings settings;
    std::string error;  // names the key; empty when the text parsed
    bool ok() const { return error.empty(); }
};

// Parses the text after "--simulate=" (empty: no keys).
SimOptionsParse parseSimOptions(std::string_view text);

// Applies everything but the speed and the unplug to the box and its encoder.
void applySimSettings(const SimSettings& settings, SimBox& box);

// The unplug of `unplug-after`, counted from now; null when not asked for.
std::unique_ptr<SimUnplugTimer> startUnplugTimer(const SimSettings& settings, const std::shared_ptr<SimBus>& bus,
                                                 const std::shared_ptr<SimBox>& box);
