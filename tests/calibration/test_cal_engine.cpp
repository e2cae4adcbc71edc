#include "calibration/cal_access.h"
#include "calibration/cal_engine.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Q = CalRequest;
using W = CalWait;
using R = CalResult;
using Bytes = std::vector<std::uint8_t>;

const char* flagName(Flag f)
{
    switch (f) {
    case Flag::PowerOffCmd: return "PowerOff";
    case Flag::PowerOnCmd: return "PowerOn";
    case Flag::ConfigCmd: return "Config";
    case Flag::StopCmd: return "Stop";
    case Flag::Cal16Cmd: return "16";
    case Flag::CalDashCmd: return "Dash";
    case Flag::Cal1DCmd: return "1D";
    case Flag::Cal0DCmd: return "0D";
    case Flag::CalICmd: return "I";
    case Flag::CalPCmd: return "P";
    case Flag::CoarseEccentricityCmd: return "CoarseEcc";
    case Flag::CoarseAdcCmd: return "CoarseAdc";
    case Flag::FineAdcCmd: return "FineAdc";
    case Flag::FineRadiusCmd: return "FineRadius";
    case Flag::ZeroAlignCmd: return "ZeroAlign";
    case Flag::CalInfoCmd: return "Info";
    case Flag::CalInfoCmd2: return "Info2";
    case Flag::CalParamCmd: return "Param";
    case Flag::CalEqualsCmd: return "Equals";
    default: return "?";
    }
}

const char* waitName(W w)
{
    static const char* const kNames[] = {"StartAck", "ConfigAck", "CoarseEcc", "FineAdc", "CoarseAdc", "FineRadius",
                                         "Zero1",    "Info1",     "Wake",      "Wake2",   "AirI",      "AirP",
                                         "Zero2",    "BFirst",    "BSecond",   "Info2"};
    return kNames[static_cast<int>(w)];
}

std::string describe(const CalStep& s)
{
    switch (s.kind) {
    case CalStep::Kind::Pause: return "wait " + std::to_string(s.waitMs);
    case CalStep::Kind::Send: return std::string("send ") + flagName(s.packet) + " " + std::to_string(s.waitMs);
    case CalStep::Kind::DrainRead: return "drain " + std::to_string(s.waitMs);
    case CalStep::Kind::Read: return std::string("read ") + waitName(s.wait);
    case CalStep::Kind::LowerWait: return std::string("lower ") + waitName(s.wait);
    case CalStep::Kind::ShowMainWindow: return "show";
    }
    return "?";
}

// One timer-3 tick as a readable trace.
std::vector<std::string> tick(CalibrationEngine& e)
{
    std::vector<std::string> trace;
    e.beginTick();
    while (const std::optional<CalStep> s = e.nextStep())
        trace.push_back(describe(*s));
    return trace;
}

std::vector<W> waitsUp(const CalibrationEngine& e)
{
    std::vector<W> up;
    for (int i = 0; i < static_cast<int>(W::Count); ++i) {
        if (e.waiting(static_cast<W>(i)))
            up.push_back(static_cast<W>(i));
    }
    return up;
}

// A fake clock for the time-outs.
struct FakeClock {
    std::int64_t ms = 0;
    CalibrationEngine::Clock clock()
    {
        return [this] { return ms; };
    }
};

// An engine that has just run the request's sequence.
void runRequest(CalibrationEngine& e, Q request)
{
    e.raiseRequest(request);
    tick(e);
}

Bytes frame(std::uint8_t code)
{
    return {0x00, 0x00, 0xAA, 0x00, 0xAA, code, 0x00};
}

}  // namespace

