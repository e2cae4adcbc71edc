#include "link/usb_endpoint.h"

#include <algorithm>
#include <cstring>

CCyUSBEndPoint::CCyUSBEndPoint(std::weak_ptr<UsbDeviceHandle> device, const EndpointDescriptor& d)
    : descriptorLength(d.length),
      descriptorType(d.descriptorType),
      address(d.address),
      attributes(d.attributes),
      maxPacketSize(maxPacketSizeOf(d.maxPacketSize)),
      packetsPerMicroframe(((d.maxPacketSize >> 11) & 3) + 1),
      interval(d.interval),
      inbound((d.address & 0x80) != 0),
      device_(std::move(device))
{
}

int CCyUSBEndPoint::maxPacketSizeOf(std::uint16_t w)
{
    return (w & 0x7FF) * (((w >> 11) & 3) + 1);
}

std::shared_ptr<TransferContext> CCyUSBEndPoint::start(std::uint8_t* buf, int len, OverlappedRecord& ov)
{
    auto t = std::make_shared<TransferContext>();
    t->endpointAddress = address;
    t->inbound = inbound;
    t->buffer.resize(static_cast<std::size_t>(std::max(len, 0)));
    if (!inbound && len > 0 && buf)
        std::memcpy(t->buffer.data(), buf, static_cast<std::size_t>(len));
    if (!ov.event)
        ov.event = std::make_shared<CompletionEvent>(inbound ? "Velt_USB_IN" : "CYUSB_OUT");
    t->event = ov.event;
    ov.startFailed = false;

    auto dev = device_.lock();
    if (!dev) {
        ov.startFailed = true;
        t->complete(TransferStatus::NoDevice, 0);
        return t;
    }
    dev->submit(t);
    return t;
}

std::shared_ptr<TransferContext> CCyUSBEndPoint::beginDirectTransfer(std::uint8_t* buf, int len,
                                                                     OverlappedRecord& ov)
{
    return start(buf, len, ov);
}

std::shared_ptr<TransferContext> CCyUSBEndPoint::beginBufferedTransfer(std::uint8_t* buf, int len,
                                                                       OverlappedRecord& ov)
{
    // The buffered path differs only in how the Windows driver copies data;
    // here both end in the same asynchronous submit.
    return start(buf, len, ov);
}

bool CCyUSBEndPoint::waitForTransfer(OverlappedRecord& ov, double timeoutMs)
{
    if (ov.startFailed || !ov.event)
        return false;
    return ov.event->wait(timeoutMs);
}

bool CCyUSBEndPoint::finishTransfer(std::uint8_t* buf, int& len, OverlappedRecord& /*ov*/,
                                    std::shared_ptr<TransferContext>& context)
{
    len = 0;
    if (!context)
        return false;
    auto t = std::move(context);
    if (!t->isDone()) {
        if (auto dev = device_.lock())
            dev->cancel(t);
        lastStatus = TransferStatus::Pending;
        bytesTransferred = 0;
        return false;
    }
    const TransferStatus s = t->status();
    const int n = std::min<int>(t->actualLength(), static_cast<int>(t->buffer.size()));
    if (inbound && buf && n > 0)
        std::memcpy(buf, t->buffer.data(), static_cast<std::size_t>(n));
    len = n;
    bytesTransferred = n;
    lastStatus = s;
    return s == TransferStatus::Completed;
}

std::shared_ptr<TransferContext> CCyControlEndPoint::beginTransfer(std::uint8_t* buf, int len,
                                                                   OverlappedRecord& ov)
{
    auto t = std::make_shared<TransferContext>();
    (void)buf;
    (void)len;
    if (!ov.event)
        ov.event = std::make_shared<CompletionEvent>("CYUSB_CTL");
    t->event = ov.event;
    ov.startFailed = true;
    t->complete(TransferStatus::Error, 0);
    return t;
}

std::shared_ptr<TransferContext> CCyBulkEndPoint::beginTransfer(std::uint8_t* buf, int len,
                                                                OverlappedRecord& ov)
{
    return transferMode == TransferMode::Direct ? beginDirectTransfer(buf, len, ov)
                                                : beginBufferedTransfer(buf, len, ov);
}

std::shared_ptr<CCyUSBEndPoint> makeEndpoint(std::weak_ptr<UsbDeviceHandle> device,
                                             const EndpointDescriptor& d)
{
    switch (d.attributes & 3) {
    case 0: return std::make_shared<CCyControlEndPoint>(std::move(device), d);
    case 1: return std::make_shared<CCyIsocEndPoint>(std::move(device), d);
    case 3: return std::make_shared<CCyInterruptEndPoint>(std::move(device), d);
    default: return std::make_shared<CCyBulkEndPoint>(std::move(device), d);
    }
}
