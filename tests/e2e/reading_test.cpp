// "Read data" on the simulated box: what the screen shows for each record
// format, and how a reading ends.
#include "common/clock.h"
#include "bench/reading.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Case {
    const char* protocol;
    RecordGroup group;
    std::vector<int> widths;  // the workbench's fields
    int singleTurnBits, turnBits, statusBits;  // the encoder
    std::uint32_t status;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.protocol;
}

void setLayout(SimBench& b, const std::vector<int>& widths)
{
    for (int k = 1; k <= 10; ++k)
        b.type(fieldWidthControl(k), k <= int(widths.size()) ? QString::number(widths[k - 1]) : "0");
    b.type(Control::ContentCount, QString::number(widths.size()));
}

// Sets up a stationary encoder and starts reading it.
void startReading(SimBench& b, const Case& c, std::int64_t counts)
{
    EncoderModel& e = b.box->encoder();
    e.setResolution(c.singleTurnBits, c.turnBits, c.statusBits);
    e.setSpeedRpm(0);
    e.setStatus(c.status);
    e.setPositionCounts(counts);
    b.chooseProtocol(c.protocol);
    setLayout(b, c.widths);
    ASSERT_TRUE(b.configure());
    b.bench->onCommand(Command::ReadData);
    ASSERT_EQ(b.view.controls().text(Control::ReadData), "Stop display");
}

QStringList shownFields(const SimBench& b, int n)
{
    QStringList out;
    for (int k = 1; k <= n; ++k)
        out << b.view.controls().text(fieldValueControl(k));
    return out;
}

QStringList expectedFields(const SimBench& b, RecordGroup group)
{
    QStringList out;
    for (std::int64_t v : b.box->encoder().expectedFieldsAt(group, benchClock().nowMicros()))
        out << QString::number(static_cast<std::int32_t>(v));
    return out;
}

}  // namespace

class ReadingEveryFormat : public ::testing::TestWithParam<Case> {};

TEST_P(ReadingEveryFormat, ShowsTheEncodersFields)
{
    const Case c = GetParam();
    SimBench b;
    startReading(b, c, (std::int64_t{5} << c.singleTurnBits) + 1234);
    const QStringList expected = expectedFields(b, c.group);
    ASSERT_EQ(expected.size(), int(c.widths.size()));
    EXPECT_TRUE(waitFor([&] { return shownFields(b, expected.size()) == expected; }))
        << "shown " << shownFields(b, expected.size()).join(",").toStdString() << ", expected "
        << expected.join(",").toStdString();
    EXPECT_FALSE(b.view.controls().text(Control::RawFrame).isEmpty());
    // A second press stops the reading and the box's stream.
    b.bench->onCommand(Command::ReadData);
    b.settle();
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Read data");
    EXPECT_EQ(b.packetLog().back(), "6A");
    EXPECT_TRUE(waitFor([&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReadingEveryFormat,
    ::testing::Values(Case{"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 2},
                      Case{"SSI", RecordGroup::SyncSerial, {12, 13}, 13, 12, 0, 0},
                      Case{"SPI", RecordGroup::Spi, {12, 14}, 14, 12, 0, 0},
                      Case{"SPI_CRC", RecordGroup::Spi, {12, 14}, 14, 12, 0, 0},
                      Case{"RS485", RecordGroup::Rs485, {16, 17, 8}, 17, 16, 8, 0x41},
                      Case{"RS485+AB", RecordGroup::Rs485Ab, {16, 17, 8}, 17, 16, 8, 0x07},
                      Case{"rx_485_only", RecordGroup::RxOnly, {10, 20}, 20, 10, 0, 0},
                      Case{"TTL", RecordGroup::Incremental, {16, 12}, 12, 16, 0, 0}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string s = info.param.protocol;
        for (char& ch : s)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return s;
    });

TEST(Reading, FollowsTheTurningShaftAndTheGauge)
{
    SimBench b;
    const Case c{"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 0};
    startReading(b, c, 1000);
    b.box->encoder().setSpeedRpm(60);
    b.type(Control::GaugeField, "2");
    b.bench->onSpin(Control::GaugeField, -1);
    b.bench->onSpin(Control::GaugeField, +1);
    EXPECT_EQ(b.view.controls().gaugeHighlight(), 2);
    const QString first = b.view.controls().text(Control::FieldValue2);
    EXPECT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) != first; }));
    EXPECT_TRUE(waitFor([&] { return b.view.controls().gaugeValue() > 0.0; }));
    EXPECT_FALSE(b.view.controls().text(Control::Angle).isEmpty());
    b.bench->onCommand(Command::ReadData);
    ASSERT_TRUE(waitFor([&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }));
    const TestReport r = b.lastReport("read");
    EXPECT_TRUE(r.passed);
    EXPECT_EQ(r.figures["end"].toString(), "stopped");
    EXPECT_GE(r.figures["values"].toInt(), 1);
    EXPECT_EQ(r.figures["last"]["fields"].toArray().size(), 3);
    EXPECT_TRUE(r.figures["last"]["angle"].isDouble());
    EXPECT_EQ(r.config.size(), 512) << "the configuration record the read ran with";
}

TEST(Reading, StationaryEncoderIsDrawnOnce)
{
    SimBench b;
    startReading(b, {"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 1}, 4321);
    ASSERT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "4321"; }));
    const int redraws = b.view.controls().gaugeRedraws();
    benchSleep(400);
    EXPECT_EQ(b.view.controls().gaugeRedraws(), redraws);
    b.bench->onCommand(Command::ReadData);
}