TEST(CalEngine, SequenceOfEveryRequest)
{
    using T = std::vector<std::string>;
    const T startSequence = {"wait 50", "send PowerOn 200", "send Config 100", "send 0D 100", "send 16 100",
                             "send 1D 100", "read StartAck"};
    struct Case {
        Q request;
        T trace;
    };
    const Case cases[] = {
        {Q::Wake,
         {"wait 50", "send PowerOff 500", "send Config 100", "send Stop 20", "drain 100", "send 16 20",
          "send Dash 100", "send 1D 20", "send PowerOn 50", "read Wake"}},
        {Q::AirCal, {"wait 100", "send I 20", "read AirI"}},
        {Q::AirP, {"wait 100", "send P 20", "read AirP"}},
        {Q::Zero2, {"wait 100", "send CoarseEcc 100", "read Zero2"}},
        {Q::B1B2, {"wait 100", "send CoarseAdc 100", "read BFirst"}},
        {Q::Info2, {"wait 100", "send 16 100", "send Info2 100", "read Info2"}},
        {Q::Start, startSequence},
        {Q::Restart, startSequence},
        {Q::ConfigWrite, {"send Param 100", "send Equals 100", "read ConfigAck"}},
        {Q::CoarseEccentricity,
         {"send 16 100", "read StartAck", "wait 100", "lower StartAck", "send CoarseEcc 100", "read CoarseEcc"}},
        {Q::FineAdc, {"send 16 100", "read StartAck", "wait 100", "lower StartAck", "send FineAdc 50", "read FineAdc"}},
        {Q::CoarseAdc,
         {"send 16 100", "read StartAck", "wait 100", "lower StartAck", "send CoarseAdc 100", "read CoarseAdc"}},
        {Q::FineRadius,
         {"send 16 100", "read StartAck", "wait 100", "lower StartAck", "send FineRadius 100", "read FineRadius"}},
        {Q::Zero1, {"send 16 50", "read StartAck", "wait 100", "lower StartAck", "send ZeroAlign 100", "read Zero1"}},
        {Q::Info1, {"wait 50", "send 0D 100", "send 16 100", "send Info 100", "read Info1"}},
    };
    for (const Case& c : cases) {
        CalibrationEngine e;
        e.open();
        e.raiseRequest(c.request);
        EXPECT_EQ(tick(e), c.trace) << static_cast<int>(c.request);
        EXPECT_FALSE(e.requested(c.request));
        // The request is consumed: the next tick is idle.
        EXPECT_TRUE(tick(e).empty()) << static_cast<int>(c.request);
    }
    // The table lists every request once, in the order ticks test them.
    ASSERT_EQ(calSequenceTable().size(), 14u);
    EXPECT_EQ(calSequenceTable().front().request, Q::Wake);
    EXPECT_EQ(calSequenceTable().back().request, Q::Info1);
}

TEST(CalEngine, SeveralRowsInOneTickAndWhatTheyClear)
{
    // Wake and air calibration together: the air row abandons the wake's wait.
    CalibrationEngine e;
    e.raiseRequest(Q::AirCal);
    e.raiseRequest(Q::Wake);
    const std::vector<std::string> trace = tick(e);
    ASSERT_EQ(trace.size(), 13u);
    EXPECT_EQ(trace[9], "read Wake");
    EXPECT_EQ(trace[12], "read AirI");
    EXPECT_EQ(waitsUp(e), std::vector<W>{W::AirI});

    // B1/B2 abandons a pending zero alignment and its request.
    CalibrationEngine b;
    runRequest(b, Q::Zero2);
    EXPECT_EQ(waitsUp(b), std::vector<W>{W::Zero2});
    b.raiseRequest(Q::B1B2);
    tick(b);
    EXPECT_EQ(waitsUp(b), std::vector<W>{W::BFirst});

    // An encoder-1 step abandons encoder-1 waits and results but not encoder 2's.
    CalibrationEngine c;
    runRequest(c, Q::Zero2);
    c.applyReply(0x35);  // Zero2Ok
    runRequest(c, Q::Info2);
    runRequest(c, Q::Zero1);
    EXPECT_EQ(waitsUp(c), (std::vector<W>{W::Zero1, W::Info2}));
    EXPECT_TRUE(c.resultRaised(R::Zero2Ok));

    // Which requests drop an earlier encoder-1 result.
    const struct {
        Q request;
        bool drops;
    } resultClears[] = {{Q::Start, true},       {Q::Wake, true},       {Q::CoarseEccentricity, true},
                        {Q::FineAdc, true},     {Q::CoarseAdc, true},  {Q::FineRadius, true},
                        {Q::Zero1, true},       {Q::Info1, false},     {Q::Info2, false},
                        {Q::AirCal, false},     {Q::Zero2, false},     {Q::ConfigWrite, false}};
    for (const auto& c : resultClears) {
        CalibrationEngine r;
        runRequest(r, Q::Zero1);
        r.applyReply(0xC1);
        runRequest(r, c.request);
        EXPECT_EQ(r.resultRaised(R::Zero1Ok), !c.drops) << static_cast<int>(c.request);
    }

    // The wake sequence drops encoder-1 results and a pending start.
    CalibrationEngine d;
    runRequest(d, Q::CoarseAdc);
    d.applyReply(0xA2);
    EXPECT_TRUE(d.resultRaised(R::CoarseAdcOk));
    d.raiseRequest(Q::Restart);
    d.raiseRequest(Q::Wake);
    EXPECT_EQ(tick(d).back(), "read Wake");  // the start row does not run
    EXPECT_FALSE(d.resultRaised(R::CoarseAdcOk));
    EXPECT_FALSE(d.requested(Q::Restart));
}

