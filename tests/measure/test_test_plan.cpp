// The test plan's file (what it accepts, and where it says a fault is) and
// its second verdict; the trace codec kept with each result.
#include "measure/accuracy_tracker.h"
#include "measure/result_trace.h"
#include "measure/test_plan.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const QByteArray kFullPlan = R"({
  "schema": 1,
  "abs-test": {"max_jumps": 1, "max_jump_deg": 20},
  "resolution": {"bits": 17},
  "sincos": {
    "cos_offset": {"nominal": 2.50, "tolerance": 0.10},
    "sin_pp": {"nominal": 1.00, "tolerance": 0.10},
    "phase": {"min": 89, "max": 91}
  },
  "eeprom": {"verified": true},
  "capture": {"nothing_dropped": true},
  "calibration": {}
}
)";

TestPlan plan(const QByteArray& text)
{
    const PlanParse p = parseTestPlan(text);
    EXPECT_TRUE(p.plan) << p.error.toStdString();
    return p.plan.value_or(TestPlan{});
}

QJsonObject pair(double cosOffset, double sinPp, double phase)
{
    return {{"cos_offset", cosOffset}, {"sin_offset", 2.5}, {"cos_pp", 1.0}, {"sin_pp", sinPp}, {"phase", phase}};
}

AccuracyTrace turnWithJumps(std::vector<std::pair<int, double>> jumps)
{
    AccuracyTrace t;
    double angle = 0;
    for (int step = 0; step < 680; ++step) {
        bool jump = false;
        for (auto [at, size] : jumps)
            if (at == step) {
                angle += size;
                jump = true;
            }
        t.points.push_back({step, std::fmod(angle, 360.0), jump});
        angle += 360.0 / 640;
    }
    return t;
}

}  // namespace

TEST(TestPlanFile, ReadsEverySectionAndWritesItBackTheSame)
{
    const TestPlan p = plan(kFullPlan);
    ASSERT_TRUE(p.accuracy && p.resolution && p.sincos);
    EXPECT_EQ(p.accuracy->maxJumps, 1);
    EXPECT_EQ(p.resolution->bits, 17);
    EXPECT_DOUBLE_EQ(p.sincos->cosOffset->min, 2.40);
    EXPECT_DOUBLE_EQ(p.sincos->cosOffset->max, 2.60);
    EXPECT_EQ(p.sincos->cosOffset->text(), "2.5 ± 0.1");
    EXPECT_EQ(p.sincos->phase->text(), "89 .. 91");
    EXPECT_FALSE(p.sincos->sinOffset);
    EXPECT_TRUE(p.eepromVerified && p.captureComplete && p.calibrationEveryStep) << "an empty section asks for it";
    for (const char* c : {"abs-test", "resolution", "sincos", "eeprom", "capture", "calibration"})
        EXPECT_TRUE(p.covers(c)) << c;
    EXPECT_FALSE(p.covers("read"));
    EXPECT_FALSE(p.covers("force"));

    QTemporaryDir dir;
    const QString path = dir.filePath("FileName.plan.json");
    ASSERT_EQ(writeTestPlanFile(path, p), "");
    const PlanParse back = readTestPlanFile(path);
    ASSERT_TRUE(back.plan) << back.error.toStdString();
    EXPECT_EQ(back.plan->toJson(), p.toJson());
    EXPECT_EQ(back.plan->name, "FileName");
}

TEST(TestPlanFile, AFaultIsNamedWithItsLine)
{
    struct Case {
        const char* text;
        const char* error;  // the message starts with it
    } cases[] = {
        {"{\n  \"schema\": 1,\n  \"abs-test\": {\"max_jumps\": 1,}\n}", "line 3, column"},
        {"{\n  \"schema\": 1,\n  \"eeprom\": {\"verfied\": true}\n}", "line 3: eeprom.verfied: unknown key"},
        {"{\n  \"schema\": 1,\n  \"resolution\": {\"min\": -4}\n}", "line 3: resolution.min: needs a whole number"},
        {"{\n  \"schema\": 1,\n  \"resolution\": {}\n}", "line 3: resolution: needs one of"},
        {"{\"schema\": 1,\n \"sincos\": {\n  \"phase\": {\"nominal\": 90}\n }}", "line 3: sincos.phase: needs \"nominal\" and"},
        {"{\"schema\": 1,\n \"sincos\": {\n  \"phase\": {\"min\": 91, \"max\": 89}}}", "line 3: sincos.phase: \"min\" is above"},
        {"{\"schema\": 1,\n \"sincos\": {\"cos_pp\":\n {\"nominal\": 1, \"tolerance\": -0.1}}}", "line 3: sincos.cos_pp.tolerance: cannot be negative"},
        {"{\"schema\": 1, \"abs-test\": {\"max_jump_deg\": 200}}", "line 1: abs-test.max_jump_deg: needs degrees"},
        {"{\n\"schema\": 2\n}", "line 2: schema: version 2 is newer"},
        {"{\n\"abs-test\": {}\n}", "line 1: \"schema\": 1 is missing"},
        {"[1, 2]", "line 1: a plan is one object"},
        {"", "line 1, column 1"},
    };
    for (const Case& c : cases) {
        const PlanParse p = parseTestPlan(c.text);
        EXPECT_FALSE(p.plan) << c.text;
        EXPECT_TRUE(p.error.startsWith(QLatin1String(c.error))) << c.text << "\n -> " << p.error.toStdString();
    }
    QTemporaryDir dir;
    const PlanParse missing = readTestPlanFile(dir.filePath("none.plan.json"));
    EXPECT_FALSE(missing.plan);
    EXPECT_TRUE(missing.error.contains("none.plan.json")) << missing.error.toStdString();
}

