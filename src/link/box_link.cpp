#include "link/box_link.h"

#include "common/logging.h"
#include "link/bounded_read.h"

#include <vector>

namespace {
constexpr double kSendCompletionWaitMs = 10;
constexpr double kDrainFirstWaitMs = 100;
constexpr double kDrainLimitMs = 1000;
constexpr int kDrainLength = 2048;
}  // namespace

SendStatus runSender(BoxLink& link, const CommandPacket& packet)
{
    std::shared_ptr<CCyUSBEndPoint> out = link.outEndpoint.get();
    if (!out)
        return SendStatus::NoEndpoint;  // lastSendOk keeps its value
    CommandPacket buf = packet;
    link.sendLock.acquire();
    OverlappedRecord ov;
    ov.event = std::make_shared<CompletionEvent>("CYUSB_OUT");
    auto ctx = out->beginTransfer(buf.data(), static_cast<int>(buf.size()), ov);
    out->waitForTransfer(ov, kSendCompletionWaitMs);
    int len = 0;
    // A write still pending here is cancelled by finishTransfer; its context
    // keeps the packet alive until the device lets go of it.
    const bool ok = out->finishTransfer(buf.data(), len, ov, ctx);
    link.sendLock.release();
    link.lastSendOk = ok;
    qCDebug(lcLink, "%10.3f OUT %02X %02X %02X %02X %02X %02X … %s", benchClock().nowMs(), buf[0], buf[1], buf[2],
            buf[3], buf[4], buf[5], ok ? "ok" : "failed");
    return ok ? SendStatus::Sent : SendStatus::Failed;
}

SendStatus BoxLink::writePacket(const CommandPacket& packet)
{
    return runSender(*this, packet);
}

SendTicket requestSend(BoxLink& link, const PacketParams& params)
{
    return link.outQueue.enqueue(buildCommandPacket(link.flags.snapshot(), params));
}

void runDrainRead(BoxLink& link, InSession& session, std::int64_t startMicros,
                  const std::function<bool()>& stillArmed)
{
    std::vector<std::uint8_t> buf(kDrainLength, 0);
    const double limitMs = stillArmed ? kDrainLimitMs : kDrainFirstWaitMs;
    auto elapsedMs = [&] { return static_cast<double>(benchClock().nowMicros() - startMicros) / 1000.0; };
    BoundedRead wait;
    wait.length = kDrainLength;
    wait.limitMs = limitMs - elapsedMs();
    wait.firstWaitMs = kDrainFirstWaitMs - elapsedMs();
    wait.keepWaiting = stillArmed;
    ReadOutcome r = session.next(buf.data(), wait);
    if (r.status == ReadStatus::TimedOut || r.status == ReadStatus::Stopped) {
        // Cancelled here; one that completed meanwhile keeps its answer.
        const ReadOutcome late = session.cancelHead(buf.data());
        r = late.ok() ? late : r;
    }
    switch (r.status) {
    case ReadStatus::NoEndpoint:
    case ReadStatus::TimedOut:
    case ReadStatus::Stopped:
    case ReadStatus::Cancelled:
        // No answer while it mattered: lastReadOk keeps its value.
        return;
    case ReadStatus::Ok:
    case ReadStatus::Failed:
        // An answer after the first 100 ms is taken and dropped unseen.
        if (elapsedMs() > kDrainFirstWaitMs)
            return;
        break;
    }
    if (link.removalSeen.load()) {
        if (link.hooks.stopAll)
            link.hooks.stopAll();
        return;
    }
    // The bytes themselves are not looked at.
    if (r.ok()) {
        link.lastReadOk = true;
    } else {
        link.lastReadOk = false;
        if (link.hooks.showMessage)
            link.hooks.showMessage(kDrainFailedMessage);
    }
}

void drainNow(BoxLink& link)
{
    const std::int64_t start = benchClock().nowMicros();
    const auto session = link.inPump.open({kDrainLength, 1, kDrainFirstWaitMs});
    runDrainRead(link, *session, start);
}

DrainRequest requestDrainRead(BoxLink& link, std::function<bool()> stillArmed)
{
    DrainRequest d;
    const std::int64_t start = benchClock().nowMicros();
    d.session = link.inPump.open({kDrainLength, 1, kDrainFirstWaitMs});
    d.worker = link.workers.start([&link, session = d.session, start, stillArmed = std::move(stillArmed)] {
        runDrainRead(link, *session, start, stillArmed);
        session->close();  // the endpoint is free before this worker ends
    });
    link.drainWorker = d.worker;
    return d;
}

std::string findBox(BoxLink& link)
{
    std::string title;
    BoxUsbDevice& dev = *link.usbDevice;
    const int n = dev.deviceCount();
    link.sendLock.acquire();
    bool found = false;
    std::string accessError;
    for (int i = 0; i < n; ++i) {
        if (!dev.open(i)) {
            if (dev.lastOpenError().rfind(kAccessDeniedPrefix, 0) == 0)
                accessError = dev.lastOpenError();
            continue;
        }
        if (dev.deviceName() == kBoxDeviceName) {
            title = "Rotoscope";
            link.inEndpoint.set(dev.endpointOf(kBoxInAddress));
            link.outEndpoint.set(dev.endpointOf(kBoxOutAddress));
            if (!link.inEndpoint.present())
                title += "错误!";
            if (!link.outEndpoint.present())
                title += "错误!";
            found = true;
            break;
        }
    }
    if (!found) {
        link.inEndpoint.set(nullptr);
        link.outEndpoint.set(nullptr);
        // Do not keep some other device of the class open and claimed.
        dev.close();
    }
    link.accessError = found ? std::string() : accessError;
    link.sendLock.release();
    return title;
}