TEST(CalEngine, ReplyCodes)
{
    struct Case {
        const char* what;
        Q request;                   // runs the sequence that raises the wait
        std::vector<std::uint8_t> codes;
        std::vector<W> waitsAfter;
        std::vector<R> results;      // raised, in addition to none
        std::vector<Q> requests;     // raised follow-ups
        bool endReader;              // after the last code
    };
    const Case cases[] = {
        {"':' after the start sequence asks for the configuration", Q::Start, {0x3A}, {}, {}, {Q::ConfigWrite}, true},
        {"start sequence ignores other codes", Q::Start, {0x39, 0xB3}, {W::StartAck}, {}, {}, false},
        {"wake, then its second stage", Q::Wake, {0x3A}, {W::Wake2}, {R::WakeOk}, {}, false},
        {"wake complete", Q::Wake, {0x3A, 0xB3}, {}, {R::WakeOk, R::Wake2Ok}, {}, true},
        {"'I' asks for the 'P' packet", Q::AirCal, {0x49}, {}, {}, {Q::AirP}, true},
        {"'P' completes the air calibration", Q::AirP, {0x50}, {}, {R::AirOk}, {}, true},
        {"zero 2 ok", Q::Zero2, {0x35}, {}, {R::Zero2Ok}, {}, true},
        {"zero 2 failed", Q::Zero2, {0x1E}, {}, {R::Zero2Failed}, {}, true},
        {"zero 2 ignores others", Q::Zero2, {0x22}, {W::Zero2}, {}, {}, false},
        // The code that raises the second B wait goes on to its row and
        // lowers it again: one reply ends the step, a later one finds no wait.
        {"B1 ends the step at once", Q::B1B2, {0xB1}, {}, {R::B1Ok}, {}, true},
        {"B1 then a late B2", Q::B1B2, {0xB1, 0xB2}, {}, {R::B1Ok}, {}, true},
        {"B2 first, then a late failure", Q::B1B2, {0xB2, 0x5A}, {}, {R::B2Ok}, {}, true},
        {"first B fails", Q::B1B2, {0x5A}, {}, {R::B1Failed}, {}, true},
        {"coarse eccentricity", Q::CoarseEccentricity, {0xB3}, {}, {R::CoarseEccOk}, {}, true},
        {"coarse ADC ok", Q::CoarseAdc, {0xA2}, {}, {R::CoarseAdcOk}, {}, true},
        {"coarse ADC failed", Q::CoarseAdc, {0x22}, {}, {R::CoarseAdcFailed}, {}, true},
        {"coarse ADC ignores the fine ADC's code", Q::CoarseAdc, {0xA1}, {W::CoarseAdc}, {}, {}, false},
        {"fine ADC ok", Q::FineAdc, {0xA1}, {}, {R::FineAdcOk}, {}, true},
        {"fine ADC failed", Q::FineAdc, {0x22}, {}, {R::FineAdcFailed}, {}, true},
        {"fine radius ok", Q::FineRadius, {0xB2}, {}, {R::FineRadiusOk}, {}, true},
        {"fine radius 0x22: both results, still waiting", Q::FineRadius, {0x22}, {W::FineRadius},
         {R::FineRadiusOk, R::FineRadiusFailed}, {}, false},
        {"zero 1", Q::Zero1, {0xC1}, {}, {R::Zero1Ok}, {}, true},
        {"zero 1 ignores ':' after its window", Q::Zero1, {0x3A}, {W::Zero1}, {}, {}, false},
    };
    for (const Case& c : cases) {
        CalibrationEngine e;
        runRequest(e, c.request);
        CalReplyOutcome out;
        for (std::uint8_t code : c.codes)
            out = e.takeTransfer(frame(code));
        EXPECT_EQ(out.item, CalReplyOutcome::Item::Reply) << c.what;
        EXPECT_EQ(waitsUp(e), c.waitsAfter) << c.what;
        for (int i = 0; i < static_cast<int>(R::Count); ++i) {
            const R r = static_cast<R>(i);
            const bool expected = std::find(c.results.begin(), c.results.end(), r) != c.results.end();
            EXPECT_EQ(e.resultRaised(r), expected) << c.what << ": result " << i;
        }
        for (Q q : {Q::ConfigWrite, Q::AirP, Q::Restart})
            EXPECT_EQ(e.requested(q), std::find(c.requests.begin(), c.requests.end(), q) != c.requests.end())
                << c.what;
        EXPECT_EQ(out.endReader, c.endReader) << c.what;
    }
}

