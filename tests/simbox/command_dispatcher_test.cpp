// The box's command table: what reaches a handler, in what order, and which
// firmware claims which first byte.
#include "simbox/calibration_firmware.h"
#include "simbox/capture_firmware.h"
#include "simbox/command_dispatcher.h"
#include "simbox/eeprom_firmware.h"
#include "simbox/fx2_pipe.h"
#include "simbox/interface_firmware.h"
#include "simbox/stream_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace {

using Packet = CommandDispatcher::Packet;

Packet command(std::uint8_t code)
{
    return Packet(CommandDispatcher::kCommandSize, code);
}

TEST(CommandDispatcher, WholePacketsReachTheirHandlersInOrderAndWatchersSeeEverythingFirst)
{
    CommandDispatcher table;
    std::string trace;
    table.on(0x6A, [&](const Packet&, std::int64_t) { trace += "a"; });
    table.on(0x6A, [&](const Packet&, std::int64_t) { trace += "b"; });
    table.on(0x7A, [&](const Packet&, std::int64_t now) { trace += "7@" + std::to_string(now); });
    table.watch([&](const Packet& p, std::int64_t) { trace += "w" + std::to_string(p.size()) + " "; });

    table.dispatch(command(0x6A), 0);
    EXPECT_EQ(trace, "w512 ab");
    trace.clear();
    table.dispatch(command(0x7A), 125);
    EXPECT_EQ(trace, "w512 7@125");

    // Anything but one whole packet is seen by the watchers only.
    for (std::size_t size : {std::size_t{0}, std::size_t{6}, std::size_t{511}, std::size_t{513}}) {
        trace.clear();
        table.dispatch(Packet(size, 0x6A), 0);
        EXPECT_EQ(trace, "w" + std::to_string(size) + " ") << size;
    }
    trace.clear();
    table.dispatch(command(0x4A), 0);  // no handler
    EXPECT_EQ(trace, "w512 ");
    EXPECT_EQ(table.codes(), (std::vector<std::uint8_t>{0x6A, 0x7A}));
}

// The pipe's 8051 side; nothing runs in these tests.
struct IdleCore final : Fx2Core {
    void produceLocked(std::int64_t) override {}
    std::int64_t nextPacketDueLocked() const override { return Clock::kNever; }
    void takeLocked(const Packet&, std::int64_t) override {}
    void powerUpLocked() override {}
};

// A firmware that claims another's first byte would run beside it on every
// such packet. Only the stop is shared, by design: the capture ends with its
// acknowledgement, then the interface firmware stops the stream.
TEST(CommandDispatcher, EveryFirmwareClaimsItsOwnCodesAndOnlyTheStopIsShared)
{
    std::mutex lock;
    IdleCore core;
    Fx2Pipe pipe(benchClock(), lock, core);
    StreamFramer framer(pipe);
    EncoderPort port;
    const FirmwareContext box{pipe, framer, port};

    InterfaceFirmware interface;
    CaptureFirmware capture;
    EepromFirmware eeprom;
    CalibrationFirmware calibration;
    const std::map<std::string, Firmware*> firmwares{
        {"interface", &interface}, {"capture", &capture}, {"eeprom", &eeprom}, {"calibration", &calibration}};

    std::map<std::uint8_t, std::vector<std::string>> claims;
    for (const auto& [name, firmware] : firmwares) {
        CommandDispatcher own;
        firmware->install(own, box);
        ASSERT_FALSE(own.codes().empty()) << name;
        for (std::uint8_t code : own.codes())
            claims[code].push_back(name);
    }
    for (const auto& [code, names] : claims) {
        if (code == 0x6A)
            EXPECT_EQ(names, (std::vector<std::string>{"capture", "interface"}));
        else
            EXPECT_EQ(names.size(), 1u) << std::hex << int(code) << " claimed by " << names[0] << " and "
                                        << names.back();
    }
}

}  // namespace