TEST(Reading, BoxThatStopsStreamingEndsTheReading)
{
    SimBench b;
    startReading(b, {"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 1}, 4321);
    ASSERT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "4321"; }));
    b.box->setNoAnswer(true);
    b.bench->stopAll();  // as if the box had been told to stop, without the workbench's knowledge
    b.state.link.flags.raise(Flag::ReadActive);
    b.state.configApplied = true;
    b.bench->onCommand(Command::ReadData);  // toggles off: restart it so the reader faces a silent box
    b.box->setNoAnswer(true);
    b.bench->onCommand(Command::ReadData);
    EXPECT_TRUE(waitFor([&] { return b.view.controls().text(Control::ReadData) == "Read data"; }, 1000));
    EXPECT_TRUE(waitFor([&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }, 1000));
    EXPECT_EQ(b.view.controls().text(Control::FieldValue2), "0");
    EXPECT_FALSE(b.state.configApplied);
    EXPECT_FALSE(b.lastReport("read").passed);
    EXPECT_EQ(b.lastReport("read").figures["end"].toString(), "box-silent");
    // The link is free again: a new configuration goes through.
    b.box->setNoAnswer(false);
    EXPECT_TRUE(b.configure());
}

TEST(Reading, SyncLessBlocksShowNothing)
{
    SimBench b;
    b.box->dropBlockSync(-1);
    startReading(b, {"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 1}, 4321);
    benchSleep(300);
    EXPECT_EQ(b.view.controls().text(Control::FieldValue2), "0");
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Stop display") << "ignored transfers do not end the reading";
    b.box->dropBlockSync(0);
    EXPECT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "4321"; }));
    b.bench->onCommand(Command::ReadData);
}

TEST(Reading, UnplugEndsTheReading)
{
    SimBench b;
    startReading(b, {"BISS", RecordGroup::SyncSerial, {15, 17, 2}, 17, 15, 2, 1}, 4321);
    ASSERT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "4321"; }));
    ASSERT_TRUE(b.bus->unplug(b.box));
    b.bus->waitForNotifications();
    EXPECT_TRUE(waitFor([&] { return !b.state.link.workers.isRunning(b.state.readerWorker); }, 1000));
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Read data");
    EXPECT_EQ(b.view.title(), "");
    EXPECT_FALSE(b.state.link.inEndpoint.present());
    // Plugged in again, the box is found and can be configured.
    b.bus->plug(b.box);
    b.bus->waitForNotifications();
    EXPECT_EQ(b.view.title(), "Rotoscope");
    EXPECT_TRUE(b.configure());
}