TEST(CalEngine, OnlyAFrameCountsAndOnlyTheFirstOfATransfer)
{
    CalibrationEngine e;
    runRequest(e, Q::Start);
    // AA 00 00 3A is no frame.
    CalReplyOutcome out = e.takeTransfer(Bytes{0xAA, 0x00, 0x00, 0x3A});
    EXPECT_EQ(out.item, CalReplyOutcome::Item::Nothing);
    EXPECT_TRUE(e.waiting(W::StartAck));
    EXPECT_FALSE(out.endReader);
    // The first frame of a transfer is the one that counts.
    out = e.takeTransfer(Bytes{0xAA, 0x01, 0xAA, 0x39, 0xAA, 0x00, 0xAA, 0x3A});
    EXPECT_EQ(out.code, 0x39);
    EXPECT_TRUE(e.waiting(W::StartAck));
    // 00 00 AA 00 AA 3A triggers the configuration write at the next tick.
    e.takeTransfer(frame(0x3A));
    EXPECT_EQ(tick(e), (std::vector<std::string>{"send Param 100", "send Equals 100", "read ConfigAck"}));
}

TEST(CalEngine, StartHandshakeNeedsTwoAcknowledgements)
{
    CalibrationEngine e;
    e.open();
    runRequest(e, Q::Start);
    e.takeTransfer(frame(0x3A));
    tick(e);  // configuration write
    ASSERT_TRUE(e.waiting(W::ConfigAck));

    // First 0x39: the reader ends and the whole start sequence runs again.
    CalReplyOutcome out = e.takeTransfer(frame(0x39));
    EXPECT_TRUE(out.endReader);
    EXPECT_EQ(e.configAckCount(), 1);
    EXPECT_FALSE(e.resultRaised(R::StartOk));
    EXPECT_EQ(tick(e).size(), 7u);
    EXPECT_TRUE(e.waiting(W::StartAck));

    e.takeTransfer(frame(0x3A));
    tick(e);
    out = e.takeTransfer(frame(0x39));
    EXPECT_TRUE(e.resultRaised(R::StartOk));
    EXPECT_EQ(e.configAckCount(), 0);
    EXPECT_TRUE(waitsUp(e).empty());
    EXPECT_TRUE(out.endReader);
    EXPECT_TRUE(tick(e).empty());
}

