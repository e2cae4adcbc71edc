#include "samples_csv.h"

#include <charconv>
#include <cmath>

namespace cli {

namespace {

// A number in C notation, whatever the locale; "nan", "inf" and numbers out
// of range are numbers too, but not finite ones.
bool number(QByteArrayView field, double* value, bool* finite)
{
    QByteArrayView t = field.trimmed();
    if (t.startsWith('+'))
        t = t.sliced(1);
    if (t.isEmpty())
        return false;
    double v = 0.0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (end != t.data() + t.size())
        return false;
    if (ec == std::errc::result_out_of_range) {
        *finite = false;
        *value = HUGE_VAL;
        return true;
    }
    if (ec != std::errc())
        return false;
    *finite = std::isfinite(v);
    *value = v;
    return true;
}

QString shown(QByteArrayView field)
{
    QByteArrayView t = field.trimmed();
    if (t.size() > 40)
        return QString::fromUtf8(t.first(40)) + QStringLiteral("...");
    return QString::fromUtf8(t);
}

}  // namespace

bool parseSamplesCsv(QByteArrayView text, std::size_t maxPairs, SampleTable& table, CsvError& error)
{
    table = SampleTable{};
    int lineNo = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        const QByteArrayView row = text.sliced(pos, end - pos).trimmed();
        pos = end + 1;
        ++lineNo;
        if (row.isEmpty())
            continue;

        QByteArrayView fields[3];
        int count = 0;
        qsizetype from = 0;
        for (;;) {
            const qsizetype comma = row.indexOf(',', from);
            const QByteArrayView f = row.sliced(from, (comma < 0 ? row.size() : comma) - from);
            if (count < 3)
                fields[count] = f;
            ++count;
            if (comma < 0)
                break;
            from = comma + 1;
        }

        bool finite0 = true, finite1 = true;
        double c = 0.0, s = 0.0;
        const bool cOk = number(fields[0], &c, &finite0);
        const bool sOk = count >= 2 && number(fields[1], &s, &finite1);
        const bool numbers = cOk && sOk;
        if (lineNo == 1 && !numbers)
            continue;  // a header line
        if (count != 2) {
            error = {lineNo, QStringLiteral("expected two numbers 'cos,sin', found %1 fields%2")
                                 .arg(count)
                                 .arg(count == 4 && numbers ? QStringLiteral(" (a decimal comma? use a point)")
                                                            : QString())};
            return false;
        }
        if (!numbers) {
            const QByteArrayView bad = cOk ? fields[1] : fields[0];
            error = {lineNo, QStringLiteral("'%1' is not a number").arg(shown(bad))};
            return false;
        }
        if (!finite0 || !finite1) {
            error = {lineNo, QStringLiteral("'%1' is not a finite number").arg(shown(finite0 ? fields[1] : fields[0]))};
            return false;
        }
        if (table.pairs < maxPairs) {
            table.cos.push_back(c);
            table.sin.push_back(s);
        }
        ++table.pairs;
    }
    return true;
}

}  // namespace cli