TEST(Reading, SpiCrcMismatchStopsSpiCrcButNotSpi)
{
    for (const char* protocol : {"SPI_CRC", "SPI"}) {
        SCOPED_TRACE(protocol);
        SimBench b;
        startReading(b, {protocol, RecordGroup::Spi, {12, 14}, 14, 12, 0, 0}, (3 << 14) + 77);
        ASSERT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "77"; }));
        b.box->injectCrcErrors(-1);
        b.box->encoder().setSpeedRpm(30);
        if (QString(protocol) == "SPI_CRC") {
            EXPECT_TRUE(waitFor([&] { return b.view.messages().contains(kMsgSpiCrcError); }));
            EXPECT_TRUE(waitFor([&] { return b.view.controls().text(Control::ReadData) == "Read data"; }));
        } else {
            const QString shown = b.view.controls().text(Control::FieldValue2);
            EXPECT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) != shown; }));
            EXPECT_TRUE(b.view.messages().isEmpty());
            b.bench->onCommand(Command::ReadData);
        }
    }
}

TEST(Reading, FiftySixBitRs485ValueIsExact)
{
    SimBench b;
    // Turns from bit 32 up to bit 55: far above 2^53.
    const Case c{"RS485", RecordGroup::Rs485, {24, 17, 8}, 17, 24, 8, 0x81};
    const std::int64_t turns = 0xABCDEF;
    startReading(b, c, (turns << 17) + 99);
    const std::int64_t expected = (turns << 32) | (std::int64_t{99} << 8) | 0x81;
    EXPECT_TRUE(waitFor([&] { return b.state.lastRawFrame.load() == expected; }));
    EXPECT_EQ(b.view.controls().text(Control::FieldValue1), QString::number(turns));
    EXPECT_EQ(b.view.controls().text(Control::FieldValue3), QString::number(0x81));
    b.bench->onCommand(Command::ReadData);
}

TEST(Reading, Guards)
{
    SimBench b;
    b.bench->onCommand(Command::ReadData);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgSetConfiguration});
    b.view.clearMessages();
    b.chooseProtocol("sin_cosine");
    b.bench->onCommand(Command::ReadData);
    EXPECT_TRUE(b.view.messages().isEmpty());
}

TEST(Reading, ResetOfAngleStopsTheReadingAndResetsTheEncoder)
{
    SimBench b;
    startReading(b, {"RS485", RecordGroup::Rs485, {16, 17, 8}, 17, 16, 8, 0}, (2 << 17) + 500);
    ASSERT_TRUE(waitFor([&] { return b.view.controls().text(Control::FieldValue2) == "500"; }));
    b.bench->onCommand(Command::ResetAngle);
    b.settle();
    EXPECT_EQ(b.view.controls().text(Control::ReadData), "Read data");
    EXPECT_TRUE(b.view.controls().isEnabled(Control::ResetAngle));
    const auto packets = b.packets();
    EXPECT_TRUE(std::any_of(packets.begin(), packets.end(), [](const ReceivedPacket& p) {
        return p.startsWith({0xB1, 0xB1, 0xA1, 0xA1, 0xA1, 0xA1});
    }));
    EXPECT_EQ(b.box->encoder().fields().position, 0u);

    // Only RS485 proper resets; RS485+AB gets the message.
    b.chooseProtocol("RS485+AB");
    ASSERT_TRUE(b.configure());
    b.view.clearMessages();
    b.bench->onCommand(Command::ResetMultiTurn);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgOnly485});
}

TEST(ReadFrameMask, IsExactForEveryWidth)
{
    EXPECT_EQ(readFrameMaskOf(0), 0);
    EXPECT_EQ(readFrameMaskOf(34), (std::int64_t{1} << 34) - 1);
    EXPECT_EQ(readFrameMaskOf(63), INT64_MAX);
    EXPECT_EQ(readFrameMaskOf(64), -1);
    EXPECT_EQ(readFrameMaskOf(100), -1);
}
