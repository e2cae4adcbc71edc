#include "interface/field_width.h"

std::optional<int> parseFieldWidth(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 8)
        return std::nullopt;
    for (QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int w = t.toInt();
    if (w < kMinFieldWidth || w > kMaxFieldWidth)
        return std::nullopt;
    return w;
}

std::optional<QString> fieldWidthError(const QString& text)
{
    if (text.trimmed().isEmpty() || parseFieldWidth(text))
        return std::nullopt;
    return QStringLiteral("请输入一个 %1 至 %2 之间的整数。").arg(kMinFieldWidth).arg(kMaxFieldWidth);
}
