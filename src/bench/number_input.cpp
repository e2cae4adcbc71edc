#include "bench/number_input.h"

ParsedNumber parseBoundedInteger(const QString& text, long long min, long long max)
{
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return {std::nullopt, kMsgNotInteger};
    if (v < min || v > max)
        return {std::nullopt, kMsgRangeTemplate.arg(min).arg(max)};
    return {v, {}};
}
