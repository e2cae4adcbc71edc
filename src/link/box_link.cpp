#include "link/box_link.h"

#include <vector>

namespace {
constexpr double kSendCompletionWaitMs = 10;
constexpr double kDrainFirstWaitMs = 100;
constexpr int kDrainLength = 2048;
}  // namespace

void runSender(BoxLink& link, const CommandPacket& packet)
{
    std::shared_ptr<CCyUSBEndPoint> out = link.outEndpoint.get();
    if (!out)
        return;  // lastSendOk keeps its value
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
}

WorkerHandle requestSend(BoxLink& link, const PacketParams& params)
{
    const CommandPacket packet = buildCommandPacket(link.flags.snapshot(), params);
    return link.workers.start([&link, packet] { runSender(link, packet); });
}

void runDrainRead(BoxLink& link)
{
    auto ov = OverlappedRecord{std::make_shared<CompletionEvent>("Velt_USB_IN"), false};
    std::vector<std::uint8_t> buf(kDrainLength, 0);
    std::shared_ptr<CCyUSBEndPoint> in = link.inEndpoint.get();
    if (!in)
        return;
    auto ctx = in->beginTransfer(buf.data(), kDrainLength, ov);
    if (!in->waitForTransfer(ov, kDrainFirstWaitMs)) {
        // Nothing yet: the box answers later (or is unplugged, which ends
        // the transfer). Take that transfer and drop it unseen.
        if (!ov.startFailed)
            in->waitForTransfer(ov, -1);
        int len = 0;
        in->finishTransfer(buf.data(), len, ov, ctx);
        return;
    }
    if (link.removalSeen.load()) {
        if (link.hooks.stopAll)
            link.hooks.stopAll();
        return;
    }
    int len = 0;
    if (in->finishTransfer(buf.data(), len, ov, ctx)) {
        link.lastReadOk = true;
    } else {
        link.lastReadOk = false;
        if (link.hooks.showMessage)
            link.hooks.showMessage(kDrainFailedMessage);
    }
}

WorkerHandle requestDrainRead(BoxLink& link)
{
    WorkerHandle h = link.workers.start([&link] { runDrainRead(link); });
    link.drainWorker = h;
    return h;
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
