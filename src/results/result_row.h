#pragma once
// One finished test as the results store keeps it: what was tested, where,
// how it was set up, and what came of it.
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

inline const QString kVerdictPass = QStringLiteral("pass");
inline const QString kVerdictFail = QStringLiteral("fail");

struct ResultRow {
    QString uid;          // made where the test ran; delivery to a server is idempotent on it
    QDateTime timeUtc;
    QString station;      // host name of the bench
    QString serial;       // the encoder's serial ("Description:" in the window)
    QString command;      // configure, read, capture, abs-test, resolution, eeprom, sincos, calibration, force
    QString verdict;      // kVerdictPass or kVerdictFail
    QJsonObject figures;  // the verdict's figures
    QByteArray config;    // the configuration record the test ran with
    QString version;      // the program's version
    QByteArray trace;     // the samples behind the figures, compressed; empty for most tests

    // A row for a test that finished now on this station. A test on the
    // simulated box says so in its figures ("simulated": true), so that it
    // is never taken for an encoder's.
    static ResultRow make(const QString& command, bool passed, const QJsonObject& figures, const QString& serial,
                          const QByteArray& config, bool simulated = false, const QByteArray& trace = {});
};

// The stored form of the time: ISO 8601 in UTC with milliseconds, so that
// text order is time order in every database.
QString storedTime(const QDateTime& t);
QDateTime timeFromStored(const QString& text);
