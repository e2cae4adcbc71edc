#include "bench/eeprom_write.h"

#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "bench/number_input.h"
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
    // The same set stop-all lowers. The guards make sure none of the running
    // modes among them (a capture, the force or sin/cos test) is up here.
    ctx_.flags().lowerEveryOperationFlag();
}

bool EepromWrite::finish()
{
    BenchView& view = ctx_.view;
    for (Control c : kHeldButtons)
        view.setEnabled(c, true);
    lowerSequenceFlags();
    const bool wasRunning = running_.exchange(false);
    view.killTimer(kTimerEeprom);
    view.setText(Control::WriteEeprom, "Write eepprom");
    return wasRunning;
}

void EepromWrite::press()
{
    // A second press always stops the sequence; only a start is guarded.
    if (running()) {
        stop();
        return;
    }
    // Like every command that takes the settings, a pending edit that does
    // not parse is reported here, before the guards.
    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::Eeprom, editor_.editError()));
        return;
    }
    // Taken once, here: editing the field during the sequence changes nothing.
    const ParsedNumber v = parseBoundedInteger(ctx_.state.typed.text(Control::EepromValue), 0, 255);
    if (!v.value) {
        if (startGuards())
            ctx_.refuse(Operation::Eeprom, v.error);
        return;
    }
    start(static_cast<int>(*v.value));
}

bool EepromWrite::startGuards()
{
    return static_cast<bool>(Guards(ctx_, Operation::Eeprom)
                                 .powerOn(false)
                                 .idle({Busy::AbsTest, Busy::Resolution})
                                 .configured()
                                 .idle({Busy::Reading, Busy::Capture, Busy::Force, Busy::SinCos}));
}

void EepromWrite::stop()
{
    ctx_.view.setLamp(Control::EepromLamp, LampImage::Unlit);
    lowerSequenceFlags();
    ctx_.view.setText(Control::WriteEeprom, "Write .....");
    for (int id = kTimerAbsTest; id <= kTimerAutoSave; ++id)
        ctx_.view.killTimer(id);
    ticks_ = 0;
    // The flag drop above cancels a read-back transfer in flight.
    finish();
    ctx_.view.setLamp(Control::EepromLamp, LampImage::Unlit);
    ctx_.conclude(Outcome::stopped(Operation::Eeprom));
}

void EepromWrite::start(int value)
{
    BenchState& st = ctx_.state;
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();
    if (running() || !startGuards())
        return;
    if (value < 0 || value > 255) {
        ctx_.refuse(Operation::Eeprom, parseBoundedInteger(QString::number(value), 0, 255).error);
        return;
    }
    verified_ = false;
    value_ = value;
    view.setLamp(Control::EepromLamp, LampImage::Unlit);

    lowerSequenceFlags();
    view.setText(Control::WriteEeprom, "Write .....");
    for (int id = kTimerAbsTest; id <= kTimerAutoSave; ++id)
        view.killTimer(id);
    ticks_ = 0;

    running_ = true;
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
        ctx_.box.send([value = value_](PacketParams& p) { p.eepromValue = value; });
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
        // The drain clears what the power cycle left and is over before the
        // request goes out: a box that answers in one burst would otherwise
        // lose its pairs to it. The read-back worker holds the endpoint from
        // the request on; pairs that come before its first transfer wait in
        // the box's FIFO.
        f.lower(Flag::PowerOnCmd);
        drainNow(st.link);
        f.raise(Flag::EepromReadCmd);
        const int value = value_;
        ctx_.link.workers.start([this, value] { runReadBack(value); });
        ctx_.box.send();
        benchSleep(500);
        break;
    }
    case EepromStep::Verdict:
        // The flag drop in finish() cancels a read-back still waiting. A
        // stop-all that came first has ended the sequence without a verdict.
        if (!finish())
            break;
        view.setLamp(Control::EepromLamp, verified_ ? LampImage::Passed : LampImage::Lit);
        ctx_.box.powerOn(100);
        ctx_.conclude(Outcome::verdict(Operation::Eeprom, verified_, EepromResult{value_, verified_.load()}));
        break;
    }
}

void EepromWrite::reset()
{
    if (running_.exchange(false))
        ctx_.conclude(Outcome::stopped(Operation::Eeprom));
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
