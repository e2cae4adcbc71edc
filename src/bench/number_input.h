#pragma once
// Numbers typed into the window's edits: the one parse every numeric edit
// goes through, and the standard messages shown when a text is no number of
// its range.
#include <QString>
#include <optional>

inline const QString kMsgNotInteger = QStringLiteral("请输入一个整数。");
inline const QString kMsgRangeTemplate = QStringLiteral("请输入一个 %1 至 %2 之间的整数。");
inline const QString kMsgPositiveInteger = QStringLiteral("Please enter a positive integer");

// Parses a numeric edit the way the window validates it; on failure returns
// the message to show.
struct ParsedNumber {
    std::optional<long long> value;
    QString error;
};
ParsedNumber parseBoundedInteger(const QString& text, long long min, long long max);
