#pragma once
// Files a user names are untrusted: a capture, a configuration or a sample
// file may be a directory, a FIFO, a device, a dangling link or far larger
// than expected, and an output may be the input or a device. These helpers
// read only regular files, never block on an open, bound what they read, and
// write outputs without ever replacing something that is not a regular file.
// Error texts name the path and the cause and read as one sentence.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace fileio {

// Device and inode: two paths naming the same file have equal identities.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names (links followed); empty when it does not
// exist or cannot be examined.
std::optional<FileIdentity> identityOf(const QString& path);

// A user-named input opened for reading. Only regular files open (links are
// followed); a FIFO or device is refused before it is opened, and the open
// itself never waits for a writer.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with *error naming the cause: missing, dangling link, directory,
    // permission denied, not a regular file.
    bool open(const QString& path, QString* error);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Reads up to `size` bytes; 0 at the end of the file, -1 on a read error
    // (*error set). Short reads are retried until `size` or the end.
    std::int64_t read(char* data, std::int64_t size, QString* error);

    FileIdentity identity() const { return identity_; }
    std::int64_t sizeAtOpen() const { return size_; }
    const QString& path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
    FileIdentity identity_;
    std::int64_t size_ = 0;
};

// Reads at most `maxBytes` of a user-named input. A caller that wants to know
// whether a file is longer than n bytes asks for n + 1.
std::optional<QByteArray> readBounded(const QString& path, std::int64_t maxBytes, QString* error);

// A user-named output. What happens depends on what the path names now:
//  - nothing, or a regular file (also through a link): the data goes to a
//    temporary file beside it, which commit() renames into place, so a failed
//    run leaves the old file untouched; an existing file keeps its permissions;
//  - a character device (/dev/null, a terminal): written in place;
//  - a FIFO with a reader (a pipe, a process substitution): written in place;
//    without a reader it is refused rather than waited on;
//  - a directory, a block device, a socket, a dangling link: refused.
// An output that is the same file as `notSameAs` (usually the input) is
// refused before anything is touched.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // an output not committed is discarded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const QString& path, QString* error, std::optional<FileIdentity> notSameAs = std::nullopt);
    bool write(const char* data, std::int64_t size, QString* error);
    // Renames the temporary file into place (or closes the device); false
    // with *error when the data may not have arrived.
    bool commit(QString* error);
    // Removes the temporary file; a device keeps what was written.
    void cancel();

    bool writesInPlace() const { return inPlace_; }

private:
    int fd_ = -1;
    bool inPlace_ = false;
    QString path_;      // as the user named it (for messages)
    QByteArray target_; // the file the rename replaces (links resolved)
    QByteArray temp_;   // the temporary file beside it
};

// Writes `bytes` to a user-named output as OutputFile does.
bool writeFileSafely(const QString& path, QByteArrayView bytes, QString* error,
                     std::optional<FileIdentity> notSameAs = std::nullopt);

}  // namespace fileio
