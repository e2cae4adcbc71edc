#include "interface/continuous_reading.h"

#include "app/bench.h"
#include "common/bench_clock.h"
#include "interface/frame_decoder.h"
#include "interface/settings_ops.h"
#include "interface/stream_parser.h"

#include <vector>

namespace {
constexpr int kFirstReadLength = 2048;
constexpr double kReadWaitMs = 80;
constexpr double kRxOnlyReadWaitMs = 150;

}  // namespace

std::int64_t readFrameMaskOf(int totalBits)
{
    // Computed exactly: a double 2^63 − 1 does not fit a signed 64-bit value.
    if (totalBits <= 0)
        return 0;
    if (totalBits >= 64)
        return -1;
    return static_cast<std::int64_t>((std::uint64_t{1} << totalBits) - 1);
}

void ContinuousReading::readData()
{
    Bench& b = bench_;
    BenchView& view = b.view();
    BenchState& st = b.state();
    CommandFlags& f = b.flags();

    view.setLamp(Control::EepromLamp, LampImage::Unlit);
    if (f.isUp(Flag::PowerOffCmd)) {
        view.showMessage(kMsgPowerOn);
        return;
    }
    if (st.settings().modes.sinCosMode || f.isUp(Flag::SaveActive) || st.absTestActive ||
        f.isUp(Flag::ConfigCmd) || f.isUp(Flag::ResolutionActive))
        return;
    if (!st.configApplied) {
        view.showMessage(kMsgSetConfiguration);
        return;
    }
    if (f.isUp(Flag::SincosActive))
        return;

    auto takeSettings = [&] {
        b.settingsOps().readFromControls();
        st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    };

    if (view.isChecked(Control::AbsRowCheck)) {
        // Restart: stop the box, power-cycle the stream, start afresh.
        b.haltStream(50);
        f.raise(Flag::PowerOnCmd);
        b.send();
        benchSleep(30);
        st.link.lastSendOk = false;
        f.lower(Flag::PowerOnCmd);
        f.raise(Flag::StopCmd);
        b.send();
        benchSleep(15);
        benchSleep(1000);
        f.lower(Flag::StopCmd);
        f.raise(Flag::ReadActive);
        takeSettings();
        st.lastRawFrame = 0;
        b.decodeFrame(0);
    } else {
        f.set(Flag::ReadActive, !f.isUp(Flag::ReadActive));
        if (!f.isUp(Flag::ReadActive)) {
            benchSleep(100);
            b.pulse(Flag::StopCmd, 10);
            view.setText(Control::ReadData, "Read data");
            for (Control c : kStreamButtons)
                view.setEnabled(c, true);
            return;
        }
        f.lower(Flag::ReadActive);
        b.pulse(Flag::StopCmd, 100);
        f.raise(Flag::ReadActive);
        takeSettings();
    }

    const WorkerHandle sender = b.send();
    benchSleep(20);
    if (!sender)
        return;
    if (!startReader())
        return;
    view.setText(Control::ReadData, "Stop display");
    st.drainArmed = true;
    for (Control c : {Control::Resolution, Control::AbsTest, Control::PowerControl, Control::SaveFile,
                      Control::WriteEeprom})
        view.setEnabled(c, false);
}

bool ContinuousReading::startReader()
{
    BenchState& st = bench_.state();
    st.readerWorker = st.link.workers.start([this] { runReader(); });
    return static_cast<bool>(st.readerWorker);
}

