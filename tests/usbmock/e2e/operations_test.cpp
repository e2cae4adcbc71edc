// Every operation once through the libusb backend, end to end: the bench as
// quillmark-tool drives it, libusb's asynchronous transfers, the emulated
// device's URBs and the simulated box's firmware. Each case checks what the
// box received and the operation's outcome and files.
#include "usb_bench.h"

#include "bench/commands.h"
#include "headless/box_runs.h"
#include "headless/tool_result.h"
#include "link/box_link.h"
#include "measure/accuracy_tracker.h"
#include "measure/capture_stream.h"
#include "support/read_file.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <algorithm>

namespace {

using Log = std::vector<std::string>;

// How much faster than real time the accuracy test runs once the box is set
// up. Sanitized code answers a transfer several times slower, the more so
// the faster the box streams in real time.
#ifdef QUILLMARK_INSTRUMENTED
constexpr double kAccuracySpeedUp = 1.5;
#else
constexpr double kAccuracySpeedUp = 3;
#endif

std::optional<Outcome> lastOutcome(const UsbBench& b, Operation op)
{
    const auto all = b.outcomes();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->operation == op)
            return *it;
    return std::nullopt;
}

bool anyPacketStartsWith(const UsbBench& b, std::initializer_list<std::uint8_t> header)
{
    const auto packets = b.box->receivedPackets();
    return std::any_of(packets.begin(), packets.end(), [&](const ReceivedPacket& p) { return p.startsWith(header); });
}

}  // namespace

TEST(UsbE2e, ConfigurationTakesAndTheBoxAnswersTheQuery)
{
    UsbBench b;
    b.choose("BISS");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    // The box took every packet whole, in order, and answered the 9A query
    // within the drain read's wait.
    EXPECT_EQ(b.packetLog(), (Log{"6A", "4D", "4A", "3A3A1201A161", "3A3A1200A161", "9A", "4A"}));
    for (const ReceivedPacket& p : b.box->receivedPackets())
        EXPECT_EQ(p.bytes.size(), 512u);
    EXPECT_TRUE(b.box->state().configured);
    const auto o = lastOutcome(b, Operation::Configure);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->passed);
    b.expectIdle();
}

TEST(UsbE2e, ReadingShowsNewValuesAndBothResetsReachTheEncoder)
{
    UsbBench b;
    b.choose("RS485");
    b.box->encoder().setPositionCounts((3 << 17) + 700);
    const ToolResult r = runRead(*b.hb, 5);
    ASSERT_EQ(r.status, kPass) << r.summary.toStdString();
    EXPECT_EQ(r.json["values"].toArray().size(), 5);
    // The box streamed (7A) while the reader took its 2048-byte transfers.
    const Log log = b.packetLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "7A"), log.end());

    // The reading's stop-all took the configuration back. The shaft stands
    // still, so the resets show.
    b.box->encoder().setSpeedRpm(0);
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    b.clearPackets();
    b.hb->run([](Bench& bench) { bench.onCommand(Command::ResetAngle); });
    b.hb->settle();
    EXPECT_TRUE(anyPacketStartsWith(b, {0xB1, 0xB1, 0xA1, 0xA1, 0xA1, 0xA1}));
    EXPECT_EQ(b.box->encoder().fields().position, 0u);
    b.hb->run([](Bench& bench) { bench.onCommand(Command::ResetMultiTurn); });
    b.hb->settle();
    EXPECT_TRUE(anyPacketStartsWith(b, {0xB2, 0xB2, 0xA2, 0xA2, 0xA2, 0xA2}));
    EXPECT_EQ(b.box->encoder().fields().turns, 0);
    b.expectIdle();
}

