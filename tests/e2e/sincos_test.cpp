// "sincos test" on the simulated sin/cos encoder: the analysis dialog's
// fields after a fit, the swing and Z rules, the count, the guards, and how
// the test ends.
#include "bench/sincos_test.h"
#include "bench/timers.h"
#include "common/clock.h"
#include "support/bench/sim_bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using Log = std::vector<std::string>;

constexpr int kSingleTurnBits = 17;

// Generous: a loaded machine stretches bench time; a pass returns at once.
RecordingSinCosView& dialog(SimBench& b)
{
    return b.view.dialogs().sinCos();
}

QString field(SimBench& b, SinCosField f)
{
    return dialog(b).field(f);
}

// A turning sin/cos encoder: 1600 samples span `periods` signal periods.
void setEncoder(SimBench& b, const SinCosShape& shape, double periods = 2.0)
{
    EncoderModel& e = b.box->encoder();
    e.setResolution(kSingleTurnBits, 15, 2);
    e.setSinCos(shape);
    e.setSpeedRpm(sinCosRpmForPeriods(periods, kSinCosShownSamples, b.box->samplePeriodMicros(),
                                      shape.periodsPerTurn));
}

// Settings that take with the sin/cos protocol start the test.
void startTest(SimBench& b)
{
    b.chooseProtocol("sin_cosine");
    ASSERT_TRUE(b.configure());
    ASSERT_TRUE(b.bench->context().view.dialogs().isDialogOpen(DialogKind::SinCos));
}

// One capture cycle of timer 2, then the dialog's refresh until it shows
// the new samples.
bool nextCapture(SimBench& b)
{
    const int before = dialog(b).tracesShown();
    b.bench->onTimer(kTimerSinCos);
    return waitFor([&] {
        b.bench->onSinCosRefresh();
        return dialog(b).tracesShown() > before;
    }, 20000);
}

double volts(const QString& text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? v : std::nan("");
}

// Volts of the 8-bit ADC code the box reads for `v`.
double adcVolts(double v)
{
    return std::floor(v * 256.0 / 5.0) * 5.0 / 256.0;
}

}  // namespace

// --- fits ---------------------------------------------------------------

struct FitCase {
    const char* what;
    SinCosShape shape;
    // Expected, each pair under its own track's names.
    double cosPlusOffset, sinPlusOffset, cosMinusOffset, sinMinusOffset;
    double cosPeakToPeak, sinPeakToPeak;
    double phase;
};

void PrintTo(const FitCase& c, std::ostream* os)
{
    *os << c.what;
}

SinCosShape shape(double cosOffset, double sinOffset, double cosAmp, double sinAmp, double phase,
                  double cosMinusOffset, double sinMinusOffset)
{
    SinCosShape s;
    s.cosPlusOffset = cosOffset;
    s.sinPlusOffset = sinOffset;
    s.cosMinusOffset = cosMinusOffset;
    s.sinMinusOffset = sinMinusOffset;
    s.cosAmplitude = cosAmp;
    s.sinAmplitude = sinAmp;
    s.phaseDegrees = phase;
    return s;
}

class SinCosFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(SinCosFit, ShowsEachTracksOffsetPeakToPeakAndThePhase)
{
    const FitCase& c = GetParam();
    SimBench b;
    setEncoder(b, c.shape);
    startTest(b);
    EXPECT_EQ(field(b, SinCosField::CosPlusOffset), "xxx");
    ASSERT_TRUE(nextCapture(b));
    EXPECT_EQ(field(b, SinCosField::CosPlusOffset), "xxx") << "no fit before Collection";

    b.bench->onSinCosCollection();
    EXPECT_EQ(dialog(b).collectionCaption(), "Turning encoder");
    ASSERT_TRUE(nextCapture(b));
    EXPECT_EQ(dialog(b).collectionCaption(), "Collection") << "a fit disarms";

