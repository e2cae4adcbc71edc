#include "interface/configuration_command.h"

#include "app/bench.h"
#include "common/bench_clock.h"
#include "interface/frame_display.h"
#include "interface/settings_ops.h"

void ConfigurationCommand::run()
{
    Bench& b = bench_;
    BenchView& view = b.view();
    BenchState& st = b.state();
    CommandFlags& f = b.flags();
    InterfaceSettingsOps& ops = b.settingsOps();

    b.haltStream(30);

    view.killTimer(kTimerCalibration);
    b.stopAll();

    if (!st.link.usbDevice || !st.link.usbDevice->isOpen() || !st.link.inEndpoint.present()) {
        view.showMessage(kMsgReconnectUsb);
        return;
    }
    if (!ops.readFromControls())
        return;
    if (st.captureSeconds.load() == 0)
        return;
    for (int k = 1; k <= 7; ++k) {
        if (view.text(fieldWidthControl(k)).trimmed().isEmpty()) {
            view.showMessage(kMsgPositiveInteger);
            return;
        }
    }

    for (int id = kTimerCapture; id <= kTimerAutoSave; ++id)
        view.killTimer(id);
    view.setLamp(Control::EepromLamp, LampImage::Unlit);

    ops.writeToControls();
    ops.readWidthEdits();
    ops.readFromControls();
    st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    ops.refreshFieldLayout();

    for (Control c : {Control::ReadData, Control::Resolution, Control::AbsTest, Control::SaveFile,
                      Control::PowerControl})
        view.setEnabled(c, true);
    st.samplingAlive = true;
    f.lower(Flag::ResetAngleCmd);
    f.lower(Flag::ResetTurnsCmd);
    b.decodeFrame(0);

    b.pulse(Flag::ConfigBeginCmd, 100);
    b.pulse(Flag::PowerOnCmd, 100);

    f.raise(Flag::ConfigCmd);
    if (st.settings().protocolCode == 0) {
        // The box takes BISS only after a configuration with protocol 1.
        st.updateSettings([](InterfaceSettings& s) { s.protocolCode = 1; });
        b.send();
        benchSleep(100);
        st.updateSettings([](InterfaceSettings& s) { s.protocolCode = 0; });
    }
    b.send();
    benchSleep(50);
    f.lower(Flag::ConfigCmd);

    if (!st.link.lastSendOk) {
        view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourNotApplied);
        st.configApplied = false;
        view.showMessage(kMsgReconnectPower);
    } else {
        st.link.lastSendOk = false;
        f.raise(Flag::ConfigQueryCmd);
        b.send();
        benchSleep(50);
        if (st.link.lastSendOk) {
            // An earlier drain read's success must not stand in for this
            // answer: a box that stays silent leaves the settings unapplied.
            st.link.lastReadOk = false;
            requestDrainRead(st.link);
            benchSleep(50);
            if (st.link.lastReadOk) {
                view.setButtonColours(Control::ClickingSetting, kColourPressed, kColourApplied);
                view.setText(Control::ClickingSetting, "Clicking setting");
                st.configApplied = true;
                st.drainArmed = true;
                if (st.settings().modes.sinCosMode) {
                    benchSleep(10);
                    startSinCosTest();
                }
            }
        }
    }

    st.link.lastSendOk = false;
    f.lower(Flag::ConfigQueryCmd);
    b.pulse(Flag::PowerOnCmd, 100);
}

void ConfigurationCommand::startSinCosTest()
{
    bench_.sincosTest();
}