TEST(CalEngine, APressOfStartKeepsTheAcknowledgementCount)
{
    CalibrationEngine e;
    runRequest(e, Q::Start);
    e.takeTransfer(frame(0x3A));
    tick(e);
    e.takeTransfer(frame(0x39));
    ASSERT_EQ(e.configAckCount(), 1);
    // The operator presses "启动校准" again before the restart ran: the
    // count stands, so the next acknowledgement is the second.
    e.raiseRequest(Q::Start);
    tick(e);
    e.takeTransfer(frame(0x3A));
    tick(e);
    e.takeTransfer(frame(0x39));
    EXPECT_TRUE(e.resultRaised(R::StartOk));
    EXPECT_FALSE(e.requested(Q::Restart));
    EXPECT_EQ(e.configAckCount(), 0);
}

TEST(CalEngine, ConfigAcknowledgementWaitShadowsTheStepWaits)
{
    CalibrationEngine e;
    runRequest(e, Q::CoarseEccentricity);
    runRequest(e, Q::ConfigWrite);
    EXPECT_EQ(waitsUp(e), (std::vector<W>{W::ConfigAck, W::CoarseEcc}));
    e.takeTransfer(frame(0xB3));
    EXPECT_FALSE(e.resultRaised(R::CoarseEccOk));
    e.takeTransfer(frame(0x39));
    e.takeTransfer(frame(0xB3));
    EXPECT_TRUE(e.resultRaised(R::CoarseEccOk));
}

TEST(CalEngine, ColonInAStepsWindowWritesTheConfigurationAgain)
{
    CalibrationEngine e;
    e.raiseRequest(Q::FineAdc);
    e.beginTick();
    std::vector<std::string> trace;
    while (const std::optional<CalStep> s = e.nextStep()) {
        trace.push_back(describe(*s));
        if (s->kind == CalStep::Kind::Read && s->wait == W::StartAck)
            e.takeTransfer(frame(0x3A));  // arrives during the 100 ms window
    }
    EXPECT_EQ(trace.back(), "read FineAdc");
    EXPECT_EQ(waitsUp(e), std::vector<W>{W::FineAdc});
    EXPECT_EQ(tick(e).front(), "send Param 100");
    EXPECT_EQ(waitsUp(e), (std::vector<W>{W::ConfigAck, W::FineAdc}));
}

TEST(CalEngine, InformationRecords)
{
    // Encoder 2: one tag per transfer; tag 32 completes the record.
    CalibrationEngine e;
    runRequest(e, Q::Info2);
    const std::uint8_t b1[] = {0x40, 0x00, 0x00, 0x00};
    for (int tag = 1; tag <= 32; ++tag) {
        const std::uint8_t value = tag >= 21 && tag <= 24 ? b1[tag - 21] : tag <= 4 ? (tag < 4 ? 0xFF : 0xFE) : 0;
        // A reply frame in front does not count while a record is read.
        const CalReplyOutcome out = e.takeTransfer(Bytes{0x00, 0xAA, static_cast<std::uint8_t>(tag), value});
        EXPECT_EQ(out.item, CalReplyOutcome::Item::Tag);
        EXPECT_EQ(out.endReader, tag == 32) << tag;
    }
    EXPECT_TRUE(e.takeResult(R::Info2Ready));
    EXPECT_FALSE(e.takeResult(R::Info2Ready));
    EXPECT_EQ(e.info2Texts().b1Angle, "90.000   ");
    EXPECT_EQ(e.info2Texts().coarseSin, "-2   ");
    EXPECT_TRUE(waitsUp(e).empty());

    // Encoder 1 with a radius of 0: a defined text instead of inf or nan.
    CalibrationEngine one;
    runRequest(one, Q::Info1);
    for (int tag = 1; tag <= 52; ++tag) {
        const std::uint8_t value = tag == 36 ? 5 : 0;
        one.takeTransfer(Bytes{static_cast<std::uint8_t>(tag), value});
    }
    ASSERT_TRUE(one.takeResult(R::Info1Ready));
    EXPECT_EQ(one.info1Texts().fineRadius, "0   ");
    EXPECT_EQ(one.info1Texts().fineSin, "5   ");
    EXPECT_EQ(one.info1Texts().eccentricitySin, "---   ");
    EXPECT_EQ(one.info1Texts().eccentricityCos, "---   ");

    // Tag 33 belongs to information 1 only; 53 to neither.
    CalibrationEngine two;
    runRequest(two, Q::Info2);
    EXPECT_EQ(two.takeTransfer(Bytes{53, 33, 0x10}).item, CalReplyOutcome::Item::Nothing);
}