TEST(UsbE2e, CaptureFileEqualsTheBoxLogByteForByte)
{
    UsbBench b;
    b.choose("BISS");
    const QString target = b.file("capture.txt");
    const ToolResult r = runCapture(*b.hb, CaptureStart{2, target, false});
    ASSERT_EQ(r.status, kPass) << r.summary.toStdString();
    const auto o = lastOutcome(b, Operation::Capture);
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->as<CaptureResult>());
    EXPECT_EQ(o->as<CaptureResult>()->status, CaptureResult::Status::Ok);
    EXPECT_EQ(b.box->state().lostBytes, 0u);
    EXPECT_EQ(b.box->captureAcksSent(), 1u);
    const QByteArray file = readFile(target);
    // 8000 six-byte records a second: over a megabyte in 40960-byte transfers
    // of three URBs each, the last ended early by the stop's short packet.
    EXPECT_GE(file.size(), 2 * 8000 * 6 - kCaptureBlockBytes);
    EXPECT_EQ(file.size() % kCaptureBlockBytes, 0);
    ASSERT_EQ(file.size(), b.expectedCaptureFile().size());
    EXPECT_TRUE(file == b.expectedCaptureFile());
    const Log packets = b.packetLog();
    EXPECT_EQ(std::count(packets.begin(), packets.end(), "5A"), 1);
    EXPECT_EQ(packets.back(), "6A");
    b.expectIdle();
}

// 680 steps of 300 bench ms, 68 s (137 s sanitized). In each step the first
// transfer must come within 50 bench ms, or the sampler takes the box for
// silent and stops the test: 17 ms of real time at three times real time
// (33 ms at 1.5), where a step's transfer through umockdev took at most
// 2.7 ms on a quiet machine and 8.6 ms on a loaded one (5.3 ms sanitized,
// quiet). The sampler queues one transfer, and the motor turns at
// 0.4 rpm, so that a step that overran by a second of bench time still
// moves the shaft less than a jump.
TEST(UsbE2e, AccuracyTestPassesAFullTurn)
{
    UsbBench b;
    b.box->encoder().setSpeedRpm(0.4);
    b.choose("BISS", "2");
    ASSERT_EQ(runConfigure(*b.hb).status, kPass);
    b.clearPackets();
    b.speedUp(kAccuracySpeedUp);
    const ToolResult r = runAbsTestOnConfiguredBox(*b.hb);
    EXPECT_EQ(r.status, kPass) << r.summary.toStdString();
    EXPECT_EQ(r.json["verdict"].toString(), "pass");
    const auto o = lastOutcome(b, Operation::AbsTest);
    ASSERT_TRUE(o);
    const AccuracyResult* a = o->as<AccuracyResult>();
    ASSERT_TRUE(a) << endingName(o->ending).toStdString() << ": " << o->message.toStdString();
    EXPECT_TRUE(o->passed);
    EXPECT_TRUE(a->errors.empty());
    // A jump here is steps that went without a sample: which ones.
    for (std::size_t i = 1; i < a->trace.size(); ++i)
        if (a->trace[i].jump)
            ADD_FAILURE() << "jump from step " << a->trace[i - 1].step << " to " << a->trace[i].step << ": "
                          << a->trace[i - 1].angle << " to " << a->trace[i].angle << " degrees";
    // Each step powered the encoder on, stopped the stream and restarted it,
    // and nothing else went out (the tool's stop-all found the box stopped).
    const Log log = b.packetLog();
    ASSERT_EQ(log.size(), 3u * kAccuracySteps);
    for (std::size_t i = 0; i < log.size(); ++i)
        ASSERT_EQ(log[i], (Log{"4A", "6A", "7A"}[i % 3])) << "packet " << i;
    EXPECT_GT(a->travel, 300.0);
    b.expectIdle();
}

