#include "force/force_core.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Row {
    const char* name;
    double power;
};

void expectRows(const ForceTopList& list, std::vector<Row> expected, const char* what)
{
    expected.resize(ForceTopList::kRows, Row{"", 0.0});
    for (int i = 0; i < ForceTopList::kRows; ++i) {
        EXPECT_EQ(list.rows()[i].name, QString::fromUtf8(expected[i].name)) << what << " row " << i + 1;
        EXPECT_EQ(list.rows()[i].power, expected[i].power) << what << " row " << i + 1;
    }
}

}  // namespace

TEST(ForceFromReading, NewtonsOfARawReading)
{
    struct Case {
        const char* what;
        std::int64_t raw;
        std::int32_t mask;
        double newtons;
    };
    const Case cases[] = {
        {"half a turn of a 17-bit field", std::int64_t{1} << 24, 131071, 5015.378},
        {"just past half a turn folds back to one count", 131071LL * 256, 131071, 0.076},
        {"one count", 256, 131071, 0.076},
        {"low byte is not deflection", 255, 131071, 0.0},
        {"65537 folds to 65535", 65537LL * 256, 131071, 5015.301},
        {"negative reading keeps its sign", -256, 131071, -0.076},
        {"a full 17-bit turn folds to zero", 131072LL * 256, 131071, 0.0},
        {"12-bit field", 1024LL * 256, 4095, 2508.282},
        {"31-bit field", std::int64_t{1} << 24, 2147483647, 0.306},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(forceNewtons(c.raw, c.mask), c.newtons) << c.what;

    // Exactly what the definition gives, truncated toward zero.
    const double a = 65536.0 * 360.0 / 131071 * 27.863;
    EXPECT_DOUBLE_EQ(forceNewtons(std::int64_t{1} << 24, 131071), std::trunc(a * 1000.0) / 1000.0);
    // A huge reading over a one-bit mask stays a number.
    EXPECT_TRUE(std::isfinite(forceNewtons(-(std::int64_t{1} << 62), 1)));
}

TEST(ForceFromReading, PeakFollowsTheRunOnly)
{
    const std::int64_t r100 = 1000LL * 256;  // 76.528... N over a 17-bit mask
    const double f = forceNewtons(r100, 131071);
    struct Case {
        const char* what;
        bool runSeen;
        double previousPeak;
        double peak;
    };
    const Case cases[] = {
        {"no run: peak restarts from 0", false, 900.0, f},
        {"no run and a negative force: peak 0", false, -5.0, f},
        {"run, higher force raises the peak", true, 10.0, f},
        {"run, lower force keeps the peak", true, 900.0, 900.0},
    };
    for (const Case& c : cases) {
        const ForceSample s = forceFromReading(r100, 131071, c.runSeen, c.previousPeak);
        EXPECT_DOUBLE_EQ(s.forceNow, f) << c.what;
        EXPECT_DOUBLE_EQ(s.peak, c.peak) << c.what;
    }
    // A pull below zero without a run leaves the peak at 0.
    EXPECT_DOUBLE_EQ(forceFromReading(-256, 131071, false, 3.0).peak, 0.0);
    EXPECT_DOUBLE_EQ(forceResult(120.5, 20.25), 100.25);
    EXPECT_EQ(forceText(5015.378), "5015.378");
    EXPECT_EQ(forceText(-0.5), "-0.500");
}

TEST(ForceFromReading, WidthGuard)
{
    const struct {
        int width;
        bool usable;
    } cases[] = {{-1, false}, {0, false}, {1, true}, {17, true}, {31, true}, {32, false}, {40, false}};
    for (const auto& c : cases)
        EXPECT_EQ(forceFieldWidthUsable(c.width), c.usable) << c.width;
    EXPECT_EQ(forceFieldMask(1), 1);
    EXPECT_EQ(forceFieldMask(17), 131071);
    EXPECT_EQ(forceFieldMask(31), 2147483647);
}

TEST(ForceTopList, EntryRules)
{
    struct Offer {
        const char* name;
        double result;
        bool changed;
    };
    struct Case {
        const char* what;
        std::vector<Offer> offers;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"a result of 0 or less does not enter an empty list",
         {{"Ann", 0.0, false}, {"Ann", -3.5, false}},
         {}},
        {"descending order", {{"Ann", 30, true}, {"Bob", 50, true}, {"Cy", 40, true}},
         {{"Bob", 50}, {"Cy", 40}, {"Ann", 30}}},
        {"a listed 50 is kept against 40", {{"Bob", 50, true}, {"Ann", 45, true}, {"Bob", 40, false}},
         {{"Bob", 50}, {"Ann", 45}}},
        {"a listed 50 against an equal 50", {{"Bob", 50, true}, {"Bob", 50, false}}, {{"Bob", 50}}},
        {"a listed 50 is replaced by 60 and moves up", {{"Bob", 50, true}, {"Ann", 55, true}, {"Bob", 60, true}},
         {{"Bob", 60}, {"Ann", 55}}},
        {"names are case-sensitive", {{"Bob", 50, true}, {"bob", 40, true}}, {{"Bob", 50}, {"bob", 40}}},
        {"equal powers: the newcomer goes below", {{"Ann", 40, true}, {"Bob", 40, true}, {"Cy", 40, true}},
         {{"Ann", 40}, {"Bob", 40}, {"Cy", 40}}},
        {"an empty name is listed once, with its best",
         {{"", 30, true}, {"Ann", 35, true}, {"", 20, false}, {"", 40, true}},
         {{"", 40}, {"Ann", 35}}},
        {"powers are kept exactly", {{"Ann", 5015.378, true}, {"Bob", 0.076, true}},
         {{"Ann", 5015.378}, {"Bob", 0.076}}},
    };
    for (const Case& c : cases) {
        ForceTopList list;
        for (const Offer& o : c.offers)
            EXPECT_EQ(list.offer(QString::fromUtf8(o.name), o.result), o.changed) << c.what << ": " << o.name;
        expectRows(list, c.rows, c.what);
    }
}

