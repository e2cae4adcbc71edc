#include "bench/reading.h"

#include "bench/frame_display.h"
#include "bench/guards.h"
#include "bench/settings_editor.h"
#include "common/clock.h"
#include "interface/frame_decoder.h"
#include "interface/stream_parser.h"
#include "link/stream_reader.h"

#include <QJsonArray>
#include <QJsonObject>

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

void Reading::readData()
{
    BenchView& view = ctx_.view;
    BenchState& st = ctx_.state;
    CommandFlags& f = ctx_.flags();

    view.setLamp(Control::EepromLamp, LampImage::Unlit);
    if (!Guards(ctx_, Operation::Read)
             .powerOn(true)
             .refuseIf(ctx_.settings().modes.sinCosMode)
             .idle({Busy::Capture, Busy::AbsTest, Busy::Configuring, Busy::Resolution})
             .configured()
             // The force test's stream feeds the same reader: a press would
             // stop the box and end the force test through stop-all.
             .idle({Busy::SinCos, Busy::Force}))
        return;

    auto takeSettings = [&] {
        editor_.takeEdits();
        st.updateSettings([](InterfaceSettings& s) { s.computeFieldMasks(); });
    };

    if (st.restartOnRead) {
        // Restart: stop the box, power-cycle the stream, start afresh.
        ctx_.haltStream(50);
        f.raise(Flag::PowerOnCmd);
        ctx_.box.send();
        benchSleep(30);
        st.link.lastSendOk = false;
        f.lower(Flag::PowerOnCmd);
        f.raise(Flag::StopCmd);
        ctx_.box.send();
        benchSleep(15);
        benchSleep(1000);
        f.lower(Flag::StopCmd);
        f.raise(Flag::ReadActive);
        takeSettings();
        st.lastRawFrame = 0;
        display_.decodeFrame(0);
    } else {
        f.set(Flag::ReadActive, !f.isUp(Flag::ReadActive));
        if (!f.isUp(Flag::ReadActive)) {
            benchSleep(100);
            ctx_.box.stop(10);
            view.setText(Control::ReadData, "Read data");
            for (Control c : kStreamButtons)
                view.setEnabled(c, true);
            return;
        }
        f.lower(Flag::ReadActive);
        ctx_.box.stop(100);
        f.raise(Flag::ReadActive);
        takeSettings();
    }

    const SendTicket sender = ctx_.box.send();
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

bool Reading::startReader()
{
    BenchState& st = ctx_.state;
    st.readerWorker = st.link.workers.start([this] { runReader(); });
    return static_cast<bool>(st.readerWorker);
}

void Reading::runReader()
{
    ReadTally tally;
    tally.startMs = benchClock().nowMs();
    readUntilStopped(tally);
    if (!tally.reading || (tally.values == 0 && tally.end == ReadTally::End::Stopped))
        return;  // the reader served the force or accuracy test, or showed nothing
    const BenchState& st = ctx_.state;
    const InterfaceSettings s = st.settingsSnapshot();
    ReadResult result;
    result.end = static_cast<ReadResult::End>(tally.end);
    result.values = tally.values;
    result.lastRaw = static_cast<std::int64_t>(tally.lastShown);
    result.series = std::move(tally.series);
    for (unsigned k = 0; k < s.fieldCount && k < kMaxFields; ++k)
        result.fields.push_back(st.fieldValue[k].load());
    if (s.gaugeField >= 1 && s.gaugeField <= static_cast<int>(s.fieldCount))
        result.angle = st.gaugeAngle.load();
    ctx_.conclude(Outcome::verdict(Operation::Read, tally.end == ReadTally::End::Stopped, std::move(result)));
}

void Reading::readUntilStopped(ReadTally& tally)
{
    BenchState& st = ctx_.state;
    BoxLink& link = st.link;
    CommandFlags& f = ctx_.flags();

    const InterfaceSettings start = st.settingsSnapshot();
    int totalBits = 0;
    for (int w : start.fieldWidth)
        totalBits += w;
    const std::int64_t frameMask = readFrameMaskOf(totalBits);
    const RecordFormat format = recordFormatFor(start.modes);
    StreamReader reader(link, {kFirstReadLength, start.modes.rxOnlyMode ? kRxOnlyReadWaitMs : kReadWaitMs});
    std::int64_t previousShownValue = 0;
    bool readButtonShown = false;

    const BenchModes modes(ctx_);
    auto running = [&] {
        return f.isUp(Flag::ReadActive) || f.isUp(Flag::ForceActive) || modes.is(Busy::AbsTest) ||
               f.isUp(Flag::ResolutionActive) || f.isUp(Flag::PowerOnCmd);
    };

    while (running()) {
        if (f.isUp(Flag::ReadActive))
            tally.reading = true;
        if (link.removalSeen || !link.inEndpoint.present() || !link.usbDevice || !link.usbDevice->isOpen()) {
            tally.ended(ReadTally::End::BoxRemoved);
            ctx_.stopAll();
            return;
        }
        const ReadOutcome r = reader.next(running);
        if (r.status == ReadStatus::TimedOut) {
            tally.ended(ReadTally::End::BoxSilent);
            // The box has stopped streaming.
            ctx_.stopAll();
            if (!link.removalSeen) {
                display_.decodeFrame(0);
                ctx_.view.setGaugeValue(st.gaugeAngle.load());
            }
            continue;
        }
        if (r.status == ReadStatus::Failed) {
            // Skipped, but not asked again at once: a stalled endpoint fails
            // every transfer the moment it starts, and would spin a core.
            benchSleep(start.modes.rxOnlyMode ? kRxOnlyReadWaitMs : kReadWaitMs);
            continue;
        }
        if (!r.ok())
            continue;

        if (!(f.isUp(Flag::ReadActive) || f.isUp(Flag::ForceActive) || modes.is(Busy::AbsTest) ||
              f.isUp(Flag::PowerOnCmd)))
            continue;

        bool crcFailed = false;
        auto crcMismatch = [&](std::uint8_t crcByte) {
            return start.modes.spiCrcMode && st.spiCrcField.load() != crcByte;
        };
        const RecordWalk walk = reader.walk(format, previousShownValue, [&](const ParsedRecord& rec) {
            st.lastRawFrame = rec.value;
            if (crcMismatch(rec.spiCrcByte)) {
                crcFailed = true;
                return false;
            }
            return true;
        });
        if (!walk.synced || crcFailed) {
            if (crcFailed) {
                tally.ended(ReadTally::End::CrcError);
                ctx_.stopAll();
                ctx_.view.showMessage(kMsgSpiCrcError);
            }
            continue;
        }
        if (walk.lastValue)
            st.lastRawFrame = *walk.lastValue;
        if (walk.changedValue) {
            const std::int64_t v = *walk.changedValue;
            if (!f.isUp(Flag::ForceActive)) {
                const std::int64_t d = start.modes.spiMode ? frameShift(v, 48 - totalBits) : (v & frameMask);
                display_.decodeFrame(v);
                display_.showRawFrame(d);
                ctx_.view.setGaugeValue(st.gaugeAngle.load());
                if (f.isUp(Flag::ReadActive))
                    tally.shown(d, benchClock().nowMs());
            } else if (forceSink_) {
                forceSink_->onForceReading(v);
            }
            if (crcMismatch(walk.spiCrcByte)) {
                tally.ended(ReadTally::End::CrcError);
                ctx_.stopAll();
                ctx_.view.showMessage(kMsgSpiCrcError);
                continue;
            }
        }
        if (walk.recordsParsed > 0) {
            if (!readButtonShown) {
                ctx_.view.setEnabled(Control::ReadData, true);
                readButtonShown = true;
            }
            f.lower(Flag::PowerOnCmd);
        }
        if (walk.changedValue)
            previousShownValue = *walk.changedValue;
    }
}

void Reading::reset(Flag flag, Control button)
{
    BenchView& view = ctx_.view;
    CommandFlags& f = ctx_.flags();

    if (!Guards(ctx_)
             .powerOn(false)
             .configured()
             .rs485()
             .idle({Busy::Capture, Busy::AbsTest, Busy::Resolution, Busy::PoweringOn})
             .refuseIf(f.isUp(flag)))
        return;

    view.setEnabled(button, false);
    if (f.isUp(Flag::ReadActive))
        readData();
    benchSleep(50);
    f.raise(flag);
    ctx_.box.send();
    benchSleep(20);
    ctx_.state.link.lastSendOk = false;
    benchSleep(200);
    f.lower(flag);
    view.setEnabled(button, true);
}