TEST(TestPlanVerdict, JudgesEachTestAgainstItsLimitsAloneBesideItsOwnVerdict)
{
    const TestPlan p = plan(kFullPlan);
    const QJsonObject noJump{{"verdict", "pass"}, {"travel", 362.0}, {"errors", QJsonArray{}}};
    const QJsonObject oneJump{{"verdict", "errors"}, {"travel", 370.0}, {"errors", QJsonArray{90.0}}};
    const QJsonObject twoJumps{{"verdict", "errors"}, {"travel", 380.0}, {"errors", QJsonArray{90.0, 200.0}}};
    const QJsonObject standing{{"verdict", "not-turning"}, {"travel", 10.0}, {"errors", QJsonArray{}}};
    struct Case {
        const char* name;
        const char* command;
        bool passed;
        QJsonObject figures;
        std::optional<ResultTrace> trace;
        const char* verdict;
        const char* failed;  // the first reason, or ""
    } cases[] = {
        {"no jump", "abs-test", true, noJump, std::nullopt, "pass", ""},
        // The test's own verdict fails it; the plan allows one small jump.
        {"one small jump", "abs-test", false, oneJump, turnWithJumps({{300, 8.0}}), "pass", ""},
        {"one large jump", "abs-test", false, oneJump, turnWithJumps({{300, 40.0}}), "fail", "a jump of 40"},
        {"jump sizes not kept", "abs-test", false, oneJump, std::nullopt, "fail", "the jump sizes were not kept"},
        {"two jumps", "abs-test", false, twoJumps, turnWithJumps({{300, 8.0}, {400, 6.0}}), "fail", "2 jumps, at most 1"},
        {"not turning", "abs-test", false, standing, std::nullopt, "fail", "the encoder did not turn"},
        {"exact bits", "resolution", true, {{"value", 131071}, {"complete", true}}, std::nullopt, "pass", ""},
        {"one short", "resolution", true, {{"value", 131070}, {"complete", true}}, std::nullopt, "fail",
         "resolution 131070, exactly 131071"},
        {"walk cut", "resolution", false, {{"value", 131071}, {"complete", false}}, std::nullopt, "fail", "the walk was cut"},
        {"sincos inside", "sincos", true, {{"plus", pair(2.45, 1.05, 90.5)}, {"minus", pair(2.55, 0.95, 89.0)}},
         std::nullopt, "pass", ""},
        {"minus offset out", "sincos", true, {{"plus", pair(2.45, 1.05, 90.5)}, {"minus", pair(2.62, 1.0, 90)}},
         std::nullopt, "fail", "cos_offset minus 2.62 outside 2.5 ± 0.1"},
        {"phase out", "sincos", true, {{"plus", pair(2.5, 1.0, 91.2)}, {"minus", QJsonValue()}}, std::nullopt, "fail",
         "phase plus 91.2 outside 89 .. 91"},
        {"not measured", "sincos", true, {{"plus", QJsonObject{{"cos_offset", QJsonValue()}}}}, std::nullopt, "fail",
         "cos_offset plus was not measured"},
        {"eeprom read back", "eeprom", true, {{"value", 7}, {"verified", true}}, std::nullopt, "pass", ""},
        {"eeprom not read back", "eeprom", false, {{"value", 7}, {"verified", false}}, std::nullopt, "fail", "the value"},
        {"capture ok", "capture", true, {{"status", "ok"}}, std::nullopt, "pass", ""},
        {"capture lost data", "capture", false, {{"status", "transmission-error"}}, std::nullopt, "fail",
         "the capture ended transmission-error"},
        {"calibration step failed", "calibration", false, {{"step", "zero-1"}}, std::nullopt, "fail", "step zero-1 failed"},
    };
    for (const Case& c : cases) {
        const QJsonObject v = judgeAgainstPlan(p, c.command, c.passed, c.figures, c.trace);
        EXPECT_EQ(v["verdict"].toString(), c.verdict) << c.name;
        EXPECT_EQ(v["limits"].toObject(), p.limits(c.command)) << c.name;
        const QJsonArray failed = v["failed"].toArray();
        if (*c.failed)
            EXPECT_TRUE(!failed.isEmpty() && failed[0].toString().startsWith(QString::fromUtf8(c.failed)))
                << c.name << ": " << (failed.isEmpty() ? "" : failed[0].toString().toStdString());
        else
            EXPECT_TRUE(failed.isEmpty()) << c.name;
    }
    EXPECT_TRUE(judgeAgainstPlan(p, "read", true, {}, std::nullopt).isEmpty()) << "no limits, no plan verdict";
    EXPECT_TRUE(judgeAgainstPlan(plan(R"({"schema": 1})"), "abs-test", true, noJump, std::nullopt).isEmpty());
}

