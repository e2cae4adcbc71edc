#pragma once
// The options of a quillmark-tool command: "--name value", "--name=value" or
// a bare flag. A bad command line throws UsageError with its message.
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

struct UsageError {
    QString message;
};

class Options {
public:
    Options(const QStringList& args, const QSet<QString>& valued, const QSet<QString>& flags)
    {
        for (int i = 0; i < args.size(); ++i) {
            QString a = args[i];
            if (!a.startsWith("--"))
                throw UsageError{QStringLiteral("unexpected argument '%1'").arg(a)};
            a = a.mid(2);
            QString value;
            const int eq = a.indexOf('=');
            const bool inlineValue = eq >= 0;
            if (inlineValue) {
                value = a.mid(eq + 1);
                a = a.left(eq);
            }
            if (flags.contains(a) && !inlineValue) {
                values_[a] = QString();
                continue;
            }
            if (!valued.contains(a))
                throw UsageError{QStringLiteral("unknown option '--%1'").arg(a)};
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    throw UsageError{QStringLiteral("option '--%1' needs a value").arg(a)};
                value = args[++i];
            }
            values_[a] = value;
        }
    }
    bool has(const QString& name) const { return values_.contains(name); }
    QString value(const QString& name) const { return values_.value(name); }
    long long integer(const QString& name, long long min, long long max) const
    {
        bool ok = false;
        const long long v = value(name).trimmed().toLongLong(&ok);
        if (!ok || v < min || v > max)
            throw UsageError{QStringLiteral("--%1 needs a whole number from %2 to %3").arg(name).arg(min).arg(max)};
        return v;
    }
    double number(const QString& name, double min, double max) const
    {
        bool ok = false;
        const double v = value(name).trimmed().toDouble(&ok);
        if (!ok || !(v >= min && v <= max))
            throw UsageError{QStringLiteral("--%1 needs a number from %2 to %3").arg(name).arg(min).arg(max)};
        return v;
    }

private:
    QMap<QString, QString> values_;
};

