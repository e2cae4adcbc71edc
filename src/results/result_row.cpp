#include "results/result_row.h"

#include <QSysInfo>
#include <QUuid>

#ifndef QUILLMARK_VERSION
#define QUILLMARK_VERSION "unknown"
#endif

ResultRow ResultRow::make(const QString& command, bool passed, const QJsonObject& figures, const QString& serial,
                          const QByteArray& config, bool simulated, const QByteArray& trace)
{
    ResultRow r;
    r.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.timeUtc = QDateTime::currentDateTimeUtc();
    r.station = QSysInfo::machineHostName();
    r.serial = serial;
    r.command = command;
    r.verdict = passed ? kVerdictPass : kVerdictFail;
    r.figures = figures;
    if (simulated)
        r.figures.insert(QStringLiteral("simulated"), true);
    r.config = config;
    r.version = QStringLiteral(QUILLMARK_VERSION);
    r.trace = trace;
    return r;
}

QString storedTime(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime timeFromStored(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t;
}