TEST(UsbE2e, ResolutionTestWalksItsOneLongTransfer)
{
    UsbBench b;
    b.choose("BISS");
    // 100000 records: one transfer of fifty 16 KiB URBs.
    const ToolResult r = runResolution(*b.hb, 100000, std::nullopt);
    ASSERT_EQ(r.status, kPass) << r.summary.toStdString();
    const auto o = lastOutcome(b, Operation::Resolution);
    ASSERT_TRUE(o);
    const ResolutionResult* v = o->as<ResolutionResult>();
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->complete);
    EXPECT_GT(v->value, 0);
    EXPECT_GT(v->records, 0);
    b.expectIdle();
}

TEST(UsbE2e, EepromWritePassesAndFailsAsTheEncoderKeepsTheByte)
{
    UsbBench b;
    b.choose("RS485");
    for (const auto& [behaviour, value, passes] :
         {std::tuple{EepromBehaviour::Store, 0x5C, true}, std::tuple{EepromBehaviour::Ignore, 0xA3, false}}) {
        b.box->encoder().setEepromBehaviour(behaviour);
        b.clearPackets();
        const ToolResult r = runEeprom(*b.hb, value);
        EXPECT_EQ(r.status == kPass, passes) << r.summary.toStdString();
        const auto o = lastOutcome(b, Operation::Eeprom);
        ASSERT_TRUE(o);
        ASSERT_TRUE(o->as<EepromResult>());
        EXPECT_EQ(o->as<EepromResult>()->verified, passes);
        EXPECT_EQ(o->as<EepromResult>()->value, value);
        EXPECT_TRUE(anyPacketStartsWith(b, {0xB4, 0xB4, 0xA4, 0xA4, 0xFF, static_cast<std::uint8_t>(value)}));
        EXPECT_TRUE(anyPacketStartsWith(b, {0xB5, 0xB5, 0xA5, 0xA5, 0xA5, 0xA5}));
    }
    b.expectIdle();
}

TEST(UsbE2e, SinCosAnalysisFitsTheSampleTransfers)
{
    UsbBench b;
    b.choose("sin_cosine");
    const ToolResult r = runSinCos(*b.hb, std::nullopt);
    ASSERT_EQ(r.status, kPass) << r.summary.toStdString();
    const auto o = lastOutcome(b, Operation::SinCos);
    ASSERT_TRUE(o);
    const SinCosResult* s = o->as<SinCosResult>();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->tracks);
    b.expectIdle();
}

TEST(UsbE2e, CalibrationStartSequencesAndAnInformationRecordOfBothEncoders)
{
    UsbBench b;
    b.choose("BISS");
    for (const auto& [kind, steps] :
         {std::pair{CalEncoderKind::CoarseFine, QStringList{"start", "info-1"}},
          std::pair{CalEncoderKind::Waking, QStringList{"wake", "info-2"}}}) {
        b.box->calibration().setKind(kind);
        b.clearPackets();
        const ToolResult r = runCalibration(*b.hb, CalibrationRun{QStringLiteral("482"), steps});
        EXPECT_EQ(r.status, kPass) << r.summary.toStdString();
        std::vector<QString> seen;
        for (const Outcome& o : b.outcomes())
            if (const CalibrationStepResult* c = o.as<CalibrationStepResult>()) {
                EXPECT_TRUE(c->ok) << c->step.toStdString();
                seen.push_back(c->step);
                if (c->step.startsWith("info")) {
                    EXPECT_FALSE(c->fields.empty()) << c->step.toStdString();
                }
            }
        for (const QString& step : steps)
            EXPECT_NE(std::find(seen.begin(), seen.end(), step), seen.end()) << step.toStdString();
    }
    b.expectIdle();
}

TEST(UsbE2e, ForceTestScoresAnAttempt)
{
    UsbBench b;
    b.choose("BISS");
    const ToolResult r = runForce(*b.hb, ForceRun{1.0, QString(), false}, false);
    ASSERT_EQ(r.status, kPass) << r.summary.toStdString();
    const auto o = lastOutcome(b, Operation::Force);
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->as<ForceResult>());
    EXPECT_TRUE(o->passed);
    b.expectIdle();
}
