// The parse behind every numeric edit: what counts as a number, and which
// of the two standard messages a text that is none gets.
#include "bench/number_input.h"

#include <gtest/gtest.h>

TEST(NumberInput, TypedTextsParseOrGiveTheirMessage)
{
    const QString range0to10 = kMsgRangeTemplate.arg(0).arg(10);
    struct Case {
        QString text;
        long long min, max;
        std::optional<long long> value;
        QString error;
    };
    const Case cases[] = {
        {"", 0, 10, std::nullopt, kMsgNotInteger},
        {"   ", 0, 10, std::nullopt, kMsgNotInteger},
        {"\t\n", 0, 10, std::nullopt, kMsgNotInteger},
        {" 7\t", 0, 10, 7, {}},  // blanks around the number are ignored
        {"1 0", 0, 10, std::nullopt, kMsgNotInteger},
        {"+7", 0, 10, 7, {}},
        {"-0", 0, 10, 0, {}},
        {"- 5", 0, 10, std::nullopt, kMsgNotInteger},
        {"+-1", 0, 10, std::nullopt, kMsgNotInteger},
        {"-", 0, 10, std::nullopt, kMsgNotInteger},
        {"007", 0, 10, 7, {}},
        {"0010", 0, 10, 10, {}},
        {"0", 0, 10, 0, {}},    // both ends of the range are in it
        {"10", 0, 10, 10, {}},
        {"-1", 0, 10, std::nullopt, range0to10},
        {"11", 0, 10, std::nullopt, range0to10},
        {"-3", -5, 5, -3, {}},
        {"1000001", 0, 1000000, std::nullopt, kMsgRangeTemplate.arg(0).arg(1000000)},
        {"9223372036854775807", 0, 10, std::nullopt, range0to10},
        {"9223372036854775808", 0, 10, std::nullopt, kMsgNotInteger},  // past long long: no number
        {"12a", 0, 100, std::nullopt, kMsgNotInteger},
        {"0x10", 0, 100, std::nullopt, kMsgNotInteger},
        {"1e1", 0, 100, std::nullopt, kMsgNotInteger},
        {"1.0", 0, 100, std::nullopt, kMsgNotInteger},
        {"1,000", 0, 10000, std::nullopt, kMsgNotInteger},
        {QStringLiteral("１２"), 0, 100, std::nullopt, kMsgNotInteger},  // full-width digits
    };
    for (const Case& c : cases) {
        const ParsedNumber p = parseBoundedInteger(c.text, c.min, c.max);
        EXPECT_EQ(p.value, c.value) << '"' << c.text.toStdString() << '"';
        EXPECT_EQ(p.error, c.error) << '"' << c.text.toStdString() << '"';
    }
}
