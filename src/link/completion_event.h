#pragma once
// An auto-reset completion event: set() wakes one wait and is consumed by it.
// Named after the box's two event kinds ("CYUSB_OUT", "Velt_USB_IN") so a
// debugger shows which transfer a thread waits for. Waits run on the bench
// clock, so a transfer's completion wait passes in virtual time in tests.
#include <string>

class Clock;

class CompletionEvent {
public:
    explicit CompletionEvent(std::string name);

    const std::string& name() const { return name_; }

    void set();

    // Waits at most `benchMs` bench milliseconds (negative: without limit).
    // Returns true when the event was signalled; the signal is consumed.
    bool wait(double benchMs);

private:
    std::string name_;
    Clock& clock_;
    bool signalled_ = false;  // written inside clock updates
};