    const struct {
        SinCosField field;
        double expected, tolerance;
    } expects[] = {
        {SinCosField::CosPlusOffset, c.cosPlusOffset, 0.02},
        {SinCosField::SinPlusOffset, c.sinPlusOffset, 0.02},
        {SinCosField::CosPlusPeakToPeak, c.cosPeakToPeak, 0.02},
        {SinCosField::SinPlusPeakToPeak, c.sinPeakToPeak, 0.02},
        {SinCosField::PhasePlus, c.phase, 0.5},
        {SinCosField::CosMinusOffset, c.cosMinusOffset, 0.02},
        {SinCosField::SinMinusOffset, c.sinMinusOffset, 0.02},
        {SinCosField::CosMinusPeakToPeak, c.cosPeakToPeak, 0.02},
        {SinCosField::SinMinusPeakToPeak, c.sinPeakToPeak, 0.02},
        {SinCosField::PhaseMinus, c.phase, 0.5},
    };
    // The fit is kept as a result with the numbers the dialog shows.
    const TestReport r = b.lastReport("sincos");
    EXPECT_EQ(r.figures["plus"]["phase"].toDouble(), volts(field(b, SinCosField::PhasePlus)));
    EXPECT_EQ(r.figures["minus"]["cos_offset"].toDouble(), volts(field(b, SinCosField::CosMinusOffset)));
    for (const auto& e : expects) {
        const QString text = field(b, e.field);
        EXPECT_NEAR(volts(text), e.expected, e.tolerance) << "field " << int(e.field) << ": " << text.toStdString();
        EXPECT_TRUE(text.contains('.') && text.size() - text.indexOf('.') == 4) << "three decimals: "
                                                                               << text.toStdString();
    }
}

const double kPhaseOfRatio06 = 2.0 * std::atan(0.6) * 180.0 / 3.1415926;

INSTANTIATE_TEST_SUITE_P(
    Cases, SinCosFit,
    ::testing::Values(
        FitCase{"circle about 2.5 V", shape(2.5, 2.5, 1.0, 1.0, 90, 2.5, 2.5), 2.5, 2.5, 2.5, 2.5, 2.0, 2.0, 90.0},
        FitCase{"axis-aligned ellipse", shape(2.5, 2.5, 1.0, 0.5, 90, 2.5, 2.5), 2.5, 2.5, 2.5, 2.5, 2.0, 1.0,
                53.130},
        // c = 2 + cos θ, s = 3 + sin(θ − 30°): cos leads sin by 120°.
        FitCase{"tilted ellipse", shape(2.0, 3.0, 1.0, 1.0, 120, 2.0, 3.0), 2.0, 3.0, 2.0, 3.0, 2.0, 2.0, 60.0},
        // Each field under its own track: COS+ 2.300 / 2.000, SIN+ 2.700 / 1.200.
        FitCase{"offsets and swings of their own", shape(2.3, 2.7, 1.0, 0.6, 90, 2.7, 2.3), 2.3, 2.7, 2.7, 2.3,
                2.0, 1.2, kPhaseOfRatio06}));

TEST(SinCosTest, TheIssuesEncoderShowsItsOwnNumbersUnderEachTrack)
{
    SimBench b;
    setEncoder(b, shape(2.3, 2.7, 1.0, 0.6, 90, 2.3, 2.7));
    startTest(b);
    b.bench->onSinCosCollection();
    ASSERT_TRUE(nextCapture(b));
    // Within the ADC's resolution: the floor of each code puts a centre up
    // to a count (0.02 V) low.
    EXPECT_NEAR(volts(field(b, SinCosField::CosPlusOffset)), 2.3, 0.02);
    EXPECT_NEAR(volts(field(b, SinCosField::SinPlusOffset)), 2.7, 0.02);
    EXPECT_NEAR(volts(field(b, SinCosField::CosPlusPeakToPeak)), 2.0, 0.02);
    EXPECT_NEAR(volts(field(b, SinCosField::SinPlusPeakToPeak)), 1.2, 0.02);
}

// --- no fit, Z, count ---------------------------------------------------------

TEST(SinCosTest, AFlatSignalNeverFitsAndTheCountIsTheRecordsPosition)
{
    SimBench b;
    EncoderModel& e = b.box->encoder();
    e.setResolution(kSingleTurnBits, 15, 2);
    e.setSinCos(SinCosShape{});
    e.setSpeedRpm(0);
    // 2048 periods a turn, 4 counts a period: the count is the position / 16.
    // 67079 = 0x010607: bytes 6, 7 and 9 of each record read 06, 07, 01.
    e.setPositionCounts(67079LL * 16);
    startTest(b);
    b.bench->onSinCosCollection();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(nextCapture(b));
    EXPECT_EQ(field(b, SinCosField::Count), "67079");
    for (SinCosField f : {SinCosField::CosPlusOffset, SinCosField::SinPlusPeakToPeak, SinCosField::PhasePlus,
                          SinCosField::PhaseMinus, SinCosField::ZPlusOffset, SinCosField::ZMinusPeakToPeak})
        EXPECT_EQ(field(b, f), "xxx") << int(f);
    EXPECT_EQ(dialog(b).collectionCaption(), "Turning encoder") << "still armed";
}

