#include "bench/eeprom_write.h"

#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "link/bounded_read.h"
#include "measure/eeprom_readback.h"

#include <vector>

namespace {

// The read-back transfer is cancelled by the verdict (about 400 ms after the
// worker starts) or by a second press; this limit only ends it if neither
// ever comes.
constexpr double kReadBackLimitMs = 1500;
constexpr double kRetryPauseMs = 10;

// The buttons the sequence takes while it runs. "Power control" is among
// them: switching the power off mid-sequence would be undone by the power
// cycle at tick 8 behind the button's colours.
constexpr Control kHeldButtons[] = {Control::ReadData, Control::ResetAngle, Control::ResetMultiTurn,
                                    Control::PowerControl};

}  // namespace

void EepromWrite::lowerSequenceFlags()
{
    CommandFlags& f = ctx_.flags();
    // The same set stop-all lowers. The guards make sure none of the running
    // modes among them (a capture, the force or sin/cos test) is up here.
    for (Flag fl : {Flag::PowerOnCmd, Flag::ForceActive, Flag::SincosActive, Flag::ResetAngleCmd,
                    Flag::ResetTurnsCmd, Flag::AbsStepActive, Flag::ResolutionActive, Flag::SaveActive,
                    Flag::ReadActive, Flag::StopCmd, Flag::PowerOffCmd, Flag::ConfigCmd,
                    Flag::ConfigQueryCmd, Flag::Cal1DCmd, Flag::CalParamCmd, Flag::CoarseEccentricityCmd,
                    Flag::FineAdcCmd, Flag::CoarseAdcCmd, Flag::FineRadiusCmd, Flag::ZeroAlignCmd,
                    Flag::CalInfoCmd, Flag::Cal16Cmd, Flag::CalEqualsCmd, Flag::EepromWriteCmd,
                    Flag::EepromReadCmd})
        f.lower(fl);
}

void EepromWrite::finish()
{
    BenchView& view = ctx_.view;
    for (Control c : kHeldButtons)
        view.setEnabled(c, true);
    lowerSequenceFlags();
    ctx_.state.eepromRunning = false;
    view.killTimer(kTimerEeprom);
    view.setText(Control::WriteEeprom, "Write eepprom");
}

void EepromWrite::press()
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    // A second press always stops the sequence; only a start is guarded.
    const bool stopping = running();
    if (!stopping &&
        !Guards(ctx_)
             .powerOn(false)
             .idle({Busy::AbsTest, Busy::Resolution})
             .configured()
             .idle({Busy::Reading, Busy::Capture, Busy::Force, Busy::SinCos}))
        return;

    verified_ = false;
    view.setLamp(Control::EepromLamp, LampImage::Unlit);
    if (!stopping) {
        // Taken once, here: editing the field during the sequence changes nothing.
        const ParsedNumber v = parseBoundedInteger(st.typed.text(Control::EepromValue), 0, 255);
        if (!v.value) {
            view.showMessage(v.error);
            return;
        }
        st.eepromValue = static_cast<int>(*v.value);
    }

    lowerSequenceFlags();
    view.setText(Control::WriteEeprom, "Write .....");
    for (int id = kTimerAbsTest; id <= kTimerAutoSave; ++id)
        view.killTimer(id);
    ticks_ = 0;

    if (stopping) {
        // The flag drop above cancels a read-back transfer in flight.
        finish();
        view.setLamp(Control::EepromLamp, LampImage::Unlit);
        return;
    }

    st.eepromRunning = true;
    for (Control c : kHeldButtons)
        view.setEnabled(c, false);
    ctx_.box.stop(30);
    benchSleep(100);
    f.raise(Flag::PowerOnCmd);
    ctx_.box.send();
    benchSleep(500);
    st.link.lastSendOk = false;
    f.lower(Flag::PowerOnCmd);
    view.startTimer(kTimerEeprom, kTimerPeriodMs[kTimerEeprom]);
}

void EepromWrite::tick()
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    ++ticks_;
    view.setLamp(Control::EepromLamp, eepromLampLit(ticks_) ? LampImage::Lit : LampImage::Unlit);

    switch (eepromStepAt(ticks_)) {
    case EepromStep::None:
        break;
    case EepromStep::Write:
        // Held until the power cycle; the box takes it from this one packet.
        f.raise(Flag::EepromWriteCmd);
        ctx_.box.send();
        break;
    case EepromStep::PowerCycle:
        f.lower(Flag::EepromWriteCmd);
        f.raise(Flag::PowerOffCmd);
        ctx_.box.send();
        benchSleep(100);
        f.lower(Flag::PowerOffCmd);
        f.raise(Flag::PowerOnCmd);
        ctx_.box.send();
        break;
    case EepromStep::ReadBack: {
        f.lower(Flag::PowerOnCmd);
        f.raise(Flag::EepromReadCmd);
        ctx_.box.send();
        benchSleep(100);
        requestDrainRead(st.link, [&f] { return f.isUp(Flag::EepromReadCmd); });
        benchSleep(500);
        const int value = st.eepromValue.load();
        ctx_.link.workers.start([this, value] { runReadBack(value); });
        break;
    }
    case EepromStep::Verdict:
        // The flag drop in finish() cancels a read-back still waiting.
        finish();
        view.setLamp(Control::EepromLamp, verified_ ? LampImage::Passed : LampImage::Lit);
        ctx_.report(QStringLiteral("eeprom"), verified_, {{"value", st.eepromValue.load()}});
        ctx_.box.powerOn(100);
        break;
    }
}

void EepromWrite::reset()
{
    ctx_.state.eepromRunning = false;
}

void EepromWrite::runReadBack(int value)
{
    BoxLink& link = ctx_.link;
    CommandFlags& f = ctx_.flags();
    auto requested = [&f] { return f.isUp(Flag::EepromReadCmd); };
    if (!requested())
        return;

    // One transfer is scanned; the box commits its pairs in short packets,
    // so a transfer ends with one packet of pairs however long it is asked.
    std::vector<std::uint8_t> buf(kEepromReadBackBytes);
    BoundedRead request;
    request.length = kEepromReadBackBytes;
    request.limitMs = kReadBackLimitMs;
    request.keepWaiting = requested;
    for (;;) {
        if (!link.inEndpoint.present())
            return;
        if (link.removalSeen) {
            ctx_.stopAll();
            return;
        }
        const ReadOutcome r = readBounded(link, buf.data(), request);
        if (link.removalSeen) {
            ctx_.stopAll();
            return;
        }
        if (r.status == ReadStatus::Failed && requested()) {
            benchSleep(kRetryPauseMs);
            continue;
        }
        if (r.ok() && eepromReadBackVerified({buf.data(), static_cast<std::size_t>(r.bytes)}, value))
            verified_ = true;
        break;
    }
    f.lower(Flag::EepromReadCmd);
}
