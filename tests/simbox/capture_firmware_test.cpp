// The capture firmware through the real link classes: the 5A stream of
// unframed capture records, the stop with its short packet and
// acknowledgement, the injected acknowledgement faults and FIFO overflow, and
// the log of what reached the host.
#include "sim_link.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kAckComplete{0x6A, 0x00, 0x6A, 0x00};

std::uint64_t u(std::uint8_t b, int shift) { return std::uint64_t{b} << shift; }

PacketParams protocol(int code, int frameBits = 34)
{
    PacketParams p;
    p.protocolCode = code;
    p.frameBits = frameBits;
    p.crcInvertBits = 0;
    p.crcConfig = 0;
    return p;
}

// A configured box with its query answer read, its FIFO the FX2's four
// packets unless a case says otherwise.
struct CaptureBench {
    explicit CaptureBench(int protocolCode, int frameBits = 34, int fifoPackets = 4)
    {
        EXPECT_TRUE(link.findBox());
        link.box->setFifoPackets(fifoPackets);
        enc().setResolution(17, 16, 8);
        enc().setStatus(0xC3);
        enc().setPositionCounts(0x1234ll * 131072 + 0x1ABCD);
        link.configure(protocol(protocolCode, frameBits));
        EXPECT_TRUE(link.read(2048).ok);  // the query answer
    }
    EncoderModel& enc() { return link.box->encoder(); }

    // Reads transfers until the acknowledgement (a 4-byte transfer starting
    // 6A ?? 6A) or a read times out. Returns the data transfers.
    std::vector<Bytes> readToAck(Bytes* ack, double waitMs = 500)
    {
        std::vector<Bytes> data;
        for (int i = 0; i < 200; ++i) {
            const ReadResult r = link.read(kCaptureTransferBytes, waitMs);
            if (!r.signalled)
                break;
            if (r.bytes.size() == 4 && r.bytes[0] == 0x6A && r.bytes[2] == 0x6A) {
                *ack = r.bytes;
                break;
            }
            data.push_back(r.bytes);
        }
        return data;
    }

    SimLink link;
};

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(CaptureFirmware, TwoFullTransfersThenTheTailAndTheAcknowledgement)
{
    CaptureBench b(2);  // RS485: 10-byte records
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    const ReadResult first = b.link.read(kCaptureTransferBytes);
    const ReadResult second = b.link.read(kCaptureTransferBytes);
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(40960u, first.bytes.size());
    EXPECT_EQ(40960u, second.bytes.size());
    // Repeated 5A packets (every send while the capture runs) keep the stream.
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    benchSleep(30);  // about 2400 bytes that no full transfer takes

    ASSERT_TRUE(b.link.send({Flag::SaveActive, Flag::StopCmd}));  // 6A wins
    Bytes ack;
    const std::vector<Bytes> rest = b.readToAck(&ack);
    EXPECT_EQ(kAckComplete, ack);
    ASSERT_EQ(1u, rest.size());  // the partial transfer ends with the short packet
    EXPECT_GT(rest[0].size(), 0u);
    EXPECT_LT(rest[0].size(), 40960u);
    EXPECT_FALSE(b.link.box->state().streaming);
    EXPECT_EQ(0u, b.link.box->state().lostBytes);

    // The log holds exactly what the host took, transfer by transfer.
    const std::vector<Bytes> logged = b.link.box->captureTransfers();
    ASSERT_EQ(3u, logged.size());
    EXPECT_EQ(first.bytes, logged[0]);
    EXPECT_EQ(second.bytes, logged[1]);
    EXPECT_EQ(rest[0], logged[2]);
    EXPECT_EQ(concat({first.bytes, second.bytes, rest[0]}), b.link.box->captureLog());
    EXPECT_EQ(1u, b.link.box->captureAcksSent());

    // Back to back, without sync patterns: 4096 records per full transfer,
    // each as a report reads the RS485 layout (turns r7 r4 r5, single-turn
    // r3 r0 r1, warning r8).
    const Bytes all = b.link.box->captureLog();
    ASSERT_EQ(0u, all.size() % 10);
    for (std::size_t at = 0; at < all.size(); at += 10) {
        const std::uint8_t* r = all.data() + at;
        ASSERT_EQ(0x1234u, r[7] * 65536u + r[4] * 256u + r[5]) << at;
        ASSERT_EQ(0x1ABCDu, r[3] * 65536u + r[0] * 256u + r[1]) << at;
        ASSERT_EQ(0xC3, r[8]) << at;
    }

    // A second stop after the acknowledgement is a plain stop: no answer.
    ASSERT_TRUE(b.link.send({Flag::StopCmd}));
    EXPECT_FALSE(b.link.read(2048, 100).signalled);
}

