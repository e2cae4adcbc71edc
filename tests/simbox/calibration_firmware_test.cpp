// The simulated box's calibration firmware through the real link classes:
// the answers to every calibration packet of both encoder kinds, injected
// failures and silence, the information records and the pacing of their tags.
// Replies are read as the calibration reader reads them (81920-byte
// transfers) and decoded with the workbench's own scanner and records.
#include "sim_link.h"

#include "calibration/cal_info_records.h"
#include "calibration/cal_reply_scan.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = CalEncoderKind;

constexpr int kReplyTransfer = 81920;

Bytes frame(std::uint8_t code)
{
    return {0xAA, 0x00, 0xAA, code};
}

// What the box holds before the packet under test.
enum class Before {
    Nothing,  // just plugged in
    Entered,  // 1D taken (encoder 1: session open, configuration missing; encoder 2: awake)
    Ready,    // encoder 1: 1D, 39 header and 3D taken
};

struct CalLink : SimLink {
    CalibrationFirmware& fw() { return box->calibration(); }

    void sendFlag(Flag f, int calibParam = 4)
    {
        PacketParams p;
        p.calibParam = calibParam;
        ASSERT_TRUE(send({f}, p));
    }

    // Every packet the box has queued, each taken by its own reply transfer.
    // With reply delays of 0 an answer is queued before its packet's send ends.
    std::vector<Bytes> takeQueued()
    {
        std::vector<Bytes> got;
        while (box->state().fifoPackets > 0) {
            const ReadResult r = read(kReplyTransfer, 500);
            if (!r.ok)
                break;
            got.push_back(r.bytes);
        }
        return got;
    }

    void prepare(Kind kind, Before before)
    {
        fw().setKind(kind);
        if (before == Before::Nothing)
            return;
        sendFlag(Flag::Cal1DCmd);
        if (before == Before::Ready && kind == Kind::CoarseFine) {
            sendFlag(Flag::CalParamCmd);
            sendFlag(Flag::CalEqualsCmd);
        }
        takeQueued();
    }
};

// A fresh box with immediate answers, so that "no answer" is exact.
std::unique_ptr<CalLink> freshLink()
{
    auto link = std::make_unique<CalLink>();
    EXPECT_TRUE(link->findBox());
    link->fw().setAllReplyDelaysMs(0);
    link->fw().setInfoPacing(0, 0);
    return link;
}

// Each reply is one short packet holding one frame that the reader's scan
// finds, and that an information read never takes for a tag.
void expectReplies(const std::vector<Bytes>& got, const Bytes& codes, const std::string& what)
{
    ASSERT_EQ(codes.size(), got.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(frame(codes[i]), got[i]) << what << ", reply " << i;
        const CalScanItem item = scanCalibrationTransfer(got[i], false, false);
        EXPECT_EQ(CalScanItem::Kind::Reply, item.kind) << what;
        EXPECT_EQ(codes[i], item.code) << what;
        EXPECT_EQ(CalScanItem::Kind::Nothing, scanCalibrationTransfer(got[i], true, false).kind) << what;
        EXPECT_EQ(CalScanItem::Kind::Nothing, scanCalibrationTransfer(got[i], false, true).kind) << what;
    }
}

struct Row {
    const char* what;
    Kind kind;
    Before before;
    Flag packet;
    std::vector<std::pair<CalFirmwareStep, CalOutcome>> outcomes;
    Bytes replies;
};

using S = CalFirmwareStep;
using O = CalOutcome;
constexpr Kind K1 = Kind::CoarseFine;
constexpr Kind K2 = Kind::Waking;

