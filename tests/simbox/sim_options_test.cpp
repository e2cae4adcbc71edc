// The --simulate option: the parser's good and bad strings, the settings
// applied to a box, the unplug timer and a silent box set up before it is
// plugged in.
#include "sim_link.h"
#include "simbox/sim_options.h"
#include "simbox/unplug_timer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(SimOptions, GoodStrings)
{
    struct Case {
        const char* text;
        std::function<void(const SimSettings&)> check;
    };
    const Case cases[] = {
        {"", [](const SimSettings& s) {
             EXPECT_FALSE(s.speed || s.rpm || s.singleTurnBits || s.turnBits || s.statusBits || s.crcErrorEvery ||
                          s.eeprom || s.sincos || s.ackStatus || s.unplugAfterSeconds || s.silent);
             EXPECT_TRUE(s.jumps.empty());
         }},
        {"speed=20,rpm=2.5,bits=17,turn-bits=15,status-bits=2", [](const SimSettings& s) {
             EXPECT_EQ(20.0, s.speed);
             EXPECT_EQ(2.5, s.rpm);
             EXPECT_EQ(17, s.singleTurnBits);
             EXPECT_EQ(15, s.turnBits);
             EXPECT_EQ(2, s.statusBits);
         }},
        {"rpm=-1,turn-bits=0,status-bits=0", [](const SimSettings& s) {
             EXPECT_EQ(-1.0, s.rpm);
             EXPECT_EQ(0, s.turnBits);
         }},
        {"jump=90:5,jump=270.5:-10.25", [](const SimSettings& s) {
             ASSERT_EQ(2u, s.jumps.size());
             EXPECT_EQ(90.0, s.jumps[0].atDegrees);
             EXPECT_EQ(5.0, s.jumps[0].stepDegrees);
             EXPECT_EQ(270.5, s.jumps[1].atDegrees);
             EXPECT_EQ(-10.25, s.jumps[1].stepDegrees);
         }},
        {"crc-errors=3,eeprom=short,ack-status=5", [](const SimSettings& s) {
             EXPECT_EQ(3, s.crcErrorEvery);
             EXPECT_EQ(EepromBehaviour::Short, s.eeprom);
             EXPECT_EQ(5, s.ackStatus);
         }},
        {"eeprom=ignore", [](const SimSettings& s) { EXPECT_EQ(EepromBehaviour::Ignore, s.eeprom); }},
        {"eeprom=store", [](const SimSettings& s) { EXPECT_EQ(EepromBehaviour::Store, s.eeprom); }},
        {"sincos=2.3:2.7:1:0.6:85.5", [](const SimSettings& s) {
             ASSERT_TRUE(s.sincos);
             EXPECT_EQ(2.3, s.sincos->cosOffset);
             EXPECT_EQ(2.7, s.sincos->sinOffset);
             EXPECT_EQ(1.0, s.sincos->cosAmplitude);
             EXPECT_EQ(0.6, s.sincos->sinAmplitude);
             EXPECT_EQ(85.5, s.sincos->phaseDegrees);
         }},
        {"unplug-after=1.5,silent,", [](const SimSettings& s) {
             EXPECT_EQ(1.5, s.unplugAfterSeconds);
             EXPECT_TRUE(s.silent);
         }},
        {"bits=32,turn-bits=24,status-bits=8", [](const SimSettings& s) { EXPECT_EQ(8, s.statusBits); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SimOptionsParse p = parseSimOptions(c.text);
        ASSERT_TRUE(p.ok()) << p.error;
        c.check(p.settings);
    }
}

TEST(SimOptions, BadStringsNameTheKey)
{
    const std::pair<const char*, const char*> cases[] = {
        {"foo=1", "foo"},
        {"rpm=1,wobble", "wobble"},
        {"rpm=abc", "rpm"},
        {"rpm", "rpm"},
        {"rpm=", "rpm"},
        {"rpm=1e9", "rpm"},
        {"speed=0", "speed"},
        {"speed=inf", "speed"},
        {"speed=2x", "speed"},
        {"bits=0", "bits"},
        {"bits=33", "bits"},
        {"bits=17.5", "bits"},
        {"turn-bits=-1", "turn-bits"},
        {"status-bits=17", "status-bits"},
        {"bits=32,turn-bits=24,status-bits=16", "status-bits"},
        {"jump=90", "jump"},
        {"jump=360:5", "jump"},
        {"jump=-1:5", "jump"},
        {"jump=90:0", "jump"},
        {"jump=90:5:1", "jump"},
        {"crc-errors=0", "crc-errors"},
        {"eeprom=maybe", "eeprom"},
        {"sincos=1:2:3:4", "sincos"},
        {"sincos=1:2:3:4:x", "sincos"},
        {"sincos=6:2:1:1:90", "sincos"},
        {"sincos=2:2:-1:1:90", "sincos"},
        {"ack-status=256", "ack-status"},
        {"ack-status=-1", "ack-status"},
        {"unplug-after=-1", "unplug-after"},
        {"silent=1", "silent"},
        {"rpm=1,rpm=2", "rpm"},
        {"=5", "=5"},
    };
    for (const auto& [text, key] : cases) {
        const SimOptionsParse p = parseSimOptions(text);
        EXPECT_FALSE(p.ok()) << text;
        EXPECT_NE(std::string::npos, p.error.find(std::string("\"") + key + "\"")) << text << ": " << p.error;
        EXPECT_FALSE(p.settings.rpm) << text;  // nothing half-parsed comes back
    }
}

TEST(SimOptions, AppliedToTheBoxAndItsEncoder)
{
    const SimOptionsParse p = parseSimOptions(
        "rpm=60,bits=12,turn-bits=8,status-bits=0,jump=90:20,eeprom=ignore,sincos=2.3:2.7:1:0.6:80,ack-status=7");
    ASSERT_TRUE(p.ok()) << p.error;
    auto box = std::make_shared<SimBox>();
    applySimSettings(p.settings, *box);
    EncoderModel& enc = box->encoder();
    EXPECT_EQ(12, enc.singleTurnBits());
    EXPECT_EQ(8, enc.turnBits());
    EXPECT_EQ(0, enc.statusBits());
    EXPECT_EQ(60.0, enc.speedRpm());
    EXPECT_EQ(EepromBehaviour::Ignore, enc.eepromBehaviour());
    const SinCosShape s = enc.sinCos();
    EXPECT_EQ(2.3, s.cosPlusOffset);
    EXPECT_EQ(2.3, s.cosMinusOffset);
    EXPECT_EQ(2.7, s.sinPlusOffset);
    EXPECT_EQ(2.7, s.sinMinusOffset);
    EXPECT_EQ(1.0, s.cosAmplitude);
    EXPECT_EQ(0.6, s.sinAmplitude);
    EXPECT_EQ(80.0, s.phaseDegrees);
    EXPECT_FALSE(s.sinMinusAmplitude || s.cosMinusAmplitude || s.minusPhaseDegrees);
    const auto fired = enc.firedJumpsUntil(benchClock().nowMicros() + 1'000'000);
    ASSERT_EQ(1u, fired.size());
    EXPECT_EQ(20.0, fired[0].jump.stepDegrees);

    // The forced acknowledgement status of a capture.
    SimLink link(box);
    ASSERT_TRUE(link.findBox());
    link.configure(PacketParams{});
    link.read(2048);
    ASSERT_TRUE(link.send({Flag::SaveActive}));
    link.read(2048);
    ASSERT_TRUE(link.send({Flag::StopCmd}));
    std::vector<std::uint8_t> last;
    for (ReadResult r = link.read(40960, 300); r.signalled; r = link.read(40960, 300))
        last = r.bytes;
    EXPECT_EQ((std::vector<std::uint8_t>{0x6A, 0x00, 0x6A, 0x07}), last);
}

TEST(SimOptions, EveryNthSpiRecordCarriesAWrongCrc)
{
    const SimOptionsParse p = parseSimOptions("crc-errors=3,bits=14,turn-bits=12,status-bits=0");
    ASSERT_TRUE(p.ok()) << p.error;
    auto box = std::make_shared<SimBox>();
    applySimSettings(p.settings, *box);
    SimLink link(box);
    ASSERT_TRUE(link.findBox());
    PacketParams spi;
    spi.protocolCode = 5;
    spi.frameBits = 26;
    spi.crcInvertBits = 0;
    link.configure(spi);
    link.read(2048);
    ASSERT_TRUE(link.send({Flag::ReadActive}));
    const ReadResult r = link.read(2048);
    const auto sync = findSyncPair(r.bytes);
    ASSERT_TRUE(sync);
    std::string pattern;  // per record: '.' good CRC, 'x' wrong
    for (int k = 0; k < 102; ++k) {
        const std::uint8_t* rec = r.bytes.data() + *sync + 4 + 10 * k;
        const unsigned field = ((unsigned{rec[3]} << 16 | unsigned{rec[4]} << 8 | rec[5]) >> 16) & 0x3F;
        pattern += field == rec[9] ? '.' : 'x';
    }
    // Every third record since the option was applied, whatever the phase here.
    const auto first = pattern.find('x');
    ASSERT_LT(first, 3u);
    for (std::size_t k = 0; k < pattern.size(); ++k)
        ASSERT_EQ((k % 3 == first % 3) ? 'x' : '.', pattern[k]) << pattern;
}

TEST(SimOptions, UnplugAfterBenchSecondsAndSilentFromTheStart)
{
    const SimOptionsParse p = parseSimOptions("unplug-after=0.6,silent");
    ASSERT_TRUE(p.ok()) << p.error;
    auto box = std::make_shared<SimBox>();
    applySimSettings(p.settings, *box);  // before the box is on the bus
    SimLink link(box);
    const auto t0 = benchClock().nowMicros();
    auto timer = startUnplugTimer(p.settings, link.bus, box);
    ASSERT_TRUE(timer);
    ASSERT_TRUE(link.findBox());
    link.configure(PacketParams{});
    EXPECT_EQ(4u, box->receivedCount());
    EXPECT_FALSE(link.read(2048, 100).signalled);  // silent: no query answer
    EXPECT_TRUE(link.bus->isPresent(box));

    while (!timer->fired() && benchClock().nowMicros() - t0 < 5'000'000)
        benchSleep(10);
    EXPECT_TRUE(timer->fired());
    EXPECT_GE(benchClock().nowMicros() - t0, 600'000);
    EXPECT_FALSE(link.bus->isPresent(box));
    EXPECT_FALSE(link.send({Flag::PowerOnCmd}));

    // A timer that is dropped before it is due unplugs nothing.
    link.bus->plug(box);
    SimSettings later;
    later.unplugAfterSeconds = 0.5;
    startUnplugTimer(later, link.bus, box).reset();
    benchSleep(800);
    EXPECT_TRUE(link.bus->isPresent(box));
    EXPECT_FALSE(startUnplugTimer(SimSettings{}, link.bus, box));
}

}  // namespace
