#pragma once
// "quillmark-tool test-report": one encoder's report from the kept results,
// as HTML and/or PDF.
#include <QStringList>

// Runs the command (a QGuiApplication must exist: the report is drawn with
// fonts). Exit status.
int runTestReport(const QStringList& args);
