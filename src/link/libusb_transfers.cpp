// Open devices: asynchronous bulk (and interrupt) transfers and the close
// that waits for every one of them.
#include "link/libusb_internal.h"

namespace libusb_impl {

namespace {

TransferStatus statusOf(libusb_transfer_status s)
{
    switch (s) {
    case LIBUSB_TRANSFER_COMPLETED: return TransferStatus::Completed;
    case LIBUSB_TRANSFER_STALL: return TransferStatus::Stall;
    case LIBUSB_TRANSFER_NO_DEVICE: return TransferStatus::NoDevice;
    case LIBUSB_TRANSFER_CANCELLED: return TransferStatus::Cancelled;
    default: return TransferStatus::Error;  // error, time-out, overflow
    }
}

void LIBUSB_CALL onTransferDone(libusb_transfer* x)
{
    auto* f = static_cast<InFlight*>(x->user_data);
    const TransferStatus status = statusOf(x->status);
    const int actual = x->actual_length;
    {
        std::lock_guard lock(f->owner->mutex);
        f->owner->inFlight.erase(f->context.get());
    }
    f->owner->idle.notify_all();
    f->context->complete(status, actual);
    libusb_free_transfer(x);
    delete f;
}

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    explicit LibusbDeviceHandle(std::shared_ptr<HandleState> s) : s_(std::move(s)) {}
    ~LibusbDeviceHandle() override { s_->close(); }
    const UsbDeviceInfo& info() const override { return s_->info; }
    void submit(const std::shared_ptr<TransferContext>& t) override { s_->submit(t); }
    void cancel(const std::shared_ptr<TransferContext>& t) override { s_->cancel(t); }
    void close() override { s_->close(); }
    std::uintptr_t deviceId() const override { return s_->id; }

private:
    std::shared_ptr<HandleState> s_;
};

}  // namespace

std::uint8_t HandleState::transferTypeOf(std::uint8_t address) const
{
    for (const ConfigDescriptor& c : info.configurations)
        for (const InterfaceDescriptor& itf : c.interfaces)
            if (itf.alternateSetting == info.currentAlternateSetting)
                for (const EndpointDescriptor& e : itf.endpoints)
                    if (e.address == address)
                        return e.attributes & 3;
    return LIBUSB_TRANSFER_TYPE_BULK;
}

void HandleState::submit(const std::shared_ptr<TransferContext>& t)
{
    if (!t)
        return;
    const std::uint8_t type = transferTypeOf(t->endpointAddress);
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        t->complete(TransferStatus::Error, 0);  // the box link makes bulk transfers only
        return;
    }
    libusb_transfer* x = nullptr;
    InFlight* f = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!handle || closing) {
            t->complete(TransferStatus::NoDevice, 0);
            return;
        }
        x = libusb_alloc_transfer(0);
        if (!x) {
            t->complete(TransferStatus::Error, 0);
            return;
        }
        f = new InFlight{t, shared_from_this(), x};
        // No libusb time-out: the caller bounds its wait and cancels.
        if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
            libusb_fill_interrupt_transfer(x, handle, t->endpointAddress, t->buffer.data(),
                                           static_cast<int>(t->buffer.size()), onTransferDone, f, 0);
        else
            libusb_fill_bulk_transfer(x, handle, t->endpointAddress, t->buffer.data(),
                                      static_cast<int>(t->buffer.size()), onTransferDone, f, 0);
        // Registered before the submit so that close() waits for it.
        inFlight[t.get()] = f;
    }
    const int r = libusb_submit_transfer(x);
    if (r == 0)
        return;
    {
        std::lock_guard lock(mutex);
        inFlight.erase(t.get());
    }
    idle.notify_all();
    libusb_free_transfer(x);
    delete f;
    t->complete(r == LIBUSB_ERROR_NO_DEVICE ? TransferStatus::NoDevice : TransferStatus::Error, 0);
}

void HandleState::cancel(const std::shared_ptr<TransferContext>& t)
{
    // Under the lock: the completion callback unregisters before it frees.
    std::lock_guard lock(mutex);
    auto it = inFlight.find(t.get());
    if (it != inFlight.end())
        libusb_cancel_transfer(it->second->transfer);
}

void HandleState::close()
{
    std::lock_guard closeLock(closeMutex);
    libusb_device_handle* h = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!handle)
            return;
        closing = true;
        h = handle;
    }
    // Every transfer must have called back before the handle goes: libusb
    // still owns them, and the device may still write into their buffers.
    const bool onEventThread = std::this_thread::get_id() == eventThread;
    for (;;) {
        std::unique_lock lock(mutex);
        if (inFlight.empty())
            break;
        // Repeated on each round: a submit racing the close may have
        // registered a transfer after the previous round.
        for (auto& entry : inFlight)
            libusb_cancel_transfer(entry.second->transfer);
        if (onEventThread) {
            // Called from a change notification: nobody else handles events.
            lock.unlock();
            timeval tv{0, 50000};
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        } else {
            idle.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    libusb_release_interface(h, 0);
    if (detachedKernelDriver)
        libusb_attach_kernel_driver(h, 0);
    libusb_close(h);
    std::lock_guard lock(mutex);
    handle = nullptr;
}

std::unique_ptr<UsbDeviceHandle> makeDeviceHandle(std::shared_ptr<HandleState> state)
{
    return std::make_unique<LibusbDeviceHandle>(std::move(state));
}

}  // namespace libusb_impl
