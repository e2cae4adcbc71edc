#include "measure/capture_files.h"
#include "measure/capture_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CaptureRequest, FollowsTheLastDeliveredLengthButNeverShrinksToNothing)
{
    struct Case {
        int previous, delivered, next;
    };
    const Case cases[] = {
        {40960, 40960, 40960},
        {40960, 1000, 1000},   // a short transfer: the next request asks for 1000
        {1000, 1000, 1000},
        {1000, 500, 500},
        {1000, 0, 1000},       // an empty transfer keeps the length
        {40960, 0, 40960},
        {1000, -1, 1000},      // a failed finish reports no length
        {1000, 40961, 1000},   // more than the buffer cannot be true
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextCaptureRequest(c.previous, c.delivered), c.next)
            << c.previous << " then " << c.delivered;
}

TEST(CaptureReceiver, StoresEveryTransferAsOneFullBlock)
{
    CaptureReceiver rx;
    EXPECT_EQ(rx.requestLength(), kCaptureBlockBytes);

    Bytes file;
    for (std::uint8_t fill : {0x11, 0x22}) {
        std::fill_n(rx.data(), rx.requestLength(), fill);
        const auto block = rx.takeBlock(kCaptureBlockBytes);
        file.insert(file.end(), block.begin(), block.end());
    }
    EXPECT_EQ(file.size(), 81920u);  // two full transfers, then the acknowledgement
    EXPECT_EQ(file[40959], 0x11);
    EXPECT_EQ(file[40960], 0x22);
    EXPECT_EQ(rx.requestLength(), kCaptureBlockBytes);
}