TEST(SinCosTest, ZIsShownOnlyWhileItSwingsAQuarterVolt)
{
    struct Case {
        double zAmplitude;
        bool shown;
    };
    for (const Case& c : {Case{0.1, false}, Case{2.0, true}}) {
        SimBench b;
        SinCosShape s;
        s.periodsPerTurn = 2;  // an index pulse in every transfer
        s.zAmplitude = c.zAmplitude;
        setEncoder(b, s);
        startTest(b);
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(nextCapture(b));
        const double hi = adcVolts(s.zOffset + s.zAmplitude), lo = adcVolts(s.zOffset - s.zAmplitude);
        const QString offset = c.shown ? QString::asprintf("%.3f", (hi + lo) / 2) : "xxx";
        const QString swing = c.shown ? QString::asprintf("%.3f", hi - lo) : "xxx";
        EXPECT_EQ(field(b, SinCosField::ZPlusOffset), offset) << c.zAmplitude;
        EXPECT_EQ(field(b, SinCosField::ZPlusPeakToPeak), swing) << c.zAmplitude;
        EXPECT_EQ(field(b, SinCosField::ZMinusOffset), offset) << c.zAmplitude;
        EXPECT_EQ(field(b, SinCosField::ZMinusPeakToPeak), swing) << c.zAmplitude;
    }
}

// --- guards -------------------------------------------------------------------

TEST(SinCosTest, Guards)
{
    SimBench b;
    b.bench->onCommand(Command::SincosTest);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgSetConfiguration});
    b.view.clearMessages();

    // Another protocol.
    ASSERT_TRUE(b.configure());
    b.bench->onCommand(Command::SincosTest);
    EXPECT_EQ(b.view.messages(), QStringList{kMsgOnlySinCos});
    b.view.clearMessages();

    // While "Read data" runs: nothing, not even a message.
    b.bench->onCommand(Command::ReadData);
    b.settle();
    b.clearPackets();
    b.bench->onCommand(Command::SincosTest);
    EXPECT_TRUE(b.view.messages().isEmpty());
    EXPECT_FALSE(b.view.timerRunning(kTimerSinCos));
    EXPECT_EQ(b.view.dialogs().opens(DialogKind::SinCos), 0);
    EXPECT_TRUE(b.packetLog().empty());
    b.bench->onCommand(Command::ReadData);
}

// --- start, cycle, end ----------------------------------------------------------

TEST(SinCosTest, BackToHomeEndsTheTestAtTheNextCycleFiveTimesOver)
{
    SimBench b;
    setEncoder(b, SinCosShape{});
    startTest(b);
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE(round);
        if (round > 1)
            b.bench->onCommand(Command::SincosTest);
        EXPECT_TRUE(b.view.dialogs().isDialogOpen(DialogKind::SinCos));
        EXPECT_TRUE(b.view.dialogs().mainWindowHidden());
        EXPECT_TRUE(b.view.timerRunning(kTimerSinCos));
        EXPECT_EQ(b.view.timerPeriod(kTimerSinCos), 350);
        EXPECT_EQ(b.view.controls().text(Control::SincosTest), "Spot_sincos");
        EXPECT_EQ(field(b, SinCosField::SinPlusOffset), "xxx");

        b.settle();
        b.clearPackets();
        ASSERT_TRUE(nextCapture(b));
        // A cycle: stop, a drain read after the first cycle, stream.
        EXPECT_EQ(b.packetLog(), (Log{"6A", "7A"}));
        EXPECT_FALSE(field(b, SinCosField::Count).isEmpty());

        b.bench->onSinCosBackToHome();
        EXPECT_FALSE(b.view.dialogs().isDialogOpen(DialogKind::SinCos));
        EXPECT_TRUE(b.view.dialogs().mainWindowHidden()) << "until the next cycle";
        b.settle();
        b.clearPackets();
        b.bench->onTimer(kTimerSinCos);
        b.settle();
        EXPECT_EQ(b.packetLog(), (Log{"6A"}));
        EXPECT_FALSE(b.view.dialogs().mainWindowHidden());
        EXPECT_FALSE(b.view.timerRunning(kTimerSinCos));
        EXPECT_FALSE(b.state.link.flags.isUp(Flag::SincosActive));
        EXPECT_EQ(b.view.controls().text(Control::SincosTest), "sincos_test");
        EXPECT_EQ(b.view.controls().progress(Control::ResolutionProgress), 0);
        // Nothing left behind: no reader, no dialog, a tick of the timer does nothing.
        EXPECT_TRUE(waitFor([&] { return b.state.link.workers.runningCount() == 0; }, 20000));
        b.clearPackets();
        b.bench->onTimer(kTimerSinCos);
        b.settle();
        EXPECT_TRUE(b.packetLog().empty());
        EXPECT_TRUE(b.state.configApplied) << "the settings still hold";
    }
    EXPECT_EQ(b.view.dialogs().opens(DialogKind::SinCos), 5);
}

