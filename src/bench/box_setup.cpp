#include "bench/box_setup.h"

#include "bench/operation_registry.h"

#include "bench/frame_display.h"
#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "common/clock.h"

void BoxSetup::searchBox()
{
    ctx_.view.setTitle(QString::fromStdString(findBox(ctx_.link)));
    if (!ctx_.link.accessError.empty())
        ctx_.view.showMessage(QString::fromStdString(ctx_.link.accessError));
}

void BoxSetup::onDeviceChange(const DeviceChangeEvent& e)
{
    BoxLink& link = ctx_.link;
    if (e.kind == DeviceChangeEvent::Kind::RemovalComplete && ctx_.operations)
        ctx_.operations->boxRemoved();
    ctx_.stopAll();
    benchSleep(10);

    switch (e.kind) {
    case DeviceChangeEvent::Kind::Arrival:
        link.arrivalSeen = true;
        link.nodesChanged = false;
        break;
    case DeviceChangeEvent::Kind::NodesChanged:
        link.nodesChanged = true;
        link.removalSeen = false;
        break;
    case DeviceChangeEvent::Kind::RemovalComplete:
        link.removalSeen = true;
        if (link.usbDevice && e.deviceId != 0 && e.deviceId == link.usbDevice->openDeviceId()) {
            link.usbDevice->close();
            ctx_.view.setTitle(QString());
        }
        link.inEndpoint.set(nullptr);
        link.outEndpoint.set(nullptr);
        ctx_.view.showWindow();
        break;
    }

    if (link.removalSeen) {
        if (!link.nodesChanged)
            return;
        link.nodesChanged = false;
        searchBox();
    }
    if (link.nodesChanged && link.arrivalSeen) {
        searchBox();
        link.arrivalSeen = false;
        link.nodesChanged = false;
        ctx_.flags().lower(Flag::SaveActive);
        ctx_.flags().lower(Flag::ReadActive);
        if (ctx_.operations)
            ctx_.operations->boxArrived();
    }
}

void BoxSetup::powerControl()
{
    CommandFlags& f = ctx_.flags();
    if (ctx_.settings().modes.sinCosMode)
        return;
    if (!Guards(ctx_).boxPresent().idle({Busy::Capture, Busy::AbsTest, Busy::Configuring, Busy::Resolution,
                                          Busy::SinCos, Busy::Reading}))
        return;
    if (!editor_.takeEdits())
        return;

    const std::array<QString, 3> values{display_.valueText(1), display_.valueText(2), display_.valueText(3)};

    f.raise(Flag::StopCmd);
    ctx_.link.senderWorker = ctx_.box.send();
    benchSleep(100);
    f.lower(Flag::StopCmd);

    f.set(Flag::PowerOffCmd, !f.isUp(Flag::PowerOffCmd));
    if (f.isUp(Flag::PowerOffCmd)) {
        ctx_.box.send();
        benchSleep(50);
        ctx_.view.setButtonColours(Control::PowerControl, kColourNotApplied, kColourNotApplied);
        ctx_.view.setText(Control::Frozen1, values[0]);
        ctx_.view.setText(Control::Frozen2, values[1]);
        ctx_.view.setText(Control::Frozen3, values[2]);
    } else {
        ctx_.box.powerOn(50);
        ctx_.view.setButtonColours(Control::PowerControl, kColourPressed, kColourApplied);
    }
    ctx_.view.setText(Control::PowerControl, "Power Control");
}