TEST(CaptureReceiver, ShortTransferIsPaddedWithZerosAndShrinksTheNextRequest)
{
    CaptureReceiver rx;
    std::fill_n(rx.data(), kCaptureBlockBytes, 0x77);  // a full earlier transfer
    rx.takeBlock(kCaptureBlockBytes);

    std::fill_n(rx.data(), 1000, 0x5A);
    const auto block = rx.takeBlock(1000);
    ASSERT_EQ(block.size(), static_cast<std::size_t>(kCaptureBlockBytes));
    EXPECT_TRUE(std::all_of(block.begin(), block.begin() + 1000, [](auto b) { return b == 0x5A; }));
    // Nothing of the earlier transfer survives past the delivered bytes.
    EXPECT_TRUE(std::all_of(block.begin() + 1000, block.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(rx.requestLength(), 1000);
}

TEST(CaptureReceiver, EmptyTransferStoresNothingAndKeepsTheRequest)
{
    CaptureReceiver rx;
    rx.takeBlock(1000);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(rx.takeBlock(0).empty());
        EXPECT_EQ(rx.requestLength(), 1000);
    }
}

TEST(StopAck, OnlySixtyAAnyByteSixtyAStatusIsAnAcknowledgement)
{
    struct Case {
        const char* name;
        Bytes bytes;
        std::optional<int> status;
    };
    const std::vector<Case> cases = {
        {"complete", {0x6A, 0x00, 0x6A, 0x00}, 0},
        {"error status", {0x6A, 0x00, 0x6A, 0x05}, 5},
        {"trailing bytes ignored", {0x6A, 0x13, 0x6A, 0x00, 0x11, 0x22}, 0},
        {"6A xx 00 is data", {0x6A, 0x13, 0x00, 0x00}, std::nullopt},
        {"byte 0 not 6A", {0x5A, 0x00, 0x6A, 0x00}, std::nullopt},
        {"no status byte", {0x6A, 0x00, 0x6A}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto ack = parseStopAck(c.bytes);
        ASSERT_EQ(ack.has_value(), c.status.has_value()) << c.name;
        if (ack) {
            EXPECT_EQ(ack->status, *c.status) << c.name;
        }
    }
}

TEST(StopAck, ReadsOnlyWhatTheTransferDelivered)
{
    CaptureReceiver rx;
    const Bytes stale{0x6A, 0x00, 0x6A, 0x00};
    std::copy(stale.begin(), stale.end(), rx.data());
    EXPECT_TRUE(parseStopAck(rx.delivered(4)));
    // Two fresh bytes do not borrow the rest of an old acknowledgement.
    EXPECT_FALSE(parseStopAck(rx.delivered(2)));
    EXPECT_FALSE(parseStopAck(rx.delivered(0)));
}

TEST(StopAck, NonZeroStatusFailsExceptForTheAdcFrontEnds)
{
    ModeFlags biss;
    ModeFlags adc;
    adc.syncSerialMode = false;
    adc.adcMode = true;
    ModeFlags rs485;
    rs485.syncSerialMode = false;
    rs485.rs485Mode = true;

    struct Case {
        ModeFlags modes;
        std::uint8_t status;
        CaptureEnd end;
    };
    const Case cases[] = {
        {biss, 0, CaptureEnd::Complete},
        {biss, 5, CaptureEnd::TransmissionError},
        {rs485, 1, CaptureEnd::TransmissionError},
        {adc, 5, CaptureEnd::Complete},
    };
    for (const Case& c : cases)
        EXPECT_EQ(captureEndFor(StopAck{c.status}, c.modes), c.end) << int(c.status);
}

TEST(CaptureTiming, TimedCaptureStopsOnceAtTwiceTheSeconds)
{
    struct Case {
        bool timed;
        std::int64_t seconds;
        std::int64_t stopTick;  // 0: never within 40 ticks
    };
    const Case cases[] = {
        {true, 3, 6}, {true, 1, 2}, {true, 10, 20}, {true, 0, 0}, {true, -1, 0}, {false, 3, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::int64_t> stops;
        for (std::int64_t t = 1; t <= 40; ++t)
            if (timedCaptureStopsAt(t, c.timed, c.seconds))
                stops.push_back(t);
        const std::vector<std::int64_t> expected =
            c.stopTick == 0 ? std::vector<std::int64_t>{} : std::vector<std::int64_t>{c.stopTick};
        EXPECT_EQ(stops, expected) << c.seconds;
    }
    EXPECT_TRUE(timedCaptureStopsAt(2000000, true, 1000000));
}

TEST(CaptureFiles, NumberedFileSkipsFilesOfEarlierRuns)
{
    struct Case {
        const char* name;
        int counter;
        std::set<QString> existing;
        int next;
    };
    const std::vector<Case> cases = {
        {"first after start-up", 0, {}, 1},
        {"FileName1 from an earlier run", 0, {"/t/FileName1.txt"}, 2},
        {"a run of existing files", 0, {"/t/FileName1.txt", "/t/FileName2.txt", "/t/FileName3.txt"}, 4},
        {"a gap is used", 0, {"/t/FileName1.txt", "/t/FileName3.txt"}, 2},
        {"counter already moved on", 9, {"/t/FileName2.txt"}, 10},
        {"other names do not count", 0, {"/t/FileName10.txt", "/t/num.txt"}, 1},
    };
    for (const Case& c : cases) {
        std::vector<QString> asked;
        const auto next = nextNumberedCapture("/t", c.counter, [&](const QString& p) {
            asked.push_back(p);
            return c.existing.count(p) > 0;
        });
        ASSERT_TRUE(next) << c.name;
        EXPECT_EQ(next->counter, c.next) << c.name;
        EXPECT_EQ(next->path, "/t/FileName" + QString::number(c.next) + ".txt") << c.name;
        EXPECT_EQ(asked.back(), next->path) << c.name;
    }
    EXPECT_EQ(nextNumberedCapture("/t/", 0, {})->path, "/t/FileName1.txt");
    EXPECT_EQ(captureDialogName(7), "FileName7");
}

TEST(CaptureFiles, CounterNeverWrapsPastTheLargestInt)
{
    const auto all = [](const QString&) { return true; };
    EXPECT_FALSE(nextNumberedCapture("/t", INT_MAX - 2, all));
    const auto last = nextNumberedCapture("/t", INT_MAX - 1, {});
    ASSERT_TRUE(last);
    EXPECT_EQ(last->counter, INT_MAX);
}

}  // namespace
