#include "force/force_core.h"

#include <algorithm>
#include <cmath>
#include <vector>

double forceNewtons(std::int64_t raw, std::int32_t fieldMask)
{
    std::int64_t v = raw >> 8;  // arithmetic: a negative reading stays negative
    if (v > 65536)
        v = 131072 - v;
    const double newtons = static_cast<double>(v) * 360.0 / fieldMask * kNewtonsPerDegree;
    // Truncate in floating point: a wide reading over a narrow mask can
    // exceed the 64-bit integer range.
    return std::trunc(newtons * 1000.0) / 1000.0;
}

ForceSample forceFromReading(std::int64_t raw, std::int32_t fieldMask, bool runSeen, double previousPeak)
{
    ForceSample s;
    s.peak = runSeen ? previousPeak : 0.0;
    s.forceNow = forceNewtons(raw, fieldMask);
    if (s.peak < s.forceNow)
        s.peak = s.forceNow;
    return s;
}

QString forceText(double newtons)
{
    return QString::asprintf("%.3f", newtons);
}

bool ForceTopList::offer(const QString& name, double result)
{
    if (!(m_rows[kRows - 1].power < result))
        return false;

    // A listed name keeps its better result: a worse or equal new one is
    // dropped (it becomes an empty entry), a better one frees the old row.
    QString entryName = name;
    double entryPower = result;
    for (ForceTopRow& row : m_rows) {
        if (row.name != entryName)
            continue;
        if (row.power < entryPower) {
            row = ForceTopRow{};
        } else {
            entryName.clear();
            entryPower = 0.0;
        }
    }

    std::vector<ForceTopRow> entries(m_rows.begin(), m_rows.end());
    entries.push_back({entryName, entryPower});
    // Stable, and the new entry last: among equal powers it goes below.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ForceTopRow& a, const ForceTopRow& b) { return a.power > b.power; });

    bool changed = false;
    for (int i = 0; i < kRows; ++i) {
        changed = changed || entries[i].name != m_rows[i].name || entries[i].power != m_rows[i].power;
        m_rows[i] = entries[i];
    }
    return changed;
}

QString ForceTopList::powerText(double power)
{
    return QString::asprintf("%.15g", power);
}