TEST(CalEngine, UnansweredWaitsTimeOutIntoTheirFailures)
{
    struct Case {
        Q request;
        std::vector<std::uint8_t> codes;  // replies before the silence
        int limitMs;
        R failure;
    };
    const Case cases[] = {
        {Q::Start, {}, 5000, R::StartFailed},
        {Q::CoarseEccentricity, {}, 5000, R::CoarseEccFailed},
        {Q::FineAdc, {}, 5000, R::FineAdcFailed},
        {Q::Zero1, {}, 5000, R::Zero1Failed},
        {Q::Info1, {}, 5000, R::Info1Failed},
        {Q::Wake, {}, 5000, R::WakeFailed},
        {Q::Wake, {0x3A}, 60000, R::Wake2Failed},
        {Q::AirCal, {}, 5000, R::AirFailed},
        {Q::Zero2, {}, 5000, R::Zero2Failed},
        {Q::B1B2, {}, 60000, R::B1Failed},
        {Q::Info2, {}, 5000, R::Info2Failed},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        CalibrationEngine e(clock.clock());
        clock.ms = 1000;
        runRequest(e, c.request);
        for (std::uint8_t code : c.codes)
            e.takeTransfer(frame(code));  // a chained wait starts its own time-out here
        clock.ms = 1000 + c.limitMs - 1;
        EXPECT_TRUE(e.expireOverdue().empty()) << static_cast<int>(c.request);
        EXPECT_TRUE(e.awaitingReply());
        clock.ms = 1000 + c.limitMs;
        EXPECT_EQ(e.expireOverdue().size(), 1u) << static_cast<int>(c.request);
        EXPECT_FALSE(e.awaitingReply());
        EXPECT_TRUE(e.takeResult(c.failure)) << static_cast<int>(c.request);
    }
}

TEST(CalEngine, ARecordTimesOutOnlyWhenItsTagsStopAndKeepsALostTagsValue)
{
    FakeClock clock;
    CalibrationEngine e(clock.clock());
    const auto tag = [](int t, std::uint8_t v) { return Bytes{static_cast<std::uint8_t>(t), v}; };
    // Record 1: every tag, coarse sin t1..t4 = FF FF FF FE (-2).
    runRequest(e, Q::Info2);
    for (int t = 1; t <= 32; ++t)
        e.takeTransfer(tag(t, t <= 3 ? 0xFF : t == 4 ? 0xFE : 0));
    ASSERT_TRUE(e.takeResult(R::Info2Ready));
    ASSERT_EQ(e.info2Texts().coarseSin, "-2   ");

    // Record 2 comes slowly, a tag every 2 s (the limit is 5 s, the record
    // takes 64 s), and tag 4 is lost on the way: t4 keeps record 1's value.
    runRequest(e, Q::Info2);
    for (int t = 1; t <= 32; ++t) {
        clock.ms += 2000;
        EXPECT_TRUE(e.expireOverdue().empty()) << "tag " << t;
        if (t != 4)
            e.takeTransfer(tag(t, t <= 3 ? 0x00 : 0));
    }
    ASSERT_TRUE(e.takeResult(R::Info2Ready));
    EXPECT_EQ(e.info2Texts().coarseSin, "254   ");  // 00 00 00 FE

    // Silence after a tag: the time-out counts from that tag.
    runRequest(e, Q::Info2);
    clock.ms += 3000;
    e.takeTransfer(tag(1, 0));
    clock.ms += 4999;
    EXPECT_TRUE(e.expireOverdue().empty());
    clock.ms += 1;
    EXPECT_EQ(e.expireOverdue(), std::vector<W>{W::Info2});
    EXPECT_TRUE(e.takeResult(R::Info2Failed));
}

