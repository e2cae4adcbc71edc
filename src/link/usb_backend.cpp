#include "link/usb_backend.h"

void TransferContext::complete(TransferStatus status, int actualLength)
{
    {
        std::lock_guard lock(mutex_);
        if (done_)
            return;
        done_ = true;
        status_ = status;
        actual_ = actualLength;
    }
    if (event)
        event->set();
}

bool TransferContext::isDone() const
{
    std::lock_guard lock(mutex_);
    return done_;
}

TransferStatus TransferContext::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

int TransferContext::actualLength() const
{
    std::lock_guard lock(mutex_);
    return actual_;
}
