#include "interface/field_width.h"

#include <gtest/gtest.h>

TEST(FieldWidth, RangeOfTheBox)
{
    const QString range = QStringLiteral("请输入一个 0 至 64 之间的整数。");
    struct Case {
        const char* text;
        std::optional<int> width;
        bool message;
    };
    const Case cases[] = {
        {"0", 0, false},      {"17", 17, false},   {" 64 ", 64, false}, {"007", 7, false},
        {"65", {}, true},     {"2147483647", {}, true}, {"99999999999999999999", {}, true},
        {"-1", {}, true},     {"1x", {}, true},    {"", {}, false},    {"  ", {}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseFieldWidth(QString::fromLatin1(c.text)), c.width) << c.text;
        const std::optional<QString> error = fieldWidthError(QString::fromLatin1(c.text));
        EXPECT_EQ(error.has_value(), c.message) << c.text;
        if (error) {
            EXPECT_EQ(*error, range);
        }
    }
}
