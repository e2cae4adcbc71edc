#pragma once
// A file's bytes; empty when it cannot be read.
#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
