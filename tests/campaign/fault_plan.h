#pragma once
// One run of the fault campaign, drawn from its seed: the operation, the
// interface it runs on, its parameters and the box's misbehaviour over the
// run. The same seed always gives the same plan, so a failing run replays.
#include <cstdint>
#include <string>
#include <vector>

enum class CampaignOp { Configure, Read, Capture, Accuracy, Resolution, Eeprom, SinCos, Calibration, Force };
inline constexpr int kCampaignOpCount = 9;
const char* campaignOpName(CampaignOp op);

enum class FaultKind {
    Unplug,        // pulled off the bus at `atMs`; back after `forMs` (< 0: never)
    Silence,       // answers and streams nothing for `forMs`
    Gap,           // a short silence: a gap in the stream
    Burst,         // records come `amount` times faster for `forMs`
    LateAnswers,   // every answer `amount` ms late from `atMs` on
    Corrupt,       // the next `amount` blocks carry inverted record bytes
    DropSync,      // the next `amount` blocks lack their sync pattern
    CrcErrors,     // the next `amount` SPI records carry a wrong CRC byte
    StallIn,       // the IN endpoint stalls for `forMs`
    BadAckStatus,  // every capture acknowledgement carries status `amount`
    NoAck,         // no capture acknowledgement at all
    Overflow,      // the next `amount` capture packets are lost in the box
    InOnly,        // the box's firmware has no OUT endpoint (the whole run)
    LostTags,      // every `amount`th calibration information tag is lost
    EepromBurst,   // the read-back comes in one packet at once
    EepromNoise,   // line noise before every read-back pair
    EepromIgnore,  // the encoder keeps its old EEPROM content
    EepromShort,   // every 127th read-back answers the complement
    Jump,          // the absolute position steps by `amount` degrees once
};
const char* faultKindName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::Silence;
    double atMs = 0;    // bench time after the operation's start
    double forMs = 0;
    int amount = 0;
};

struct FaultPlan {
    std::uint64_t seed = 0;
    CampaignOp op = CampaignOp::Configure;
    std::string protocol;       // a name of the protocol table
    int captureSeconds = 1;
    bool decimal = false;       // capture kept as a decimal report
    int eepromValue = 0;
    int resolutionCycles = 10000;
    int calibrationEncoder = 1; // 1 or 2
    double runMs = 0;           // how long the operation runs unharmed
    std::vector<Fault> faults;  // in order of `atMs`

    bool clean() const { return faults.empty(); }
    // "seed 17: capture on BISS, 2 s; unplug at 812 ms for 300 ms, ..."
    std::string describe() const;
};

FaultPlan drawFaultPlan(std::uint64_t seed);
