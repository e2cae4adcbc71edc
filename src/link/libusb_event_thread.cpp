// The backend's life: libusb's context, the hotplug registration and the
// event thread that handles libusb's events, turns queued changes into
// notifications and polls when there is no hotplug.
#include "link/libusb_internal.h"

using namespace libusb_impl;

void LibusbBackend::Impl::start()
{
    const int r = libusb_init(&ctx);
    if (r != 0) {
        ctx = nullptr;
        initError = std::string("libusb could not be initialised: ") + libusb_strerror(r);
        return;
    }
    if (!options.forcePolling && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        hotplug = libusb_hotplug_register_callback(
                      ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                      LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                      LIBUSB_HOTPLUG_MATCH_ANY, onHotplug, this, &hotplugHandle) == LIBUSB_SUCCESS;
    }
    // After registering, so that a device arriving meanwhile is not missed;
    // an arrival of a device already present is dropped in processQueue().
    std::set<std::uintptr_t> ids = scanPresent();
    {
        std::lock_guard lock(classMutex);
        present = std::move(ids);
    }
    thread = std::thread([this] { run(); });
    eventThread = thread.get_id();
}

void LibusbBackend::Impl::run()
{
    auto nextPoll = std::chrono::steady_clock::now() + options.pollInterval;
    while (!stop.load()) {
        timeval tv{0, 100000};
        libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        if (stop.load())
            break;
        processQueue();
        if (!hotplug && std::chrono::steady_clock::now() >= nextPoll) {
            poll();
            nextPoll = std::chrono::steady_clock::now() + options.pollInterval;
        }
    }
}

void LibusbBackend::Impl::shutdown()
{
    if (!ctx)
        return;
    // Handles still open are closed while the event thread still runs: their
    // cancelled transfers need it to call back.
    std::vector<std::shared_ptr<HandleState>> open;
    {
        std::lock_guard lock(handlesMutex);
        for (auto& w : handles)
            if (auto s = w.lock())
                open.push_back(std::move(s));
        handles.clear();
    }
    for (auto& s : open)
        s->close();

    stop = true;
    libusb_interrupt_event_handler(ctx);
    if (thread.joinable())
        thread.join();
    if (hotplug)
        libusb_hotplug_deregister_callback(ctx, hotplugHandle);
    for (const RawChange& c : queue)
        if (c.device)
            libusb_unref_device(c.device);
    queue.clear();
    libusb_exit(ctx);
    ctx = nullptr;
}
