#include "bench/guards.h"

#include "bench/operation_registry.h"
#include "common/logging.h"

bool BenchModes::is(Busy b) const
{
    const CommandFlags& f = state_.link.flags;
    switch (b) {
    case Busy::Reading: return f.isUp(Flag::ReadActive);
    case Busy::Capture: return f.isUp(Flag::SaveActive);
    case Busy::AbsTest: return probed(b);
    case Busy::AbsStep: return f.isUp(Flag::AbsStepActive);
    case Busy::Resolution: return f.isUp(Flag::ResolutionActive);
    case Busy::SinCos: return f.isUp(Flag::SincosActive);
    case Busy::Force: return f.isUp(Flag::ForceActive);
    case Busy::Eeprom:
        return probed(b) || f.isUp(Flag::EepromWriteCmd) || f.isUp(Flag::EepromReadCmd);
    case Busy::Configuring: return f.isUp(Flag::ConfigCmd);
    case Busy::PoweringOn: return f.isUp(Flag::PowerOnCmd);
    case Busy::ResetAngle: return f.isUp(Flag::ResetAngleCmd);
    case Busy::ResetTurns: return f.isUp(Flag::ResetTurnsCmd);
    }
    return false;
}

bool BenchModes::probed(Busy b) const
{
    const std::function<bool()>* probe = ctx_.operations ? ctx_.operations->busyProbe(b) : nullptr;
    return probe && (*probe)();
}

bool BenchModes::any(std::initializer_list<Busy> set) const
{
    for (Busy b : set)
        if (is(b))
            return true;
    return false;
}

bool BenchModes::streaming() const
{
    return any({Busy::Reading, Busy::AbsStep, Busy::Resolution, Busy::SinCos, Busy::Force, Busy::Capture});
}

bool BenchModes::powerOff() const
{
    return state_.link.flags.isUp(Flag::PowerOffCmd);
}

Guards& Guards::check(bool refused, const QString& message)
{
    if (!ok_ || !refused)
        return *this;
    ok_ = false;
    qCDebug(lcBench) << "refused:" << (message.isEmpty() ? QStringLiteral("(silently)") : message);
    if (!message.isEmpty())
        ctx_.view.showMessage(message);
    if (operation_)
        ctx_.conclude(Outcome::refused(*operation_, message));
    return *this;
}

Guards& Guards::powerOn(bool withMessage)
{
    return check(modes_.powerOff(), withMessage ? kMsgPowerOn : QString());
}

Guards& Guards::configured()
{
    return check(!ctx_.state.configApplied.load(), kMsgSetConfiguration);
}

Guards& Guards::boxPresent(bool needOut)
{
    return check(!ctx_.link.inEndpoint.present() || (needOut && !ctx_.link.outEndpoint.present()), kMsgReconnectUsb);
}

Guards& Guards::idle(std::initializer_list<Busy> busy)
{
    return check(modes_.any(busy), QString());
}

Guards& Guards::rs485()
{
    return check(!ctx_.settings().modes.rs485Mode, kMsgOnly485);
}

Guards& Guards::sinCos()
{
    return check(!ctx_.settings().modes.sinCosMode, kMsgOnlySinCos);
}

Guards& Guards::notIncremental()
{
    return check(ctx_.settings().modes.incrementalMode, kMsgUnsupportedTtl);
}

Guards& Guards::refuseIf(bool refused, const QString& message)
{
    return check(refused, message);
}