TEST(SimCalibration, EveryPacketOfBothKindsGetsItsReplies)
{
    const std::vector<Row> rows = {
        // Encoder 1, coarse and fine track.
        {"1: 1D opens the session", K1, Before::Nothing, Flag::Cal1DCmd, {}, {0x3A}},
        {"1: 1D silent", K1, Before::Nothing, Flag::Cal1DCmd, {{S::Enter, O::Silent}}, {}},
        {"1: 1D again asks for the configuration again", K1, Before::Ready, Flag::Cal1DCmd, {}, {0x3A}},
        {"1: 16 before any session", K1, Before::Nothing, Flag::Cal16Cmd, {}, {}},
        {"1: 16 with the configuration missing", K1, Before::Entered, Flag::Cal16Cmd, {}, {0x3A}},
        {"1: 16 configured", K1, Before::Ready, Flag::Cal16Cmd, {}, {}},
        {"1: 16 silent", K1, Before::Entered, Flag::Cal16Cmd, {{S::ConfigRequest, O::Silent}}, {}},
        {"1: 0D", K1, Before::Ready, Flag::Cal0DCmd, {}, {}},
        {"1: 39 header", K1, Before::Entered, Flag::CalParamCmd, {}, {}},
        {"1: 3D", K1, Before::Entered, Flag::CalEqualsCmd, {}, {0x39}},
        {"1: 3D silent", K1, Before::Entered, Flag::CalEqualsCmd, {{S::ConfigWrite, O::Silent}}, {}},
        {"1: 3D outside a session", K1, Before::Nothing, Flag::CalEqualsCmd, {}, {}},
        {"1: coarse eccentricity", K1, Before::Ready, Flag::CoarseEccentricityCmd, {}, {0xB3}},
        {"1: coarse eccentricity silent", K1, Before::Ready, Flag::CoarseEccentricityCmd,
         {{S::CoarseEccentricity, O::Silent}}, {}},
        {"1: fine ADC", K1, Before::Ready, Flag::FineAdcCmd, {}, {0xA1}},
        {"1: fine ADC fails", K1, Before::Ready, Flag::FineAdcCmd, {{S::FineAdc, O::Fail}}, {0x22}},
        {"1: fine ADC silent", K1, Before::Ready, Flag::FineAdcCmd, {{S::FineAdc, O::Silent}}, {}},
        {"1: coarse ADC", K1, Before::Ready, Flag::CoarseAdcCmd, {}, {0xA2}},
        {"1: coarse ADC fails", K1, Before::Ready, Flag::CoarseAdcCmd, {{S::CoarseAdc, O::Fail}}, {0x22}},
        {"1: coarse ADC silent", K1, Before::Ready, Flag::CoarseAdcCmd, {{S::CoarseAdc, O::Silent}}, {}},
        {"1: fine radius", K1, Before::Ready, Flag::FineRadiusCmd, {}, {0xB2}},
        {"1: fine radius fails", K1, Before::Ready, Flag::FineRadiusCmd, {{S::FineRadius, O::Fail}}, {0x22}},
        {"1: fine radius silent", K1, Before::Ready, Flag::FineRadiusCmd, {{S::FineRadius, O::Silent}}, {}},
        {"1: zero alignment", K1, Before::Ready, Flag::ZeroAlignCmd, {}, {0xC1}},
        {"1: zero alignment silent", K1, Before::Ready, Flag::ZeroAlignCmd, {{S::ZeroAlign1, O::Silent}}, {}},
        // Steps outside a configured session are ignored.
        {"1: 3B unconfigured", K1, Before::Entered, Flag::CoarseEccentricityCmd, {}, {}},
        {"1: 1A without a session", K1, Before::Nothing, Flag::FineAdcCmd, {}, {}},
        {"1: 2A unconfigured", K1, Before::Entered, Flag::CoarseAdcCmd, {}, {}},
        {"1: 2B unconfigured", K1, Before::Entered, Flag::FineRadiusCmd, {}, {}},
        {"1: 1C unconfigured", K1, Before::Entered, Flag::ZeroAlignCmd, {}, {}},
        // Encoder 2's packets mean nothing to encoder 1.
        {"1: 2D", K1, Before::Ready, Flag::CalDashCmd, {}, {}},
        {"1: 49", K1, Before::Ready, Flag::CalICmd, {}, {}},
        {"1: 50", K1, Before::Ready, Flag::CalPCmd, {}, {}},

        // Encoder 2, woken up.
        {"2: 1D wakes, B3 after the turns", K2, Before::Nothing, Flag::Cal1DCmd, {}, {0x3A, 0xB3}},
        {"2: 1D, turns silent", K2, Before::Nothing, Flag::Cal1DCmd, {{S::WakeTurns, O::Silent}}, {0x3A}},
        {"2: 1D silent", K2, Before::Nothing, Flag::Cal1DCmd, {{S::Enter, O::Silent}}, {}},
        {"2: 2D", K2, Before::Nothing, Flag::CalDashCmd, {}, {0x2D}},
        {"2: 2D silent", K2, Before::Nothing, Flag::CalDashCmd, {{S::WakeLine, O::Silent}}, {}},
        {"2: 16", K2, Before::Entered, Flag::Cal16Cmd, {}, {}},
        {"2: 0D", K2, Before::Entered, Flag::Cal0DCmd, {}, {}},
        {"2: 3D", K2, Before::Entered, Flag::CalEqualsCmd, {}, {}},
        {"2: air I", K2, Before::Entered, Flag::CalICmd, {}, {0x49}},
        {"2: air I silent", K2, Before::Entered, Flag::CalICmd, {{S::AirI, O::Silent}}, {}},
        {"2: air P", K2, Before::Entered, Flag::CalPCmd, {}, {0x50}},
        {"2: air P silent", K2, Before::Entered, Flag::CalPCmd, {{S::AirP, O::Silent}}, {}},
        {"2: 3B is zero alignment", K2, Before::Entered, Flag::CoarseEccentricityCmd, {}, {0x35}},
        {"2: zero alignment fails", K2, Before::Entered, Flag::CoarseEccentricityCmd, {{S::ZeroAlign2, O::Fail}},
         {0x1E}},
        {"2: zero alignment silent", K2, Before::Entered, Flag::CoarseEccentricityCmd,
         {{S::ZeroAlign2, O::Silent}}, {}},
        {"2: 2A is B1/B2", K2, Before::Entered, Flag::CoarseAdcCmd, {}, {0xB1, 0xB2}},
        {"2: B1 fails, no B2", K2, Before::Entered, Flag::CoarseAdcCmd, {{S::B1, O::Fail}}, {0x5A}},
        {"2: B2 fails", K2, Before::Entered, Flag::CoarseAdcCmd, {{S::B2, O::Fail}}, {0xB1, 0x5A}},
        {"2: B1 silent", K2, Before::Entered, Flag::CoarseAdcCmd, {{S::B1, O::Silent}}, {}},
        {"2: B2 silent", K2, Before::Entered, Flag::CoarseAdcCmd, {{S::B2, O::Silent}}, {0xB1}},
        // Asleep, encoder 2 ignores its steps.
        {"2: 3B asleep", K2, Before::Nothing, Flag::CoarseEccentricityCmd, {}, {}},
        {"2: 2A asleep", K2, Before::Nothing, Flag::CoarseAdcCmd, {}, {}},
        {"2: 49 asleep", K2, Before::Nothing, Flag::CalICmd, {}, {}},
        {"2: 50 asleep", K2, Before::Nothing, Flag::CalPCmd, {}, {}},
        // Encoder 1's packets mean nothing to encoder 2.
        {"2: 1A", K2, Before::Entered, Flag::FineAdcCmd, {}, {}},
        {"2: 2B", K2, Before::Entered, Flag::FineRadiusCmd, {}, {}},
        {"2: 1C", K2, Before::Entered, Flag::ZeroAlignCmd, {}, {}},
    };
    // Only steps with a failure code can be made to fail.
    EXPECT_FALSE(CalibrationFirmware().setOutcome(S::CoarseEccentricity, O::Fail));
    EXPECT_FALSE(CalibrationFirmware().setOutcome(S::AirP, O::Fail));
    for (const Row& row : rows) {
        auto link = freshLink();
        link->prepare(row.kind, row.before);
        for (const auto& [step, outcome] : row.outcomes)
            ASSERT_TRUE(link->fw().setOutcome(step, outcome)) << row.what;
        link->sendFlag(row.packet);
        expectReplies(link->takeQueued(), row.replies, row.what);
        EXPECT_EQ(0u, link->box->state().lostBytesTotal) << row.what;
    }
}