TEST(ResultTraceCodec, EveryKindComesBackAndStaysSmall)
{
    // A turn at 1 rpm sampled once a step, one jump.
    const AccuracyTrace turn = turnWithJumps({{345, 12.0}});
    const QByteArray a = encodeTrace(turn);
    const std::optional<ResultTrace> backA = decodeTrace(a);
    ASSERT_TRUE(backA);
    const AccuracyTrace& t = std::get<AccuracyTrace>(*backA);
    ASSERT_EQ(t.points.size(), turn.points.size());
    for (std::size_t i = 0; i < t.points.size(); ++i) {
        EXPECT_EQ(t.points[i].step, turn.points[i].step);
        EXPECT_NEAR(t.points[i].angle, turn.points[i].angle, kTraceAngleUnit / 2 + 1e-9);
        EXPECT_EQ(t.points[i].jump, turn.points[i].jump);
    }
    ASSERT_EQ(traceJumpSizes(t).size(), 1u);
    EXPECT_NEAR(traceJumpSizes(t)[0], 12.0 + 360.0 / 640, 0.002);
    EXPECT_LT(a.size(), 1500) << "680 samples: " << a.size() << " bytes";

    SinCosTrace sc;
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 1600; ++i)
            sc.codes[k].push_back(static_cast<std::uint8_t>(128 + std::lround(51 * std::cos(i * 0.0314 + k))));
    const QByteArray s = encodeTrace(sc);
    const std::optional<ResultTrace> backS = decodeTrace(s);
    ASSERT_TRUE(backS);
    EXPECT_EQ(std::get<SinCosTrace>(*backS).codes, sc.codes);
    EXPECT_LT(s.size(), 6400) << "4 x 1600 samples: " << s.size() << " bytes";

    const ReadTrace read{{{0.0, 5}, {10.5, 700}, {20.25, -3}, {31.0, (std::int64_t(1) << 47)}}};
    const std::optional<ResultTrace> backR = decodeTrace(encodeTrace(read));
    ASSERT_TRUE(backR);
    ASSERT_EQ(std::get<ReadTrace>(*backR).points.size(), 4u);
    EXPECT_DOUBLE_EQ(std::get<ReadTrace>(*backR).points[2].ms, 20.25);
    EXPECT_EQ(std::get<ReadTrace>(*backR).points[3].raw, std::int64_t(1) << 47);

    const ResolutionTrace res{10, 131000, -2, 131070};
    const std::optional<ResultTrace> backRes = decodeTrace(encodeTrace(res));
    ASSERT_TRUE(backRes);
    EXPECT_EQ(std::get<ResolutionTrace>(*backRes).maximum, 131070);
    EXPECT_EQ(std::get<ResolutionTrace>(*backRes).first, 10);

    EXPECT_TRUE(encodeTrace(std::monostate{}).isEmpty());
}

TEST(ResultTraceCodec, RefusesBytesThatAreNoTrace)
{
    const QByteArray good = encodeTrace(turnWithJumps({}));
    QByteArray unknownFormat = good;
    unknownFormat[2] = 9;
    QByteArray hugeClaim = good;
    hugeClaim[3] = '\x7f';
    for (const QByteArray& bad : {QByteArray(), QByteArray("QT"), unknownFormat, hugeClaim, good.left(good.size() - 3),
                                  QByteArray("QT\x01") + qCompress(QByteArray("\x05", 1))})
        EXPECT_FALSE(decodeTrace(bad)) << bad.toHex().left(40).toStdString();
}

TEST(AccuracyTracker, KeepsEverySampleForThePlotWithTheJumpsMarked)
{
    AccuracyTracker t;
    t.start();
    for (int step = 0; step < 20; ++step) {
        t.addSample(step == 15 ? 100.0 : step * 0.5);
        t.stepDone();
    }
    ASSERT_EQ(t.trace().size(), 20u);
    EXPECT_EQ(t.trace()[3].step, 3);
    EXPECT_DOUBLE_EQ(t.trace()[3].angle, 1.5);
    int jumps = 0;
    for (const AccuracyTracePoint& p : t.trace())
        jumps += p.jump;
    EXPECT_EQ(jumps, 2) << "to 100 and back";
    EXPECT_TRUE(t.trace()[15].jump && t.trace()[16].jump);
    t.start();
    EXPECT_TRUE(t.trace().empty());
}
