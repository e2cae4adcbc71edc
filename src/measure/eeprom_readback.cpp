#include "measure/eeprom_readback.h"

bool EepromReadBack::feed(std::span<const std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes) {
        if (verified_)
            break;
        if (pendingMark_) {
            pendingMark_ = false;
            if (b == value_) {
                if (++run_ >= kEepromVerifyRun)
                    verified_ = true;
            } else {
                run_ = 0;
            }
        } else if (b == kEepromPairMark) {
            pendingMark_ = true;
        }
    }
    return verified_;
}

bool eepromReadBackVerified(std::span<const std::uint8_t> transfer, int value)
{
    EepromReadBack scan(value);
    return scan.feed(transfer);
}

EepromStep eepromStepAt(std::uint64_t tick)
{
    if (tick >= kEepromVerdictTick)
        return EepromStep::Verdict;
    switch (tick) {
    case kEepromWriteTick:
        return EepromStep::Write;
    case kEepromPowerCycleTick:
        return EepromStep::PowerCycle;
    case kEepromReadBackTick:
        return EepromStep::ReadBack;
    default:
        return EepromStep::None;
    }
}

bool eepromLampLit(std::uint64_t tick)
{
    return tick % 2 == 0;
}