// "启动校准" as the engine runs it: two rounds of the start packets, each
// answered ':', each followed by the configuration write answered '9'.
TEST(SimCalibration, StartHandshakeOfEncoder1)
{
    auto link = freshLink();
    link->fw().setKind(K1);
    const Flag startPackets[] = {Flag::PowerOnCmd, Flag::ConfigCmd, Flag::Cal0DCmd, Flag::Cal16Cmd,
                                 Flag::Cal1DCmd};
    for (int round = 0; round < 2; ++round) {
        for (Flag f : startPackets)
            link->sendFlag(f);
        expectReplies(link->takeQueued(), {0x3A}, "start round " + std::to_string(round));
        EXPECT_TRUE(link->fw().sessionOpen());
        EXPECT_FALSE(link->fw().configured());
        link->sendFlag(Flag::CalParamCmd, 204);
        link->sendFlag(Flag::CalEqualsCmd);
        expectReplies(link->takeQueued(), {0x39}, "configuration round " + std::to_string(round));
        EXPECT_TRUE(link->fw().configured());
        EXPECT_EQ(204, link->fw().lastCalibParam());
    }

    // Only a well-formed 39 39 q q q q header is taken as the parameter.
    CommandPacket bad{};
    bad[0] = bad[1] = 0x39;
    bad[2] = 1;
    bad[3] = 2;
    ASSERT_TRUE(link->send(bad));
    EXPECT_EQ(204, link->fw().lastCalibParam());

    // An encoder that lost its configuration asks for it at the next 16 and
    // ignores steps until it is written again.
    link->fw().loseConfiguration();
    link->sendFlag(Flag::Cal16Cmd);
    link->sendFlag(Flag::FineAdcCmd);
    expectReplies(link->takeQueued(), {0x3A}, "16 after the configuration was lost");
    link->sendFlag(Flag::CalParamCmd, 64);
    link->sendFlag(Flag::CalEqualsCmd);
    link->sendFlag(Flag::FineAdcCmd);
    expectReplies(link->takeQueued(), {0x39, 0xA1}, "configuration written again");
    EXPECT_EQ(64, link->fw().lastCalibParam());

    // Plugging the box in again restarts its firmware: no session.
    ASSERT_TRUE(link->bus->replug(link->box));
    ASSERT_TRUE(link->findBox());
    EXPECT_FALSE(link->fw().sessionOpen());
    EXPECT_EQ(-1, link->fw().lastCalibParam());
    link->sendFlag(Flag::FineAdcCmd);
    EXPECT_TRUE(link->takeQueued().empty());
}

