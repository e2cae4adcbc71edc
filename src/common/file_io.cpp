#include "common/file_io.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileio {

namespace {

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// What a path that is not a regular file is, as the end of a sentence.
QString notRegularCause(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("is a directory, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a FIFO (named pipe), not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("is a device, not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("is a socket, not a regular file");
    return QStringLiteral("is not a regular file");
}

// Why stat() of `path` failed with `err`.
QString missingCause(const QByteArray& native, const QString& path, int err)
{
    struct stat ls {};
    switch (err) {
    case ENOENT:
        if (::lstat(native.constData(), &ls) == 0 && S_ISLNK(ls.st_mode))
            return quoted(path) + QStringLiteral(" is a dangling link: what it points to does not exist");
        return quoted(path) + QStringLiteral(" does not exist");
    case ENOTDIR:
        return quoted(path) + QStringLiteral(" does not exist (a part of the path is not a directory)");
    case EACCES:
    case EPERM:
        return quoted(path) + QStringLiteral(" cannot be reached: permission denied");
    case ELOOP:
        return quoted(path) + QStringLiteral(" is a link that leads round in a loop");
    default:
        return quoted(path) + QStringLiteral(" cannot be examined: ") + systemError(err);
    }
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

FileIdentity identityFromStat(const struct stat& st)
{
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

std::optional<FileIdentity> identityOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return identityFromStat(st);
}

// ---------------------------------------------------------------- input

InputFile::~InputFile()
{
    close();
}

void InputFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool InputFile::open(const QString& path, QString* error)
{
    close();
    path_ = path;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        setError(error, QStringLiteral("an empty file name names no file"));
        return false;
    }
    // Look before opening: opening a FIFO waits for a writer, and opening some
    // devices acts on the device.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        setError(error, missingCause(native, path, errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, quoted(path) + QLatin1Char(' ') + notRegularCause(st.st_mode));
        return false;
    }
    // O_NONBLOCK as well: the path may have been replaced by a FIFO since.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            setError(error, quoted(path) + QStringLiteral(" cannot be read: permission denied"));
        else
            setError(error, quoted(path) + QStringLiteral(" cannot be opened: ") + systemError(err));
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setError(error, quoted(path) + QLatin1Char(' ') + notRegularCause(st.st_mode));
        return false;
    }
    fd_ = fd;
    identity_ = identityFromStat(st);
    size_ = static_cast<std::int64_t>(st.st_size);
    return true;
}