TEST(ForceTopList, FullListEntersOnlyAboveRowTen)
{
    ForceTopList list;
    const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"};
    for (int i = 0; i < 10; ++i)
        list.offer(names[i], 100.0 - 10 * i);  // 100 .. 10
    ASSERT_EQ(list.rows()[9].power, 10.0);

    EXPECT_FALSE(list.offer("K", 10.0));  // equal to row 10
    EXPECT_FALSE(list.offer("K", 5.0));
    EXPECT_EQ(list.rows()[9].name, "J");

    EXPECT_TRUE(list.offer("K", 55.0));  // J drops out
    EXPECT_EQ(list.rows()[5].name, "K");
    EXPECT_EQ(list.rows()[6].name, "F");
    EXPECT_EQ(list.rows()[9].name, "I");

    // A listed name below its best does not enter even when above row 10.
    EXPECT_FALSE(list.offer("A", 60.0));
    EXPECT_EQ(list.rows()[0].power, 100.0);

    // A listed name beating its best frees its old row; no one drops out.
    EXPECT_TRUE(list.offer("I", 95.0));
    EXPECT_EQ(list.rows()[1].name, "I");
    EXPECT_EQ(list.rows()[9].name, "H");
    EXPECT_EQ(list.rows()[9].power, 30.0);
}

TEST(ForceTopList, PowerCells)
{
    const struct {
        double power;
        const char* text;
    } cases[] = {{0.0, "0"}, {50.0, "50"}, {5015.378, "5015.378"}, {0.076, "0.076"},
                 {3670016.0, "3670016"}, {123.456789012345678, "123.456789012346"}};
    for (const auto& c : cases)
        EXPECT_EQ(ForceTopList::powerText(c.power), c.text) << c.power;
}
