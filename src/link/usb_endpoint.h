#pragma once
// Endpoint objects of the box link. The class follows the transfer type in
// the endpoint descriptor. Transfers are asynchronous: begin, wait with a
// time-out, finish.
#include "link/usb_backend.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The completion record handed to beginTransfer: carries the completion event.
struct OverlappedRecord {
    std::shared_ptr<CompletionEvent> event;
    // Set by beginTransfer: true when the start failed at once.
    bool startFailed = false;
};


enum class TransferMode { Direct, Buffered };

class CCyUSBEndPoint {
public:
    CCyUSBEndPoint(std::weak_ptr<UsbDeviceHandle> device, const EndpointDescriptor& d);
    virtual ~CCyUSBEndPoint() = default;
    CCyUSBEndPoint(const CCyUSBEndPoint&) = delete;
    CCyUSBEndPoint& operator=(const CCyUSBEndPoint&) = delete;

    // Slot 0..3 of the endpoint's operations.
    virtual std::shared_ptr<TransferContext> beginDirectTransfer(std::uint8_t* buf, int len,
                                                                 OverlappedRecord& ov);
    virtual std::shared_ptr<TransferContext> beginBufferedTransfer(std::uint8_t* buf, int len,
                                                                   OverlappedRecord& ov);
    virtual std::shared_ptr<TransferContext> beginTransfer(std::uint8_t* buf, int len,
                                                           OverlappedRecord& ov) = 0;
    // Collects the result without waiting. A transfer that has not finished
    // is cancelled: its context keeps the buffer alive until the device lets go.
    virtual bool finishTransfer(std::uint8_t* buf, int& len, OverlappedRecord& ov,
                                std::shared_ptr<TransferContext>& context);

    // Waits at most `timeoutMs` bench milliseconds (negative: without limit).
    bool waitForTransfer(OverlappedRecord& ov, double timeoutMs);

    // (wMaxPacketSize & 0x7FF) x (((wMaxPacketSize >> 11) & 3) + 1)
    static int maxPacketSizeOf(std::uint16_t wMaxPacketSize);

    std::uint8_t descriptorLength;
    std::uint8_t descriptorType;
    std::uint8_t address;
    std::uint8_t attributes;
    int maxPacketSize;
    int packetsPerMicroframe;
    std::uint8_t interval;
    int timeOut = 10000;
    bool inbound;
    TransferMode transferMode = TransferMode::Direct;

    // How the last finished transfer ended (Pending: cancelled before it
    // completed) and what it carried.
    std::atomic<TransferStatus> lastStatus{TransferStatus::Completed};
    std::atomic<int> bytesTransferred{0};

protected:
    std::shared_ptr<TransferContext> start(std::uint8_t* buf, int len, OverlappedRecord& ov);
    std::weak_ptr<UsbDeviceHandle> device_;
};

class CCyControlEndPoint : public CCyUSBEndPoint {
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    // Control transfers go through the device's own requests; the bench makes none.
    std::shared_ptr<TransferContext> beginTransfer(std::uint8_t* buf, int len,
                                                   OverlappedRecord& ov) override;
};

class CCyBulkEndPoint : public CCyUSBEndPoint {
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    std::shared_ptr<TransferContext> beginTransfer(std::uint8_t* buf, int len,
                                                   OverlappedRecord& ov) override;
};

class CCyInterruptEndPoint : public CCyBulkEndPoint {
public:
    using CCyBulkEndPoint::CCyBulkEndPoint;
};

class CCyIsocEndPoint : public CCyBulkEndPoint {
public:
    using CCyBulkEndPoint::CCyBulkEndPoint;
};

// Builds the endpoint object whose class matches the descriptor's transfer type.
std::shared_ptr<CCyUSBEndPoint> makeEndpoint(std::weak_ptr<UsbDeviceHandle> device,
                                             const EndpointDescriptor& d);
