#include "link/completion_event.h"

#include "common/clock.h"

CompletionEvent::CompletionEvent(std::string name) : name_(std::move(name)), clock_(benchClock()) {}

void CompletionEvent::set()
{
    clock_.update([this] { signalled_ = true; });
}

bool CompletionEvent::wait(double benchMs)
{
    return clock_.waitFor(benchMs, [this] {
        if (!signalled_)
            return false;
        signalled_ = false;
        return true;
    });
}
