// The EEPROM firmware through the real link classes: the write header, the
// power cycle, the read-back pairs and the encoder's faults, judged by the
// workbench's own rule (127 consecutive matching pairs in one transfer).
#include "sim_link.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The read-back worker's scan of one transfer.
bool verified(const Bytes& b, int value)
{
    int run = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] != 0xAB)
            continue;
        const std::uint8_t v = b[++i];
        run = v == value ? run + 1 : 0;
        if (run >= 127)
            return true;
    }
    return false;
}

// Pairs in stream order, whatever lies between them.
std::vector<std::uint8_t> pairValues(const Bytes& b)
{
    std::vector<std::uint8_t> v;
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xAB)
            v.push_back(b[++i]);
    return v;
}

struct EepromCase {
    const char* name;
    int value;
    EepromBehaviour behaviour;
    bool noise;
    bool verifiedExpected;
    int readBack;          // the value every good pair carries
    std::size_t packetBytes;
};
std::ostream& operator<<(std::ostream& os, const EepromCase& c) { return os << c.name; }

class EepromWriteAndReadBack : public ::testing::TestWithParam<EepromCase> {};

TEST_P(EepromWriteAndReadBack, TheWorkbenchSequenceAsTheBoxSeesIt)
{
    const EepromCase& c = GetParam();
    SimLink link;
    ASSERT_TRUE(link.findBox());
    EncoderModel& enc = link.box->encoder();
    enc.setEepromBehaviour(c.behaviour);
    link.box->setEepromNoise(c.noise);
    PacketParams p;
    p.protocolCode = 2;  // RS485
    p.eepromValue = c.value;
    link.configure(p);
    ASSERT_TRUE(link.read(2048).ok);

    // Write at tick 4, power cycle at tick 8, read-back request at tick 12.
    ASSERT_TRUE(link.send({Flag::EepromWriteCmd}, p));
    ASSERT_TRUE(link.send({Flag::PowerOffCmd}));
    EXPECT_FALSE(link.box->state().powered);
    ASSERT_TRUE(link.send({Flag::PowerOnCmd}));
    ASSERT_TRUE(link.send({Flag::EepromReadCmd}));
    EXPECT_EQ(StreamKind::EepromPairs, link.box->state().streamKind);

    // Every transfer, however long, ends with one short packet of pairs.
    const ReadResult first = link.read(40960);
    const ReadResult second = link.read(40960);
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(c.packetBytes, first.bytes.size());
    EXPECT_EQ(c.packetBytes, second.bytes.size());
    EXPECT_EQ(c.verifiedExpected, verified(first.bytes, c.value));
    EXPECT_EQ(c.verifiedExpected, verified(second.bytes, c.value));

    Bytes both = first.bytes;
    both.insert(both.end(), second.bytes.begin(), second.bytes.end());
    const std::vector<std::uint8_t> pairs = pairValues(both);
    ASSERT_EQ(2 * c.packetBytes / (c.noise ? 3 : 2), pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const bool bad = c.behaviour == EepromBehaviour::Short && k % 127 == 126;
        ASSERT_EQ(bad ? (~c.readBack & 0xFF) : c.readBack, pairs[k]) << "pair " << k;
    }
    if (c.noise) {
        for (std::size_t i = 0; i < both.size(); i += 3)
            ASSERT_NE(0xAB, both[i]) << "noise byte at " << i;
    }

    // The next command ends the read-back.
    ASSERT_TRUE(link.send({Flag::PowerOnCmd}));
    EXPECT_FALSE(link.box->state().streaming);
    while (link.read(40960, 100).signalled) {
    }
    EXPECT_FALSE(link.read(40960, 100).signalled);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, EepromWriteAndReadBack,
    ::testing::Values(EepromCase{"stores", 0x5C, EepromBehaviour::Store, false, true, 0x5C, 510},
                      // AB AB pairs: each counted once
                      EepromCase{"stores_171", 171, EepromBehaviour::Store, false, true, 171, 510},
                      EepromCase{"stores_0", 0, EepromBehaviour::Store, false, true, 0, 510},
                      // An erased EEPROM keeps reading FF.
                      EepromCase{"ignores", 0x5C, EepromBehaviour::Ignore, false, false, 0xFF, 510},
                      // 126 good pairs and a bad one, over and over.
                      EepromCase{"short", 0x5C, EepromBehaviour::Short, false, false, 0x5C, 510},
                      EepromCase{"noise", 0x5C, EepromBehaviour::Store, true, true, 0x5C, 510},
                      EepromCase{"short_with_noise", 0x33, EepromBehaviour::Short, true, false, 0x33, 510}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EepromFirmware, ContentSurvivesPowerAndUnplugAndOnlyTheWholeHeaderWrites)
{
    auto box = std::make_shared<SimBox>();
    SimLink link(box);
    ASSERT_TRUE(link.findBox());
    link.configure(PacketParams{});
    PacketParams p;
    p.eepromValue = 0x42;
    ASSERT_TRUE(link.send({Flag::EepromWriteCmd}, p));
    EXPECT_EQ(0x42, box->encoder().eepromContent());

    // A header whose fifth byte is not FF is not a write.
    p.eepromValue = 0x11;
    CommandPacket bad = buildCommandPacket(FlagSnapshot{Flag::EepromWriteCmd}, p);
    bad[4] = 0x00;
    ASSERT_TRUE(link.send(bad));
    EXPECT_EQ(0x42, box->encoder().eepromContent());

    ASSERT_TRUE(link.bus->replug(box));
    ASSERT_TRUE(link.findBox());
    ASSERT_TRUE(link.send({Flag::EepromReadCmd}));
    const ReadResult r = link.read(40960);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(verified(r.bytes, 0x42));
}

}  // namespace
