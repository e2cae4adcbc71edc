#pragma once
// Names of capture files under the capture folder. A manual capture is
// written to a working file and handed to the user at its end; hot-key and
// automatic captures go to numbered files "FileName<n>.txt". The file test
// is a predicate so the naming stays a pure function.
#include <QString>

#include <functional>
#include <optional>

// The working file of a manual capture.
inline const QString kCaptureWorkingName = QStringLiteral("num.txt");

// "FileName7.txt" for 7: decimal, no leading zeros.
QString numberedCaptureName(int counter);

// "FileName7": the default name the save dialogs offer for counter 7.
QString captureDialogName(int counter);

// folder + "/" + name, without doubling a trailing separator.
QString captureFilePath(const QString& folder, const QString& name);

struct NumberedCapture {
    int counter = 0;  // the new value of fileCounter
    QString path;
};

using FileExists = std::function<bool(const QString& path)>;

// The next numbered capture file: the counter is incremented before use,
// and numbers whose file already exists (from an earlier run) are skipped so
// a capture never overwrites one. Empty only when the counter would pass the
// largest int.
std::optional<NumberedCapture> nextNumberedCapture(const QString& folder, int fileCounter,
                                                   const FileExists& exists);
