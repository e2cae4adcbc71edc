#pragma once
// An auto-reset completion event: set() wakes one wait and is consumed by it.
// Named after the box's two event kinds ("CYUSB_OUT", "Velt_USB_IN") so a
// debugger shows which transfer a thread waits for.
#include <condition_variable>
#include <mutex>
#include <string>

class CompletionEvent {
public:
    explicit CompletionEvent(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    void set();

    // Waits at most `benchMs` bench milliseconds (negative: without limit).
    // Returns true when the event was signalled; the signal is consumed.
    bool wait(double benchMs);

private:
    std::string name_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};
