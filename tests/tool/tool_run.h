#pragma once
// One run of quillmark-tool as a process of its own: its exit status, what it
// wrote and how long it took.
#include <QByteArray>
#include <QtGlobal>

struct ToolRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
};
