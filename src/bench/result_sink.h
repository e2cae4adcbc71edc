#pragma once
// A finished test on its way out of the bench: the window and quillmark-tool
// hand it to the results store, tests record it. Called on the bench thread
// or on a worker, so a sink must be safe to call from any thread.
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <functional>

struct TestReport {
    QString command;      // configure, read, capture, abs-test, resolution, eeprom, sincos, calibration, force
    bool passed = false;
    QJsonObject figures;
    QString serial;       // "Description:"
    QByteArray config;    // the configuration record the test ran with
    QByteArray trace;     // the samples behind the figures (encodeTrace), or empty
};

using ResultSink = std::function<void(const TestReport&)>;