TEST(SinCosTest, WithoutAnInboundEndpointTheTestEndsAndTheMainWindowComesBack)
{
    SimBench b;
    setEncoder(b, SinCosShape{});
    startTest(b);
    b.state.link.inEndpoint.set(nullptr);
    b.bench->onTimer(kTimerSinCos);
    // Stop-all ran (from the reader): the settings must be applied again.
    EXPECT_TRUE(waitFor([&] { return !b.state.configApplied; }, 20000));
    EXPECT_FALSE(b.view.dialogs().mainWindowHidden());
    EXPECT_FALSE(b.view.dialogs().isDialogOpen(DialogKind::SinCos));
    EXPECT_FALSE(b.view.timerRunning(kTimerSinCos));
    EXPECT_FALSE(b.state.link.flags.isUp(Flag::SincosActive));
}

TEST(SinCosTest, StopAllWhileRunningClosesTheDialog)
{
    SimBench b;
    setEncoder(b, SinCosShape{});
    startTest(b);
    ASSERT_TRUE(nextCapture(b));
    b.bench->stopAll();
    EXPECT_FALSE(b.view.dialogs().isDialogOpen(DialogKind::SinCos));
    EXPECT_FALSE(b.view.dialogs().mainWindowHidden());
    EXPECT_EQ(b.view.controls().text(Control::SincosTest), "sincos test");
    // A refresh or a press that comes late changes nothing.
    b.bench->onSinCosCollection();
    b.bench->onSinCosRefresh();
    EXPECT_EQ(b.view.dialogs().opens(DialogKind::SinCos), 1);
}

TEST(SinCosTest, ChartsGetSamplesOnlyWhenATransferBroughtNewOnes)
{
    SimBench b;
    setEncoder(b, SinCosShape{});
    startTest(b);
    ASSERT_TRUE(nextCapture(b));
    const int shown = dialog(b).tracesShown();
    for (int i = 0; i < 10; ++i)
        b.bench->onSinCosRefresh();
    EXPECT_EQ(dialog(b).tracesShown(), shown);
    // The samples are the box's: SIN+ swings 1 V about 2.5 V.
    const auto traces = dialog(b).lastTraces();
    ASSERT_TRUE(traces);
    const auto& sinPlus = (*traces)[SinPlus];
    const auto [lo, hi] = std::minmax_element(sinPlus.begin(), sinPlus.end());
    EXPECT_NEAR(*hi, 3.5, 0.03);
    EXPECT_NEAR(*lo, 1.5, 0.03);
}

TEST(SinCos, AStalledEndpointIsAskedAgainAtTheWaitsPaceNotInALoop)
{
    SimBench b;
    setEncoder(b, SinCosShape{});
    startTest(b);
    b.bench->onSinCosCollection();
    b.box->setInStalled(true);
    // Three cycles of timer 2 (350 ms each): each cycle's reader asks at
    // most once per 50 ms wait while its cycle runs.
    const std::int64_t t0 = benchClock().nowMicros();
    for (int cycle = 0; cycle < 3; ++cycle) {
        b.bench->onTimer(kTimerSinCos);
        benchSleep(kTimerPeriodMs[kTimerSinCos]);
    }
    const double ms = static_cast<double>(benchClock().nowMicros() - t0) / 1000.0;
    const std::uint64_t asked = b.box->state().stalledInTransfers;
    EXPECT_GE(asked, 3u);
    // Paced: one per wait and one at each cycle's start, with the drain
    // reads of the cycles; a retry loop would make thousands (or, in
    // virtual time, never let the clock move on).
    EXPECT_LE(static_cast<double>(asked), ms / 50.0 + 3 * 4) << asked << " failed transfers in " << ms << " ms";
    b.box->setInStalled(false);
    b.bench->onSinCosBackToHome();
    b.bench->stopAll();
}
