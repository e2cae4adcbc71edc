#pragma once
// The range of one field width. The box's frame-length byte carries the frame
// length minus one in bits 0..5, so a frame is 1..64 bits; one field can take
// at most the whole frame and at least nothing (width 0 decodes to 0).
#include <QString>

#include <optional>

inline constexpr int kMinFieldWidth = 0;
inline constexpr int kMaxFieldWidth = 64;

// The width in a width edit's text: a decimal number 0..64 (blanks around it
// allowed); empty otherwise.
std::optional<int> parseFieldWidth(const QString& text);

// What to tell the user about a width edit's text: the standard range message
// "请输入一个 0 至 64 之间的整数。" when the text is not a width 0..64, nothing
// when it is one or when it is empty (an empty edit has its own message,
// "Please enter a positive integer", from the layout refresh).
std::optional<QString> fieldWidthError(const QString& text);
