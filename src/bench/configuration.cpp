#include "bench/configuration.h"

#include "bench/frame_display.h"
#include "bench/guards.h"
#include "bench/number_input.h"
#include "bench/settings_editor.h"
#include "bench/timers.h"
#include "common/clock.h"

namespace {

// Bench milliseconds an operation waits, beyond its fixed wait, for the
// outcome of a packet it depends on: only a starved sender thread (a loaded
// machine, a fast real-time clock) needs any of it.
constexpr double kSendOutcomeWaitMs = 2000;

// The box took the packet: the ticket's outcome, waited for.
bool boxTook(const SendTicket& t)
{
    return t.wait(kSendOutcomeWaitMs) && t.sent();
}

}  // namespace

void ConfigurationCommand::run()
{
    BenchView& view = ctx_.view;
    BenchState& st = ctx_.state;
    CommandFlags& f = ctx_.flags();

    ctx_.haltStream(30);

    view.killTimer(kTimerCalibration);
    ctx_.stopAll();

    if (!st.link.usbDevice || !st.link.usbDevice->isOpen() || !st.link.inEndpoint.present()) {
        ctx_.refuse(Operation::Configure, kMsgReconnectUsb);
        return;
    }
    if (!editor_.takeEdits()) {
        ctx_.conclude(Outcome::refused(Operation::Configure, editor_.editError()));
        return;
    }
    if (st.captureSeconds.load() == 0) {
        ctx_.refuse(Operation::Configure, {});
        return;
    }
    for (int k = 1; k <= 7; ++k) {
        if (st.typed.text(fieldWidthControl(k)).trimmed().isEmpty()) {
            ctx_.refuse(Operation::Configure, kMsgPositiveInteger);
            return;
        }
    }

    for (int id = kTimerCapture; id <= kTimerAutoSave; ++id)
        view.killTimer(id);
    view.setLamp(Control::EepromLamp, LampImage::Unlit);

    editor_.writeToControls();
    editor_.takeWidths();
    editor_.takeEdits();
    st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    editor_.refreshFieldLayout();

    for (Control c : {Control::ReadData, Control::Resolution, Control::AbsTest, Control::SaveFile,
                      Control::PowerControl})
        view.setEnabled(c, true);
    f.lower(Flag::ResetAngleCmd);
    f.lower(Flag::ResetTurnsCmd);
    display_.decodeFrame(0);

    ctx_.box.configBegin(100);
    ctx_.box.powerOn(100);

    f.raise(Flag::ConfigCmd);
    if (ctx_.settings().protocolCode == 0) {
        // The box takes BISS only after a configuration with protocol 1.
        ctx_.box.send([](PacketParams& p) { p.protocolCode = 1; });
        benchSleep(100);
    }
    const SendTicket configuration = ctx_.box.send();
    benchSleep(50);
    f.lower(Flag::ConfigCmd);

    if (!boxTook(configuration)) {
        view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);
        st.configApplied = false;
        view.showMessage(kMsgReconnectPower);
    } else {
        st.link.lastSendOk = false;
        f.raise(Flag::ConfigQueryCmd);
        const SendTicket query = ctx_.box.send();
        benchSleep(50);
        if (boxTook(query)) {
            // An earlier drain read's success must not stand in for this
            // answer: a box that stays silent leaves the settings unapplied.
            st.link.lastReadOk = false;
            // The drain read waits for the answer while this command runs.
            const DrainRequest drain = requestDrainRead(st.link, [&f] { return f.isUp(Flag::ConfigQueryCmd); });
            benchSleep(50);
            // The answer counts when the drain's transfer took it within the
            // wait, even if its worker has not yet run to say so.
            if (st.link.lastReadOk || drain.answered()) {
                view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourApplied);
                view.setText(Control::ClickingSetting, "Clicking setting");
                st.configApplied = true;
                st.drainArmed = true;
                if (ctx_.settings().modes.sinCosMode && sinCosStart_) {
                    benchSleep(10);
                    sinCosStart_();
                }
            }
        }
    }

    st.link.lastSendOk = false;
    f.lower(Flag::ConfigQueryCmd);
    ctx_.box.powerOn(100);
    const bool applied = st.configApplied.load();
    ctx_.conclude(Outcome::verdict(Operation::Configure, applied, ConfigureResult{applied}));
}
