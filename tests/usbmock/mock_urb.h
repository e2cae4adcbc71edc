#pragma once
// A URB as the emulated device's ioctl handler holds it between submit and
// reap: the client's struct usbdevfs_urb and its data buffer, resolved.
#include <umockdev.h>

#include <linux/usbdevice_fs.h>

struct MockUrb {
    UMockdevIoctlData* urb = nullptr;  // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;
    unsigned long clientAddress = 0;

    usbdevfs_urb* kernel() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
    // Given back: reaped with this status and length.
    void finish(int status, int actualLength) const
    {
        kernel()->status = status;
        kernel()->actual_length = actualLength;
    }
    void release()
    {
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
        *this = MockUrb{};
    }
};
