#pragma once
// The bench's one clock. Every fixed wait, timer, completion wait, the
// sender, the IN pump and the simulated box's record clock take their time
// from it.
//
// Two kinds:
//  - SteadyClock: the steady clock in real time (the real box, the window's
//    --simulate), or a fixed number of times faster for demonstrations;
//  - VirtualClock: for the tests and quillmark-tool --simulate. Time stands
//    still while any thread taking part in it ("a member") runs, and jumps to
//    the next deadline once every member waits on the clock. A 204-second box
//    timeline takes as long as its computation, and the same run gives the
//    same packets at the same microsecond every time.
//
// A wait is a predicate plus a deadline. The predicate runs with the clock's
// lock held: it may read only state that is written inside update() (or
// atomics), may "take" what it waits for (consume a signal, own a lock), and
// must not take another lock. Whoever changes such state calls update(),
// which lets every waiter look again.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

class Clock {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    virtual ~Clock() = default;

    // Bench time in microseconds since the clock began.
    virtual std::int64_t nowMicros() const = 0;

    // Blocks until `ready()` holds (true) or bench time reaches
    // `deadlineMicros` (false; kNever: no limit).
    virtual bool waitUntil(std::int64_t deadlineMicros, const std::function<bool()>& ready) = 0;

    // Runs `change` under the clock's lock, then wakes every waiter whose
    // predicate now holds.
    virtual void update(const std::function<void()>& change) = 0;

    virtual bool isVirtual() const { return false; }

    // Membership of the calling thread (virtual time only; no-ops on the
    // steady clock). A member holds time still while it runs. A member that
    // blocks on anything but this clock (a thread join, a mutex held for
    // long, a GUI round trip) must step Away for it, or time stops for all.
    virtual void join() {}
    virtual void leave() {}
    // For a thread about to be started: counts it as running from now, so
    // time cannot jump between the spawn and its first instruction. The new
    // thread calls adopt() first and leave() last.
    virtual void enlist() {}
    virtual void adopt() {}

    // Helpers in bench milliseconds.
    double nowMs() const { return static_cast<double>(nowMicros()) / 1000.0; }
    std::int64_t deadlineAfter(double ms) const;
    void sleepFor(double ms);
    bool waitFor(double ms, const std::function<bool()>& ready);
    void sleepUntil(std::int64_t deadlineMicros);

    // The calling thread takes part for the life of the object.
    class Member {
    public:
        explicit Member(Clock& clock) : clock_(clock) { clock_.join(); }
        ~Member() { clock_.leave(); }
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;

    private:
        Clock& clock_;
    };
    // The calling member steps out while it blocks on something else.
    class Away {
    public:
        explicit Away(Clock& clock) : clock_(clock) { clock_.leave(); }
        ~Away() { clock_.join(); }
        Away(const Away&) = delete;
        Away& operator=(const Away&) = delete;

    private:
        Clock& clock_;
    };
};

// Real time on the steady clock, `speed` times faster. A speed that is not
// a positive number is real time.
class SteadyClock : public Clock {
public:
    explicit SteadyClock(double speed = 1.0);
    ~SteadyClock() override;
    std::int64_t nowMicros() const override;
    bool waitUntil(std::int64_t deadlineMicros, const std::function<bool()>& ready) override;
    void update(const std::function<void()>& change) override;
    double speed() const;
    // From now on bench time runs `speed` times faster than real time; it
    // goes on from where it is, and every wait's deadline keeps its bench
    // time. For tests that set a box up in real time and then speed it up.
    void setSpeed(double speed);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

class VirtualClock : public Clock {
public:
    VirtualClock();
    ~VirtualClock() override;
    std::int64_t nowMicros() const override;
    bool waitUntil(std::int64_t deadlineMicros, const std::function<bool()>& ready) override;
    void update(const std::function<void()>& change) override;
    bool isVirtual() const override { return true; }
    void join() override;
    void leave() override;
    void enlist() override;
    void adopt() override;

    // Members running now (not waiting); for tests of the clock itself.
    int running() const;
    // Times time jumped forward; for the benchmarks.
    std::uint64_t advances() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// The clock of this process's bench: set once, before any bench, box or
// worker exists (the program's start, a test's fixture). Until then it is
// the steady clock in real time.
Clock& benchClock();
std::shared_ptr<Clock> benchClockPtr();
void installBenchClock(std::shared_ptr<Clock> clock);

// A thread that is a member of `clock` from its start to its end, and is
// joined through the clock, so that a member waiting for it does not hold
// time still.
class ClockThread {
public:
    ClockThread() = default;
    ClockThread(Clock& clock, std::function<void()> body);
    ~ClockThread();
    ClockThread(ClockThread&&) = delete;
    ClockThread& operator=(ClockThread&&) = delete;

    bool joinable() const { return thread_.joinable(); }
    bool finished() const;
    void join();
    std::thread::id id() const { return thread_.get_id(); }

private:
    Clock* clock_ = nullptr;
    std::shared_ptr<bool> finished_;  // written inside clock updates
    std::thread thread_;
};

// The consumer's side of a queue whose state is written inside clock
// updates: waits for the front item and moves it into `out`, running
// `onTake` in the same update (to mark it in hand). False once `quit` holds.
template <typename Queue, typename T, typename OnTake>
bool takeNext(Clock& clock, Queue& queue, const bool& quit, T& out, OnTake onTake)
{
    bool stopped = false;
    clock.waitUntil(Clock::kNever, [&] {
        if (quit) {
            stopped = true;
            return true;
        }
        if (queue.empty())
            return false;
        out = std::move(queue.front());
        queue.pop_front();
        onTake();
        return true;
    });
    return !stopped;
}

// Fixed waits of the bench's handlers and ticks, on the bench clock.
void benchSleep(double ms);