std::int64_t InputFile::read(char* data, std::int64_t size, QString* error)
{
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, data + done, static_cast<std::size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            if (err == EISDIR)
                setError(error, quoted(path_) + QStringLiteral(" is a directory, not a file"));
            else
                setError(error, quoted(path_) + QStringLiteral(" cannot be read: ") + systemError(err));
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::optional<QByteArray> readBounded(const QString& path, std::int64_t maxBytes, QString* error)
{
    InputFile in;
    if (!in.open(path, error))
        return std::nullopt;
    QByteArray data;
    constexpr std::int64_t kPiece = 64 * 1024;
    while (data.size() < maxBytes) {
        const std::int64_t want = std::min<std::int64_t>(kPiece, maxBytes - data.size());
        const qsizetype old = data.size();
        data.resize(old + static_cast<qsizetype>(want));
        const std::int64_t n = in.read(data.data() + old, want, error);
        if (n < 0)
            return std::nullopt;
        data.resize(old + static_cast<qsizetype>(n));
        if (n < want)
            break;
    }
    return data;
}

// ---------------------------------------------------------------- output

OutputFile::~OutputFile()
{
    cancel();
}

bool OutputFile::open(const QString& path, QString* error, std::optional<FileIdentity> notSameAs)
{
    cancel();
    path_ = path;
    inPlace_ = false;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty()) {
        setError(error, QStringLiteral("an empty file name names no file"));
        return false;
    }

    struct stat st {};
    const bool exists = ::stat(native.constData(), &st) == 0;
    const int statErr = errno;
    if (exists && notSameAs && identityFromStat(st) == *notSameAs) {
        setError(error, quoted(path) + QStringLiteral(" is the input file; the output must be another file"));
        return false;
    }
    if (!exists) {
        struct stat ls {};
        if (statErr == ENOENT && ::lstat(native.constData(), &ls) == 0 && S_ISLNK(ls.st_mode)) {
            setError(error, quoted(path) + QStringLiteral(" is a dangling link: what it points to does not exist"));
            return false;
        }
        if (statErr != ENOENT) {
            setError(error, missingCause(native, path, statErr));
            return false;
        }
    }

    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISCHR(st.st_mode)) {
            // /dev/null, /dev/stdout on a terminal: a device takes the data in
            // place; replacing it with a file would break the machine.
            fd_ = ::open(native.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        } else if (S_ISFIFO(st.st_mode)) {
            // Without a reader the open fails with ENXIO instead of waiting.
            fd_ = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd_ < 0 && errno == ENXIO) {
                setError(error, quoted(path) + QStringLiteral(" is a FIFO (named pipe) that nobody reads; not waiting for a reader"));
                return false;
            }
            if (fd_ >= 0)
                ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        } else if (S_ISBLK(st.st_mode)) {
            setError(error, quoted(path) + QStringLiteral(" is a block device (a disk); refusing to write over it"));
            return false;
        } else {
            setError(error, quoted(path) + QLatin1Char(' ') + notRegularCause(st.st_mode));
            return false;
        }
        if (fd_ < 0) {
            const int err = errno;
            setError(error, quoted(path) + QStringLiteral(" cannot be written: ")
                                + (err == EACCES || err == EPERM ? QStringLiteral("permission denied") : systemError(err)));
            return false;
        }
        inPlace_ = true;
        return true;
    }

    // A regular file or nothing yet: write beside the real file (a link keeps
    // pointing at it) and rename on commit.
    target_ = native;
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(native.constData(), resolved))
            target_ = QByteArray(resolved);
        if (::access(target_.constData(), W_OK) != 0) {
            setError(error, quoted(path) + QStringLiteral(" is read-only (permission denied)"));
            return false;
        }
    }
    const int slash = target_.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : target_.left(slash));
    const QByteArray base = target_.mid(slash + 1);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = dir + "/." + base + ".part-" + QByteArray::number(static_cast<qint64>(::getpid())) + '-'
                + QByteArray::number(tempCounter.fetch_add(1));
        fd_ = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        const int err = errno;
        temp_.clear();
        const QString folder = QFile::decodeName(dir);
        if (err == ENOENT || err == ENOTDIR)
            setError(error, quoted(path) + QStringLiteral(" cannot be written: the folder ") + quoted(folder)
                                + QStringLiteral(" does not exist"));
        else if (err == EACCES || err == EPERM || err == EROFS)
            setError(error, quoted(path) + QStringLiteral(" cannot be written: permission denied in the folder ")
                                + quoted(folder));
        else
            setError(error, quoted(path) + QStringLiteral(" cannot be written: ") + systemError(err));
        return false;
    }
    if (exists)
        ::fchmod(fd_, st.st_mode & 07777);
    return true;
}

bool OutputFile::write(const char* data, std::int64_t size, QString* error)
{
    if (fd_ < 0) {
        setError(error, quoted(path_) + QStringLiteral(" is not open for writing"));
        return false;
    }
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, static_cast<std::size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            setError(error, quoted(path_) + QStringLiteral(" cannot be written: ")
                                + (err == EPIPE ? QStringLiteral("the reader of the pipe went away") : systemError(err)));
            return false;
        }
        done += n;
    }
    return true;
}

bool OutputFile::commit(QString* error)
{
    if (fd_ < 0) {
        setError(error, quoted(path_) + QStringLiteral(" is not open for writing"));
        return false;
    }
    if (inPlace_) {
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0 && errno != EINTR) {
            setError(error, quoted(path_) + QStringLiteral(" cannot be written: ") + systemError(errno));
            return false;
        }
        return true;
    }
    // The data must be on the disk before the name points at it.
    int err = 0;
    if (::fsync(fd_) != 0 && errno != EINVAL)
        err = errno;
    if (::close(fd_) != 0 && !err && errno != EINTR)
        err = errno;
    fd_ = -1;
    if (!err && ::rename(temp_.constData(), target_.constData()) != 0)
        err = errno;
    if (err) {
        setError(error, quoted(path_) + QStringLiteral(" cannot be written: ") + systemError(err));
        cancel();
        return false;
    }
    temp_.clear();
    return true;
}

void OutputFile::cancel()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.isEmpty())
        ::unlink(temp_.constData());
    temp_.clear();
}

bool writeFileSafely(const QString& path, QByteArrayView bytes, QString* error, std::optional<FileIdentity> notSameAs)
{
    OutputFile out;
    return out.open(path, error, notSameAs) && out.write(bytes.data(), bytes.size(), error) && out.commit(error);
}

}  // namespace fileio
