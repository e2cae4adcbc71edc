#include "measure/capture_files.h"

#include <limits>

QString numberedCaptureName(int counter)
{
    return captureDialogName(counter) + QStringLiteral(".txt");
}

QString captureDialogName(int counter)
{
    return QStringLiteral("FileName") + QString::number(counter);
}

QString captureFilePath(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

std::optional<NumberedCapture> nextNumberedCapture(const QString& folder, int fileCounter,
                                                   const FileExists& exists)
{
    for (int n = fileCounter; n < std::numeric_limits<int>::max();) {
        ++n;
        QString path = captureFilePath(folder, numberedCaptureName(n));
        if (!exists || !exists(path))
            return NumberedCapture{n, std::move(path)};
    }
    return std::nullopt;
}
