#include "bench/capture_file.h"

#include <QFileInfo>
#include <QSaveFile>

QString CaptureFile::open(const QString& path)
{
    std::lock_guard lock(mutex_);
    if (file_.isOpen())
        file_.close();
    file_.setFileName(path);
    path_ = path;
    error_.clear();
    written_ = 0;
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        error_ = file_.errorString();
        return error_;
    }
    return {};
}

bool CaptureFile::append(std::span<const std::uint8_t> block)
{
    std::lock_guard lock(mutex_);
    if (!file_.isOpen())
        return false;
    const auto n = static_cast<qint64>(block.size());
    if (file_.write(reinterpret_cast<const char*>(block.data()), n) != n) {
        error_ = file_.errorString();
        return false;
    }
    written_ += n;
    return true;
}

void CaptureFile::close()
{
    std::lock_guard lock(mutex_);
    if (file_.isOpen())
        file_.close();
}

bool CaptureFile::isOpen() const
{
    std::lock_guard lock(mutex_);
    return file_.isOpen();
}

QString CaptureFile::path() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

QString CaptureFile::errorText() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

std::int64_t CaptureFile::bytesWritten() const
{
    std::lock_guard lock(mutex_);
    return written_;
}

QString moveCaptureInto(const QString& from, const QString& to)
{
    const QFileInfo target(to);
    if (target.exists() && !target.isFile())
        return QStringLiteral("%1 is not a regular file").arg(to);
    if (QFileInfo(from).canonicalFilePath() == target.canonicalFilePath())
        return {};  // the capture is already there

    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(from, in.errorString());
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(to, out.errorString());
    constexpr qint64 kChunk = 1 << 20;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            return QStringLiteral("cannot read %1: %2").arg(from, in.errorString());
        }
        if (out.write(chunk) != chunk.size()) {
            const QString e = out.errorString();
            out.cancelWriting();
            return QStringLiteral("cannot write %1: %2").arg(to, e);
        }
    }
    in.close();
    if (!out.commit())
        return QStringLiteral("cannot write %1: %2").arg(to, out.errorString());
    QFile::remove(from);
    return {};
}

QString renameCapture(const QString& from, const QString& to)
{
    if (QFileInfo::exists(to))
        return QStringLiteral("%1 exists already").arg(to);
    if (QFile::rename(from, to))
        return {};
    // QFile::rename copies across file systems; a failure here is final.
    return QStringLiteral("cannot rename %1 to %2").arg(from, to);
}