TEST(CalEngine, ClosingStopAllAndOpening)
{
    CalibrationEngine e;
    e.open();
    runRequest(e, Q::AirCal);
    e.takeTransfer(frame(0x49));  // 'P' pending
    e.raiseRequest(Q::FineRadius);
    e.close();
    // Closing mid-step leaves nothing awaited and no 'P' pending.
    EXPECT_FALSE(e.awaitingReply());
    EXPECT_FALSE(e.requested(Q::AirP));
    EXPECT_FALSE(e.requested(Q::FineRadius));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tick(e), (std::vector<std::string>{"send 16 80", "show"}));
    // A late reply changes nothing.
    e.takeTransfer(frame(0x50));
    EXPECT_FALSE(e.resultRaised(R::AirOk));

    // Opening again: back to idle, results and acknowledgements cleared.
    runRequest(e, Q::Zero2);  // ignored while closed
    e.open();
    EXPECT_TRUE(tick(e).empty());

    // Stop-all lowers waits and requests but leaves results for the dialog.
    runRequest(e, Q::Zero2);
    e.takeTransfer(frame(0x35));
    runRequest(e, Q::B1B2);
    e.raiseRequest(Q::Info1);
    e.stopAll();
    EXPECT_FALSE(e.awaitingReply());
    EXPECT_FALSE(e.requested(Q::Info1));
    EXPECT_TRUE(e.takeResult(R::Zero2Ok));
    EXPECT_TRUE(tick(e).empty());
}

TEST(CalAccess, CodeCheck)
{
    const struct {
        const char* typed;
        bool granted;
        const char* message;
    } cases[] = {
        {"482", true, ""},          {"482 ", false, "密码输入错误"}, {" 482", false, "密码输入错误"},
        {"", false, "密码不能为空"}, {"483", false, "密码输入错误"},  {"4820", false, "密码输入错误"},
    };
    for (const auto& c : cases) {
        const CalAccessCheck check = checkCalibrationAccessCode(QString::fromUtf8(c.typed));
        EXPECT_EQ(check.granted, c.granted) << c.typed;
        EXPECT_EQ(check.message, QString::fromUtf8(c.message)) << c.typed;
    }
}

TEST(CalAccess, CalibParamFromTheCombos)
{
    const struct {
        const char* direction;
        const char* polePairs;
        const char* carrier;
        int param;
    } cases[] = {
        {"    O", "  无UVW信号", "    25K", 4},      {"    N", "  十对极", "    25K", 204},
        {"    O", "  八对极", "    31.25k", 64},    {"    O", "  十六对极", "    31.25k", 80},
        {"    N", "  一对极", "    31.25k", 136},   {"    O", "  六对极", "    25K", 52},
    };
    const auto indexOf = [](std::span<const CalComboItem> items, const char* text) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (std::string(items[i].text) == text)
                return static_cast<int>(i);
        }
        return -1;
    };
    for (const auto& c : cases) {
        const int d = indexOf(calDirectionItems(), c.direction);
        const int p = indexOf(calPolePairItems(), c.polePairs);
        const int f = indexOf(calCarrierItems(), c.carrier);
        ASSERT_TRUE(d >= 0 && p >= 0 && f >= 0) << c.polePairs;
        EXPECT_EQ(calibParamOfSelection(d, p, f), c.param) << c.direction << c.polePairs << c.carrier;
    }
    EXPECT_EQ(calibParamOfSelection(0, 0, 0), kInitialCalibParam);
    EXPECT_EQ(calibParamOfSelection(-1, 99, -1), kInitialCalibParam);
    EXPECT_EQ(calPolePairItems().size(), 10u);
    EXPECT_EQ(calPolePairItems()[7].code, 8);  // there is no seven
}