// One 2048-byte transfer of each protocol group's capture records.
struct LayoutCase {
    const char* name;
    int protocolCode;
    int recordLength;
    // Checks record k of the transfer against the encoder; `t` is the bench time.
    std::function<void(const std::uint8_t* rec, std::size_t k, const Bytes& all, EncoderModel& enc,
                       const BoxInterfaceConfig& cfg)>
        check;
};
std::ostream& operator<<(std::ostream& os, const LayoutCase& c) { return os << c.name; }

class CaptureLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(CaptureLayouts, RecordsLieBackToBackInTheReportLayout)
{
    const LayoutCase& c = GetParam();
    CaptureBench b(c.protocolCode, c.protocolCode == 5 ? 26 : 41);
    if (c.protocolCode == 5) {
        b.enc().setResolution(14, 12, 0);
        b.enc().setPositionCounts(0x5A5ll * 16384 + 0x1234);
    }
    if (c.protocolCode == 6) {
        b.enc().setResolution(12, 0, 0);
        b.enc().setPositionCounts(64);
    }
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    const ReadResult r = b.link.read(2048);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(2048u, r.bytes.size());
    EXPECT_EQ(r.bytes, b.link.box->captureLog());
    const SimBoxState st = b.link.box->state();
    EXPECT_EQ(StreamKind::Capture, st.streamKind);
    for (std::size_t k = 0; (k + 1) * static_cast<std::size_t>(c.recordLength) <= r.bytes.size(); ++k)
        c.check(r.bytes.data() + k * static_cast<std::size_t>(c.recordLength), k, r.bytes, b.enc(), st.config);
}

std::uint64_t sixByte(const std::uint8_t* r)
{
    return u(r[4], 40) + u(r[5], 32) + u(r[2], 24) + u(r[3], 16) + u(r[0], 8) + r[1];
}