void ContinuousReading::runReader()
{
    Bench& b = bench_;
    BenchState& st = b.state();
    BoxLink& link = st.link;
    CommandFlags& f = b.flags();

    link.sendLock.release();
    const InterfaceSettings start = st.settingsSnapshot();
    int totalBits = 0;
    for (int w : start.fieldWidth)
        totalBits += w;
    const std::int64_t frameMask = readFrameMaskOf(totalBits);
    const RecordFormat format = recordFormatFor(start.modes);
    const double waitMs = start.modes.rxOnlyMode ? kRxOnlyReadWaitMs : kReadWaitMs;
    std::int64_t previousShownValue = 0;
    int length = kFirstReadLength;
    bool readButtonShown = false;
    std::vector<std::uint8_t> buf(kFirstReadLength);

    auto running = [&] {
        return f.isUp(Flag::ReadActive) || f.isUp(Flag::ForceActive) || st.absTestActive ||
               f.isUp(Flag::ResolutionActive) || f.isUp(Flag::PowerOnCmd);
    };

    while (running()) {
        std::shared_ptr<CCyUSBEndPoint> in = link.inEndpoint.get();
        if (link.removalSeen || !in || !link.usbDevice || !link.usbDevice->isOpen()) {
            b.stopAll();
            return;
        }

        link.sendLock.acquire();
        OverlappedRecord ov;
        ov.event = std::make_shared<CompletionEvent>("Velt_USB_IN");
        auto ctx = in->beginTransfer(buf.data(), length, ov);
        if (!in->waitForTransfer(ov, waitMs)) {
            if (link.removalSeen) {
                link.sendLock.release();
                b.stopAll();
                return;
            }
            b.stopAll();
            b.decodeFrame(0);
            b.view().setGaugeValue(st.gaugeAngle.load());
            // The box has stopped streaming. Cancel the read rather than wait
            // for data that may never come while holding SendLock: that would
            // block every later command.
            int ignored = 0;
            in->finishTransfer(buf.data(), ignored, ov, ctx);
            link.sendLock.release();
            continue;
        }
        int got = 0;
        const bool ok = in->finishTransfer(buf.data(), got, ov, ctx);
        link.sendLock.release();
        if (!ok)
            continue;
        // Later reads ask for what this one returned; an empty read keeps
        // the length so the reader does not shrink to nothing.
        if (got > 0)
            length = got;

        if (!(f.isUp(Flag::ReadActive) || f.isUp(Flag::ForceActive) || st.absTestActive ||
              f.isUp(Flag::PowerOnCmd)))
            continue;

        bool crcFailed = false;
        auto crcMismatch = [&](std::uint8_t crcByte) {
            return start.modes.spiCrcMode && st.spiCrcField.load() != crcByte;
        };
        const RecordWalk walk =
            walkRecords(buf.data(), got, format, previousShownValue, [&](const ParsedRecord& r) {
                st.lastRawFrame = r.value;
                if (crcMismatch(r.spiCrcByte)) {
                    crcFailed = true;
                    return false;
                }
                return true;
            });
        if (!walk.synced || crcFailed) {
            if (crcFailed) {
                b.stopAll();
                b.view().showMessage(kMsgSpiCrcError);
            }
            continue;
        }
        if (walk.lastValue)
            st.lastRawFrame = *walk.lastValue;
        if (walk.changedValue) {
            const std::int64_t v = *walk.changedValue;
            if (f.isUp(Flag::ForceActive)) {
                // The force test takes the value here once it is on the bench.
            } else {
                const std::int64_t d = start.modes.spiMode ? frameShift(v, 48 - totalBits) : (v & frameMask);
                b.decodeFrame(v);
                b.showRawFrame(d);
                b.view().setGaugeValue(st.gaugeAngle.load());
            }
            if (crcMismatch(walk.spiCrcByte)) {
                b.stopAll();
                b.view().showMessage(kMsgSpiCrcError);
                continue;
            }
        }
        if (walk.recordsParsed > 0) {
            if (!readButtonShown) {
                b.view().setEnabled(Control::ReadData, true);
                readButtonShown = true;
            }
            f.lower(Flag::PowerOnCmd);
        }
        if (walk.changedValue)
            previousShownValue = *walk.changedValue;
    }
}

void ContinuousReading::reset(Flag flag, Control button)
{
    Bench& b = bench_;
    BenchView& view = b.view();
    BenchState& st = b.state();
    CommandFlags& f = b.flags();

    if (f.isUp(Flag::PowerOffCmd))
        return;
    if (!st.configApplied) {
        view.showMessage(kMsgSetConfiguration);
        return;
    }
    if (!st.settings().modes.rs485Mode) {
        view.showMessage(kMsgOnly485);
        return;
    }
    if (f.isUp(Flag::SaveActive) || st.absTestActive || f.isUp(Flag::ResolutionActive) ||
        f.isUp(Flag::PowerOnCmd) || f.isUp(flag))
        return;

    view.setEnabled(button, false);
    if (f.isUp(Flag::ReadActive))
        readData();
    benchSleep(50);
    f.raise(flag);
    b.send();
    benchSleep(20);
    st.link.lastSendOk = false;
    benchSleep(200);
    f.lower(flag);
    view.setEnabled(button, true);
}