// "唤醒" as the engine runs it, with answer times: the drain read started
// after the stop packet takes the 2D answer, so the wake reader gets ':'
// and, once the shaft has turned, B3.
TEST(SimCalibration, WakeExchangeOfEncoder2)
{
    CalLink link;
    ASSERT_TRUE(link.findBox());
    CalibrationFirmware& fw = link.fw();
    fw.setKind(K2);
    fw.setReplyDelayMs(S::WakeLine, 5);
    fw.setReplyDelayMs(S::Enter, 10);
    fw.setReplyDelayMs(S::WakeTurns, 400);

    link.sendFlag(Flag::PowerOffCmd);
    link.sendFlag(Flag::ConfigCmd);
    link.sendFlag(Flag::StopCmd);
    std::vector<std::uint8_t> drain(2048);
    OverlappedRecord drainOv;
    auto drainCtx = link.in->beginTransfer(drain.data(), 2048, drainOv);
    link.sendFlag(Flag::Cal16Cmd);
    link.sendFlag(Flag::CalDashCmd);
    ASSERT_TRUE(link.in->waitForTransfer(drainOv, kWaitMs));
    int drainLen = 2048;
    ASSERT_TRUE(link.in->finishTransfer(drain.data(), drainLen, drainOv, drainCtx));
    drain.resize(static_cast<std::size_t>(drainLen));
    EXPECT_EQ(frame(0x2D), drain);

    const auto wakeAt = benchClock().nowMicros();
    link.sendFlag(Flag::Cal1DCmd);
    link.sendFlag(Flag::PowerOnCmd);
    expectReplies({link.read(kReplyTransfer).bytes}, {0x3A}, "wake");
    EXPECT_TRUE(fw.woken());
    const ReadResult turned = link.read(kReplyTransfer);
    EXPECT_GE(benchClock().nowMicros() - wakeAt, 400'000);
    expectReplies({turned.bytes}, {0xB3}, "turned twice");

    // B1 after one turn, B2 after the turn back.
    fw.setReplyDelayMs(S::B1, 100);
    fw.setReplyDelayMs(S::B2, 250);
    const auto b1b2At = benchClock().nowMicros();
    link.sendFlag(Flag::CoarseAdcCmd);
    expectReplies({link.read(kReplyTransfer).bytes}, {0xB1}, "B1");
    EXPECT_GE(benchClock().nowMicros() - b1b2At, 100'000);
    expectReplies({link.read(kReplyTransfer).bytes}, {0xB2}, "B2");
    EXPECT_GE(benchClock().nowMicros() - b1b2At, 250'000);
}

// The information read as the engine does it: the 15 packet, the engine's
// 100 ms wait, then one reply transfer per tag until the last one. The
// default pacing must let the 4-packet FIFO keep every tag.
template <typename Tags>
Tags readInformation(CalLink& link, bool encoder1)
{
    Tags tags;
    link.sendFlag(Flag::CalInfoCmd);
    benchSleep(100);
    const int last = encoder1 ? kInfo1LastTag : kInfo2LastTag;
    for (int expected = 1; expected <= last; ++expected) {
        const ReadResult r = link.read(kReplyTransfer);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(2u, r.bytes.size());
        const CalScanItem item = scanCalibrationTransfer(r.bytes, encoder1, !encoder1);
        EXPECT_EQ(CalScanItem::Kind::Tag, item.kind);
        EXPECT_EQ(expected, item.tag);
        if (item.kind != CalScanItem::Kind::Tag || item.tag != expected)
            break;
        EXPECT_EQ(expected == last, tags.store(item.tag, item.value));
    }
    EXPECT_EQ(0u, link.box->state().lostBytesTotal);
    EXPECT_EQ(0u, link.box->state().fifoPackets);
    return tags;
}

TEST(SimCalibration, Encoder1InformationShowsWhatTheEncoderStored)
{
    CalLink link;
    ASSERT_TRUE(link.findBox());
    link.fw().setKind(K1);
    Encoder1Stored s;
    s.coarseZero = 4000000000u;
    s.fineZero = 7;
    s.coarseSin = -5;
    s.coarseCos = 300;
    s.fineRadiusSquare = 2000ull * 2000ull;
    s.userZero = 65536;
    s.temperatureCode = 3677;
    s.fineSin = 100;
    s.fineCos = -50;
    s.firmware = {0x01, 0x43, 0x15, 0xA4};
    s.coarseAdc = 1;
    s.fineAdc = 0x01020304;
    link.fw().setStored1(s);

    const CalInfo1Tags tags = readInformation<CalInfo1Tags>(link, true);
    Encoder1InfoDecoder decoder;
    const Encoder1InfoTexts t = decoder.decode(tags);
    EXPECT_EQ("4000000000   ", t.coarseZero);
    EXPECT_EQ("7   ", t.fineZero);
    EXPECT_EQ("-5   ", t.coarseSin);
    EXPECT_EQ("300   ", t.coarseCos);
    EXPECT_EQ("2000   ", t.fineRadius);
    EXPECT_EQ("65536   ", t.userZero);
    EXPECT_EQ("    25", t.temperature);
    EXPECT_EQ("100   ", t.fineSin);
    EXPECT_EQ("-50   ", t.fineCos);
    EXPECT_EQ("5.00   ", t.eccentricitySin);
    EXPECT_EQ("-2.50   ", t.eccentricityCos);
    EXPECT_EQ("014315A4", t.firmwareCode);
    EXPECT_EQ(QString::fromUtf8("版本号:20；四倍频补偿；最高转速:3500RPM；协议:RS485；单圈:20；多圈:14"),
              t.firmwareDescription);
    EXPECT_EQ("1   ", t.coarseAdc);
    EXPECT_EQ("16909060   ", t.fineAdc);
}

TEST(SimCalibration, Encoder2InformationShowsWhatTheEncoderStored)
{
    CalLink link;
    ASSERT_TRUE(link.findBox());
    link.fw().setKind(K2);
    Encoder2Stored s;
    s.coarseSin = -2;
    s.coarseCos = 2147483647;
    s.fineSin = -2147483647 - 1;
    s.fineCos = 0;
    s.zeroOffset = 0xFFFFFFFFu;
    s.b1Angle = calAngleCode(90.0);
    s.b2Angle = calAngleCode(-45.5);
    s.serial = 20160601;
    link.fw().setStored2(s);

    const CalInfo2Tags tags = readInformation<CalInfo2Tags>(link, false);
    const Encoder2InfoTexts t = formatEncoder2Info(tags);
    EXPECT_EQ("-2   ", t.coarseSin);
    EXPECT_EQ("2147483647   ", t.coarseCos);
    EXPECT_EQ("-2147483648   ", t.fineSin);
    EXPECT_EQ("0   ", t.fineCos);
    EXPECT_EQ("4294967295   ", t.zeroOffset);
    EXPECT_EQ("90.000   ", t.b1Angle);
    EXPECT_EQ("314.500   ", t.b2Angle);
    EXPECT_EQ("20160601   ", t.serial);
}

TEST(SimCalibration, SilentInformationAndTheBoxWideFaults)
{
    auto link = freshLink();
    link->fw().setKind(K2);
    ASSERT_TRUE(link->fw().setOutcome(S::Information, O::Silent));
    link->sendFlag(Flag::CalInfoCmd2);
    EXPECT_TRUE(link->takeQueued().empty());
    ASSERT_TRUE(link->fw().setOutcome(S::Information, O::Pass));
    // Paced as the box paces them, every tag finds the reader's next
    // transfer; the FIFO is the FX2's four packets.
    link->fw().setInfoPacing(5, 5);
    link->sendFlag(Flag::CalInfoCmd2);
    int tags = 0;
    while (link->read(kReplyTransfer, 50).ok)
        ++tags;
    EXPECT_EQ(32, tags);

    // The box-wide faults hold for calibration answers too.
    link->box->setNoAnswer(true);
    link->sendFlag(Flag::CalDashCmd);
    EXPECT_TRUE(link->takeQueued().empty());
    link->box->setNoAnswer(false);
    link->box->setAnswerDelayMs(150);
    link->sendFlag(Flag::CalDashCmd);
    EXPECT_FALSE(link->read(kReplyTransfer, 50).signalled);
    expectReplies({link->read(kReplyTransfer).bytes}, {0x2D}, "late 2D");
}

}  // namespace
