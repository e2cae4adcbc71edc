#pragma once
// Every test begins on a fresh virtual clock with its own thread a member
// (test_main.cpp), so box timelines pass in virtual time and the test's own
// steps happen at fixed instants. A test whose peer lives outside the clock
// (libusb's event thread against an emulated device) runs in real time.
#include "common/clock.h"

#include <memory>

// The virtual clock of the running test.
VirtualClock& testClock();

class RealTimeForThisTest {
public:
    RealTimeForThisTest()
    {
        benchClock().leave();
        installBenchClock(std::make_shared<SteadyClock>());
    }
};
