#include "common/clock.h"
#include "support/test_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <gtest/gtest.h>

namespace {

using Steady = std::chrono::steady_clock;

// Busy for `realMicros` of real time without waiting on `clock`; returns the
// largest bench time seen meanwhile.
std::int64_t spinReal(const Clock& clock, int realMicros)
{
    const auto end = Steady::now() + std::chrono::microseconds(realMicros);
    std::int64_t seen = clock.nowMicros();
    while (Steady::now() < end)
        seen = std::max(seen, clock.nowMicros());
    return seen;
}

// Events of several threads, in the order they happened; read once they are
// joined.
struct EventLog {
    std::mutex mutex;
    std::vector<std::string> events;
    void add(const std::string& who, const Clock& clock)
    {
        std::string event = who + "@" + std::to_string(clock.nowMicros());
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
};

}  // namespace

TEST(VirtualClock, ARunningMemberHoldsTimeStillEvenWhileAnotherSleeps)
{
    VirtualClock& clock = testClock();
    EXPECT_EQ(spinReal(clock, 2000), 0);

    // The sleeper's 10 ms deadline passes in real time during the spin, yet
    // time may only move once the busy thread waits too.
    std::int64_t seenWhileBusy = -1, busyWokeAt = -1;
    ClockThread busy(clock, [&] {
        seenWhileBusy = spinReal(clock, 12000);
        clock.sleepFor(5);
        busyWokeAt = clock.nowMicros();
    });
    clock.sleepFor(10);
    EXPECT_EQ(clock.nowMicros(), 10000);
    busy.join();
    EXPECT_EQ(seenWhileBusy, 0);
    EXPECT_EQ(busyWokeAt, 5000);
    EXPECT_EQ(clock.running(), 1);
}

TEST(VirtualClock, SleepsAndTimedWaitsEndExactlyAtTheirDeadlines)
{
    VirtualClock& clock = testClock();
    const struct { double ms; std::int64_t micros; } cases[] = {
        {1, 1000}, {12.5, 12500}, {0.0015, 2}, {0.0001, 1}, {0, 0}, {-3, 0}};
    for (const auto& c : cases) {
        const std::int64_t before = clock.nowMicros();
        const std::uint64_t jumps = clock.advances();
        clock.sleepFor(c.ms);
        EXPECT_EQ(clock.nowMicros() - before, c.micros) << c.ms << " ms";
        EXPECT_EQ(clock.advances() - jumps, c.micros > 0 ? 1u : 0u) << c.ms << " ms";
    }

    auto never = [] { return false; };
    const std::int64_t now = clock.nowMicros();
    EXPECT_FALSE(clock.waitUntil(now + 7000, never));
    EXPECT_EQ(clock.nowMicros(), now + 7000);
    // A deadline now or past gives up without time moving.
    for (std::int64_t deadline : {now + 7000, now, std::int64_t{-1}})
        EXPECT_FALSE(clock.waitUntil(deadline, never)) << deadline;
    EXPECT_FALSE(clock.waitFor(0, never));
    EXPECT_EQ(clock.nowMicros(), now + 7000);

    for (double ms : std::initializer_list<double>{-1, INFINITY, NAN, 1e300})
        EXPECT_EQ(clock.deadlineAfter(ms), Clock::kNever) << ms;
    EXPECT_EQ(clock.deadlineAfter(0), now + 7000);
    EXPECT_EQ(clock.deadlineAfter(0.0001), now + 7001);
}

TEST(VirtualClock, SleepersWakeInDeadlineOrderAtTheirDeadlines)
{
    VirtualClock& clock = testClock();
    EventLog log;
    const std::vector<std::pair<double, double>> sleeps = {{30, 15}, {10, 25}, {20, 20}};
    std::vector<std::unique_ptr<ClockThread>> threads;
    for (std::size_t i = 0; i < sleeps.size(); ++i)
        threads.push_back(std::make_unique<ClockThread>(clock, [&, i] {
            for (double ms : {sleeps[i].first, sleeps[i].second}) {
                clock.sleepFor(ms);
                log.add("T" + std::to_string(i), clock);
            }
        }));
    for (auto& t : threads)
        t->join();
    const std::vector<std::string> expected = {"T1@10000", "T2@20000", "T0@30000",
                                               "T1@35000", "T2@40000", "T0@45000"};
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(clock.nowMicros(), 45000);
    EXPECT_EQ(clock.running(), 1);
}

TEST(VirtualClock, UpdateWakesTheOldestWaiterWhosePredicateHoldsAtTheCurrentInstant)
{
    VirtualClock& clock = testClock();
    EXPECT_TRUE(clock.waitFor(500, [] { return true; }));
    EXPECT_EQ(clock.nowMicros(), 0);

    // One token, two waiters whose predicates take it: the older one gets it
    // at once, the other times out at its own deadline.
    int tokens = 0;
    auto take = [&] { return tokens > 0 ? (--tokens, true) : false; };
    std::pair<bool, std::int64_t> outcome[2] = {{false, -1}, {false, -1}};
    auto waiter = [&](int i) { return [&, i] { outcome[i] = {clock.waitFor(100, take), clock.nowMicros()}; }; };
    ClockThread first(clock, waiter(0));
    clock.sleepFor(1);  // `first` is waiting by now: time moved
    ClockThread second(clock, waiter(1));
    clock.sleepFor(9);
    clock.update([&] { tokens = 1; });
    first.join();
    EXPECT_EQ(clock.nowMicros(), 10000);
    second.join();
    EXPECT_EQ(outcome[0], std::make_pair(true, std::int64_t{10000}));
    EXPECT_EQ(outcome[1], std::make_pair(false, std::int64_t{101000}));
    EXPECT_EQ(tokens, 0);
}

TEST(ClockThread, CountsFromItsSpawnAndIsJoinedThroughTheClock)
{
    VirtualClock& clock = testClock();
    std::int64_t startedAt = -1;
    ClockThread t(clock, [&] {
        startedAt = clock.nowMicros();
        clock.sleepFor(250);
    });
    // Enlisted at the spawn: this sleep cannot pass before the body begins.
    clock.sleepFor(5);
    EXPECT_FALSE(t.finished());
    t.join();
    EXPECT_EQ(startedAt, 0);
    EXPECT_EQ(clock.nowMicros(), 250000);
    EXPECT_TRUE(t.finished() && !t.joinable());
    EXPECT_EQ(clock.running(), 1);

    ClockThread none;
    EXPECT_TRUE(!none.joinable() && none.finished());
    none.join();
}

TEST(ClockAway, TimePassesWhileAMemberBlocksOnAPlainThread)
{
    VirtualClock& clock = testClock();
    std::int64_t wokeAt = -1;
    {
        Clock::Away away(clock);
        EXPECT_EQ(clock.running(), 0);
        // Started after the member stepped out: its wait alone moves time.
        std::thread plain([&] {
            clock.sleepFor(100);
            clock.sleepFor(20);
            wokeAt = clock.nowMicros();
        });
        plain.join();
    }
    EXPECT_EQ(wokeAt, 120000);
    EXPECT_EQ(clock.nowMicros(), 120000);
    EXPECT_EQ(clock.running(), 1);
}

namespace {

// Three threads handing a stage on through updates, between sleeps and
// timed waits that expire.
std::vector<std::string> handOffScenario(VirtualClock& clock)
{
    EventLog log;
    int stage = 0;  // written inside updates only
    auto stageIs = [&](int s) { return [&, s] { return stage >= s; }; };
    // The caller is not a member of `clock`, so a member spawns the three;
    // otherwise time would run between the spawns.
    ClockThread root(clock, [&] {
        ClockThread a(clock, [&] {
            clock.sleepFor(10);
            log.add("A ping", clock);
            clock.update([&] { stage = 1; });
            clock.waitUntil(Clock::kNever, stageIs(2));
            log.add("A pong", clock);
            clock.sleepFor(7);
            log.add("A done", clock);
            clock.update([&] { stage = 3; });
        });
        ClockThread b(clock, [&] {
            clock.waitUntil(Clock::kNever, stageIs(1));
            log.add("B ping", clock);
            clock.sleepFor(5);
            log.add("B pong", clock);
            clock.update([&] { stage = 2; });
            clock.sleepFor(30);
            log.add("B done", clock);
        });
        ClockThread c(clock, [&] {
            while (!clock.waitFor(4, stageIs(3)))
                log.add("C idle", clock);
            log.add("C done", clock);
        });
    });
    root.join();
    return log.events;
}

}  // namespace

TEST(VirtualClock, TheSameScenarioGivesTheSameEventsAtTheSameMicroseconds)
{
    const std::vector<std::string> expected = {"C idle@4000", "C idle@8000", "A ping@10000", "B ping@10000",
                                               "C idle@12000", "B pong@15000", "A pong@15000", "C idle@16000",
                                               "C idle@20000", "A done@22000", "C done@22000", "B done@45000"};
    for (int run = 0; run < 2; ++run) {
        VirtualClock clock;
        EXPECT_EQ(handOffScenario(clock), expected) << "run " << run;
        EXPECT_EQ(clock.running(), 0) << "run " << run;
    }
}

TEST(SteadyClock, RunsAtItsSpeedInRealTime)
{
    EXPECT_EQ(SteadyClock().deadlineAfter(-1), Clock::kNever);
    const struct { double asked, speed; } cases[] = {{1, 1}, {4, 4}, {50, 50}, {0, 1}, {-2, 1}, {NAN, 1}};
    for (const auto& c : cases) {
        SteadyClock clock(c.asked);
        EXPECT_EQ(clock.speed(), c.speed) << c.asked;
        if (clock.speed() != c.asked)
            continue;  // refused: real time
        const auto real0 = Steady::now();
        const std::int64_t bench0 = clock.nowMicros();
        const std::int64_t deadline = clock.deadlineAfter(8 * c.speed);  // 8 ms real
        EXPECT_FALSE(clock.waitUntil(deadline, [] { return false; }));
        const std::int64_t bench1 = clock.nowMicros();
        const double real = std::chrono::duration<double, std::micro>(Steady::now() - real0).count();
        EXPECT_GE(bench1, deadline) << c.speed;
        // Both readings lie inside the real interval; the slack is a preempted thread.
        EXPECT_GT(static_cast<double>(bench1 - bench0) / real, 0.5 * c.speed) << c.speed;
        EXPECT_LE(static_cast<double>(bench1 - bench0) / real, 1.01 * c.speed) << c.speed;
    }
}

TEST(SteadyClock, ASpeedChangeKeepsBenchTimeAndEveryDeadline)
{
    SteadyClock clock;
    // A second of bench time asleep at real time; sped up a thousandfold a
    // few milliseconds in, the rest of it takes about a millisecond.
    const auto real0 = Steady::now();
    const std::int64_t deadline = clock.deadlineAfter(1000);
    std::int64_t wokeAt = 0;
    std::thread sleeper([&] {
        EXPECT_FALSE(clock.waitUntil(deadline, [] { return false; }));
        wokeAt = clock.nowMicros();
    });
    bool signalled = false;  // written inside updates only
    const std::int64_t anHour = clock.deadlineAfter(3'600'000);
    std::thread waiter([&] { EXPECT_TRUE(clock.waitUntil(anHour, [&] { return signalled; })); });
    clock.sleepFor(5);
    const auto change0 = Steady::now();
    const std::int64_t before = clock.nowMicros();
    clock.setSpeed(1000);
    const std::int64_t after = clock.nowMicros();
    const double changeMicros = std::chrono::duration<double, std::micro>(Steady::now() - change0).count();
    EXPECT_EQ(clock.speed(), 1000);
    // No jump either way: at most the real time between the readings, sped up.
    EXPECT_GE(after, before);
    EXPECT_LE(static_cast<double>(after - before), changeMicros * 1000 + 1);
    sleeper.join();
    EXPECT_GE(wokeAt, deadline);
    const double realMs = std::chrono::duration<double, std::milli>(Steady::now() - real0).count();
    EXPECT_LT(realMs, 500);
    // A waiter whose condition comes true after the change still sees it.
    clock.setSpeed(1);
    clock.update([&] { signalled = true; });
    waiter.join();
    clock.setSpeed(-3);
    EXPECT_EQ(clock.speed(), 1);
    EXPECT_GE(clock.nowMicros(), wokeAt);
}

TEST(SteadyClock, UpdateWakesAWaiterWithoutADeadline)
{
    SteadyClock clock;
    EXPECT_FALSE(clock.waitFor(0, [] { return false; }));
    bool ready = false;  // written inside updates only
    std::thread setter([&] { clock.update([&] { ready = true; }); });
    EXPECT_TRUE(clock.waitUntil(Clock::kNever, [&] { return ready; }));
    setter.join();
}
