// The Test plan dialog's form: a plan shown and taken back gives the same
// limits, and each wrong field is named with what it needs.
#include "measure/test_plan_form.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

TestPlan parsed(const QByteArray& text)
{
    const PlanParse p = parseTestPlan(text);
    EXPECT_TRUE(p.plan) << p.error.toStdString();
    return p.plan.value_or(TestPlan{});
}

PlanForm everyField()
{
    PlanForm f;
    f.accuracy = f.resolution = f.sincos = true;
    f.maxJumps = "1";
    f.maxJumpDeg = "20";
    f.resolutionValue = "17";
    f.cosOffset = {true, "2.5", "0.1"};
    f.sinOffset = {true, "2,5", "0,1"};  // a comma is a decimal sign too
    f.cosPp = {true, "1", "0.1"};
    f.sinPp = {true, "1", "0.1"};
    f.phase = {true, "89", "91"};
    f.eepromVerified = f.captureComplete = f.calibrationEveryStep = true;
    return f;
}

}  // namespace

TEST(TestPlanForm, APlanShownAndTakenBackKeepsItsLimitsThroughTheFile)
{
    struct Case {
        const char* what;
        QByteArray text;
    } cases[] = {
        {"every section", R"({"schema": 1, "abs-test": {"max_jumps": 2, "max_jump_deg": 12.5},
            "resolution": {"min": 131000},
            "sincos": {"cos_offset": {"nominal": 2.5, "tolerance": 0.1}, "sin_pp": {"nominal": 1, "tolerance": 0.05},
                       "phase": {"min": 89, "max": 91}},
            "eeprom": {"verified": true}, "capture": {}, "calibration": {"every_step": true}})"},
        {"jumps by number only, exact bits", R"({"schema": 1, "abs-test": {}, "resolution": {"bits": 13}})"},
        {"nothing", R"({"schema": 1})"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        const TestPlan plan = parsed(c.text);
        const PlanFormCheck back = planFromForm(planForm(plan));
        ASSERT_TRUE(back.plan) << c.what << ": " << back.error.toStdString();
        EXPECT_EQ(back.plan->toJson(), plan.toJson()) << c.what;
        // What the dialog saves, the file reader takes back.
        const QString path = dir.filePath("p.plan.json");
        ASSERT_EQ(writeTestPlanFile(path, *back.plan), "") << c.what;
        const PlanParse reread = readTestPlanFile(path);
        ASSERT_TRUE(reread.plan) << c.what << ": " << reread.error.toStdString();
        EXPECT_EQ(reread.plan->toJson(), plan.toJson()) << c.what;
    }

    // A window the file gave the other way is shown as the same limits.
    const TestPlan other = parsed(R"({"schema": 1, "sincos": {"cos_offset": {"min": 2.4, "max": 2.6},
                                      "phase": {"nominal": 90, "tolerance": 1.5}}})");
    const PlanForm f = planForm(other);
    EXPECT_EQ(f.cosOffset.low, "2.5");
    EXPECT_EQ(f.cosOffset.high, "0.1");
    EXPECT_EQ(f.phase.low, "88.5");
    EXPECT_EQ(f.phase.high, "91.5");
    EXPECT_FALSE(f.sinOffset.on);
    const PlanFormCheck again = planFromForm(f);
    ASSERT_TRUE(again.plan);
    EXPECT_NEAR(again.plan->sincos->cosOffset->min, 2.4, 1e-12);
    EXPECT_NEAR(again.plan->sincos->cosOffset->max, 2.6, 1e-12);
    EXPECT_DOUBLE_EQ(again.plan->sincos->phase->min, 88.5);

    const PlanFormCheck full = planFromForm(everyField());
    ASSERT_TRUE(full.plan) << full.error.toStdString();
    EXPECT_DOUBLE_EQ(full.plan->sincos->sinOffset->max, 2.6);
    EXPECT_EQ(full.plan->resolution->bits, 17);
    EXPECT_FALSE(full.plan->resolution->min);
}

TEST(TestPlanForm, AWrongFieldIsNamedAndNothingIsTakenFromAnUntickedSection)
{
    struct Case {
        const char* what;
        std::function<void(PlanForm&)> edit;
        const char* field;  // empty: the form is right
        const char* error;  // the message holds it
    } cases[] = {
        {"negative jumps", [](PlanForm& f) { f.maxJumps = "-1"; }, "abs.max_jumps", "whole number from 0"},
        {"fractional jumps", [](PlanForm& f) { f.maxJumps = "1.5"; }, "abs.max_jumps", "\"1.5\""},
        {"jump of 200°", [](PlanForm& f) { f.maxJumpDeg = "200"; }, "abs.max_jump_deg", "from 0 to 180"},
        {"jump size empty: any size", [](PlanForm& f) { f.maxJumpDeg = "  "; }, "", ""},
        {"32 bits", [](PlanForm& f) { f.resolutionValue = "32"; }, "resolution.bits", "from 1 to 31"},
        {"minimum not a number", [](PlanForm& f) {
             f.resolutionLimit = PlanForm::ResolutionLimit::AtLeast;
             f.resolutionValue = "lots";
         }, "resolution.min", "\"lots\""},
        {"empty nominal", [](PlanForm& f) { f.cosPp.low = ""; }, "sincos.cos_pp.nominal", "needs a number"},
        {"infinite tolerance", [](PlanForm& f) { f.sinPp.high = "inf"; }, "sincos.sin_pp.tolerance", "needs a number"},
        {"negative tolerance", [](PlanForm& f) { f.sinOffset.high = "-0.1"; }, "sincos.sin_offset.tolerance",
         "cannot be negative"},
        {"phase upside down", [](PlanForm& f) { f.phase = {true, "91", "89"}; }, "sincos.phase.max", "below its min"},
        {"no window ticked", [](PlanForm& f) {
             for (PlanForm::Window* w : {&f.cosOffset, &f.sinOffset, &f.cosPp, &f.sinPp, &f.phase})
                 w->on = false;
         }, "sincos", "at least one window"},
        {"a wrong window not ticked", [](PlanForm& f) { f.phase = {false, "x", "y"}; }, "", ""},
        {"a wrong section not ticked", [](PlanForm& f) {
             f.accuracy = false;
             f.maxJumps = "many";
         }, "", ""},
    };
    for (const Case& c : cases) {
        PlanForm f = everyField();
        c.edit(f);
        const PlanFormCheck check = planFromForm(f);
        EXPECT_EQ(check.field, QLatin1String(c.field)) << c.what;
        EXPECT_EQ(check.plan.has_value(), *c.field == 0) << c.what;
        EXPECT_TRUE(check.error.contains(QLatin1String(c.error))) << c.what << ": " << check.error.toStdString();
    }
    const PlanFormCheck unticked = planFromForm([] {
        PlanForm f = everyField();
        f.accuracy = false;
        f.maxJumps = "many";
        return f;
    }());
    ASSERT_TRUE(unticked.plan);
    EXPECT_FALSE(unticked.plan->covers("abs-test"));

    EXPECT_EQ(planPathFor("/data/config/FileName.cfg"), "/data/config/FileName.plan.json");
    EXPECT_EQ(planPathFor("/srv/line 3.v2.cfg"), "/srv/line 3.v2.plan.json");
}
