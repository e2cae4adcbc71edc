#pragma once
// The one-byte command and mode flags of the bench. A raised flag makes the
// next outbound packet carry its pattern; the enum order is the precedence
// order in which the packet builder applies them (a later flag overwrites).
#include <array>
#include <atomic>
#include <bitset>
#include <cstddef>

enum class Flag : int {
    ResetAngleCmd,
    ConfigBeginCmd,
    Cal0DCmd,
    CalDashCmd,
    CalICmd,
    CalPCmd,
    EepromWriteCmd,
    EepromReadCmd,
    ResetTurnsCmd,
    PowerOnCmd,
    // The five mode flags that together form the stream command (fill 7A).
    ReadActive,
    AbsStepActive,
    ResolutionActive,
    SincosActive,
    ForceActive,
    SaveActive,
    StopCmd,
    PowerOffCmd,
    ConfigCmd,
    ConfigQueryCmd,
    Cal1DCmd,
    CalParamCmd,
    CoarseEccentricityCmd,
    FineAdcCmd,
    CoarseAdcCmd,
    FineRadiusCmd,
    ZeroAlignCmd,
    CalInfoCmd,
    CalInfoCmd2,
    Cal16Cmd,
    CalEqualsCmd,
    Count
};

constexpr std::size_t kFlagCount = static_cast<std::size_t>(Flag::Count);

// The set of flags that were up when a send was requested.
class FlagSnapshot {
public:
    FlagSnapshot() = default;
    FlagSnapshot(std::initializer_list<Flag> up)
    {
        for (Flag f : up)
            set(f);
    }
    void set(Flag f, bool up = true) { bits_.set(static_cast<std::size_t>(f), up); }
    bool operator[](Flag f) const { return bits_.test(static_cast<std::size_t>(f)); }
    bool any() const { return bits_.any(); }

private:
    std::bitset<kFlagCount> bits_;
};

// Shared flags: raised and lowered by the GUI thread and a few workers, read
// by the sender. Each flag has one writer at a time.
// Every command and mode flag but the calibration engine's own five (Cal0D,
// CalDash, CalI, CalP, CalInfo2), which it lowers itself, and ConfigBegin:
// what stop-all and the EEPROM write lower.
inline constexpr Flag kEveryOperationFlag[] = {
    Flag::PowerOnCmd, Flag::ForceActive, Flag::SincosActive, Flag::ResetAngleCmd,
    Flag::ResetTurnsCmd, Flag::AbsStepActive, Flag::ResolutionActive, Flag::SaveActive,
    Flag::ReadActive, Flag::StopCmd, Flag::PowerOffCmd, Flag::ConfigCmd,
    Flag::ConfigQueryCmd, Flag::Cal1DCmd, Flag::CalParamCmd, Flag::CoarseEccentricityCmd,
    Flag::FineAdcCmd, Flag::CoarseAdcCmd, Flag::FineRadiusCmd, Flag::ZeroAlignCmd,
    Flag::CalInfoCmd, Flag::Cal16Cmd, Flag::CalEqualsCmd, Flag::EepromWriteCmd,
    Flag::EepromReadCmd};

class CommandFlags {
public:
    CommandFlags()
    {
        for (auto& f : flags_)
            f.store(false);
    }
    void raise(Flag f) { at(f).store(true); }
    void lower(Flag f) { at(f).store(false); }
    void set(Flag f, bool up) { at(f).store(up); }
    bool isUp(Flag f) const { return flags_[static_cast<std::size_t>(f)].load(); }
    void lowerAll()
    {
        for (auto& f : flags_)
            f.store(false);
    }
    // Lowers kEveryOperationFlag, in its order.
    void lowerEveryOperationFlag()
    {
        for (Flag f : kEveryOperationFlag)
            lower(f);
    }

    FlagSnapshot snapshot() const
    {
        FlagSnapshot s;
        for (std::size_t i = 0; i < kFlagCount; ++i)
            s.set(static_cast<Flag>(i), flags_[i].load());
        return s;
    }

private:
    std::atomic<bool>& at(Flag f) { return flags_[static_cast<std::size_t>(f)]; }
    std::array<std::atomic<bool>, kFlagCount> flags_;
};