INSTANTIATE_TEST_SUITE_P(
    Groups, CaptureLayouts,
    ::testing::Values(
        LayoutCase{"BISS", 0, 6,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel& enc,
                      const BoxInterfaceConfig& cfg) {
                       ASSERT_EQ(enc.recordValueAt(RecordGroup::SyncSerial, cfg, benchClock().nowMicros()).value,
                                 sixByte(r))
                           << k;
                   }},
        LayoutCase{"SPI", 5, 10,
                   [](const std::uint8_t* r, std::size_t k, const Bytes& all, EncoderModel&,
                      const BoxInterfaceConfig&) {
                       std::uint64_t word = 0;
                       for (int i = 1; i <= 6; ++i)
                           word = word << 8 | r[i];
                       ASSERT_EQ(0x5A5u, (word >> 36) & 0xFFF) << k;  // 12 turn bits
                       ASSERT_EQ(0x1234u, (word >> 22) & 0x3FFF) << k;  // 14 position bits
                       EXPECT_EQ(0, r[7] | r[8] | r[9]);
                       // The record's CRC comes first in the next record; the first record has none before it.
                       if (k == 0) {
                           EXPECT_EQ(0, r[0]);
                       }
                       if ((k + 2) * 10 <= all.size()) {
                           ASSERT_EQ((word >> 16) & 0x3F, r[10]) << k;
                       }
                   }},
        LayoutCase{"RS485", 2, 10,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel&, const BoxInterfaceConfig&) {
                       ASSERT_EQ(0x1234u, r[7] * 65536u + r[4] * 256u + r[5]) << k;
                       ASSERT_EQ(0x1ABCDu, r[3] * 65536u + r[0] * 256u + r[1]) << k;
                       ASSERT_EQ(0xC3, r[8]) << k;
                   }},
        LayoutCase{"RS485_AB", 4, 10,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel&, const BoxInterfaceConfig&) {
                       ASSERT_EQ(0x1234u, r[9] * 65536u + r[6] * 256u + r[7]) << k;  // the counter
                       ASSERT_EQ(0x1ABCDu, r[3] * 65536u + r[0] * 256u + r[1]) << k;
                       ASSERT_EQ(0xC3, r[8]) << k;
                   }},
        LayoutCase{"TTL", 3, 6,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel&, const BoxInterfaceConfig&) {
                       ASSERT_EQ(0x1234u, sixByte(r) >> 24) << k;  // 24-bit turn counter
                       ASSERT_EQ(0x1ABCDu, sixByte(r) & 0xFFFFFF) << k;
                   }},
        LayoutCase{"sin_cosine", 6, 10,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel& enc,
                      const BoxInterfaceConfig&) {
                       const SinCosSample s = enc.sinCosAt(benchClock().nowMicros());
                       for (std::size_t i = 0; i < 6; ++i)
                           ASSERT_EQ(s.codes[i], r[i]) << k << " track " << i;
                       ASSERT_EQ(s.count, 65536u * r[9] + 256u * r[6] + r[7]) << k;
                   }},
        LayoutCase{"rx_485_only", 7, 10,
                   [](const std::uint8_t* r, std::size_t k, const Bytes&, EncoderModel& enc,
                      const BoxInterfaceConfig& cfg) {
                       const auto v = enc.recordValueAt(RecordGroup::RxOnly, cfg, benchClock().nowMicros()).value;
                       ASSERT_EQ(v, u(r[2], 24) + u(r[3], 16) + u(r[0], 8) + r[1]) << k;
                       ASSERT_EQ(0, r[4] | r[5] | r[6] | r[7] | r[8] | r[9]) << k;
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// How the acknowledgement comes out, fault by fault.
struct AckCase {
    const char* name;
    std::function<void(CaptureBench&)> setUp;    // before the 5A
    std::function<void(CaptureBench&)> capture;  // between the 5A and the 6A
    std::optional<Bytes> ack;                    // none: no acknowledgement
    double minAckMs;                             // bench ms from the 6A to the acknowledgement
    int fifoPackets = 4;
};
std::ostream& operator<<(std::ostream& os, const AckCase& c) { return os << c.name; }

class CaptureAcknowledgement : public ::testing::TestWithParam<AckCase> {};

TEST_P(CaptureAcknowledgement, StatusDelayAndAbsence)
{
    const AckCase& c = GetParam();
    CaptureBench b(0, 34, c.fifoPackets);  // BISS
    if (c.setUp)
        c.setUp(b);
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    if (c.capture)
        c.capture(b);
    else
        ASSERT_TRUE(b.link.read(2048).ok);
    const auto stopAt = benchClock().nowMicros();
    ASSERT_TRUE(b.link.send({Flag::StopCmd}));
    Bytes ack;
    b.readToAck(&ack, c.ack ? 1000 : 300);
    if (!c.ack) {
        EXPECT_TRUE(ack.empty()) << "unexpected acknowledgement";
        return;
    }
    EXPECT_EQ(*c.ack, ack);
    EXPECT_GE(static_cast<double>(benchClock().nowMicros() - stopAt) / 1000.0, c.minAckMs);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CaptureAcknowledgement,
    ::testing::Values(
        AckCase{"complete", nullptr, nullptr, kAckComplete, 0},
        AckCase{"forced_status", [](CaptureBench& b) { b.link.box->setCaptureAckStatus(5); }, nullptr,
                Bytes{0x6A, 0x00, 0x6A, 0x05}, 0},
        AckCase{"late", [](CaptureBench& b) { b.link.box->setCaptureAckDelayMs(250); }, nullptr, kAckComplete, 250},
        AckCase{"absent", [](CaptureBench& b) { b.link.box->setCaptureAckAbsent(true); }, nullptr, std::nullopt, 0},
        AckCase{"injected_overflow", [](CaptureBench& b) { b.link.box->injectCaptureOverflow(1); }, nullptr,
                Bytes{0x6A, 0x00, 0x6A, kCaptureOverflowStatus}, 0},
        // The host reads nothing for 100 ms: the four-packet FIFO (2048
        // bytes, 43 ms of BISS records) runs over.
        AckCase{"host_too_slow", nullptr, [](CaptureBench&) { benchSleep(100); },
                Bytes{0x6A, 0x00, 0x6A, kCaptureOverflowStatus}, 0, 4},
        // A forced status wins over the overflow.
        AckCase{"forced_over_overflow", [](CaptureBench& b) { b.link.box->setCaptureAckStatus(0); },
                [](CaptureBench&) { benchSleep(100); }, kAckComplete, 0, 4},
        // The power going off ends the capture without an acknowledgement.
        AckCase{"power_off", nullptr,
                [](CaptureBench& b) {
                    b.link.read(2048);
                    b.link.send({Flag::PowerOffCmd});
                },
                std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureFirmware, TheAcknowledgementWaitsBehindAFullFifo)
{
    CaptureBench b(2, 34, 4);
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    benchSleep(80);  // the FIFO is full and data is being lost
    ASSERT_TRUE(b.link.send({Flag::StopCmd}));
    EXPECT_GE(b.link.box->state().fifoPackets, 5u);  // four data packets, the tail and the acknowledgement
    Bytes ack;
    const std::vector<Bytes> data = b.readToAck(&ack);
    EXPECT_EQ((Bytes{0x6A, 0x00, 0x6A, kCaptureOverflowStatus}), ack);
    EXPECT_EQ(concat(data), b.link.box->captureLog());
    EXPECT_GT(b.link.box->state().lostBytes, 0u);
}

TEST(CaptureFirmware, AStopWithoutACaptureIsNotAcknowledged)
{
    CaptureBench b(0);
    ASSERT_TRUE(b.link.send({Flag::ReadActive}));
    ASSERT_TRUE(b.link.read(2048).ok);
    // A 5A during a 7A stream switches to the capture, and a 7A back.
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    EXPECT_EQ(StreamKind::Capture, b.link.box->state().streamKind);
    ASSERT_TRUE(b.link.send({Flag::ReadActive}));
    EXPECT_EQ(StreamKind::Records, b.link.box->state().streamKind);
    ASSERT_TRUE(b.link.send({Flag::StopCmd}));
    Bytes ack;
    b.readToAck(&ack, 150);  // takes whatever was buffered
    EXPECT_TRUE(ack.empty());
    EXPECT_EQ(0u, b.link.box->captureAcksSent());
}

TEST(CaptureFirmware, SilentBoxCapturesNothing)
{
    CaptureBench b(0);
    b.link.box->setNoAnswer(true);
    ASSERT_TRUE(b.link.send({Flag::SaveActive}));
    EXPECT_FALSE(b.link.read(2048, 100).signalled);
    ASSERT_TRUE(b.link.send({Flag::StopCmd}));
    EXPECT_FALSE(b.link.read(2048, 100).signalled);
    EXPECT_TRUE(b.link.box->captureLog().empty());
}

}  // namespace
