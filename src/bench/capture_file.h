#pragma once
// The one open capture file and the hand-over of a finished capture.
//
// CaptureFile has one owner and one lock: the capture worker appends blocks,
// stop-all (any thread) closes it, and a block is written only while the file
// is open, so a close never overlaps an append and nothing is written after it.
#include <QFile>
#include <QString>

#include <cstdint>
#include <mutex>
#include <span>

class CaptureFile {
public:
    // Creates (or truncates) `path`. Returns an error text, empty on success.
    QString open(const QString& path);
    // Appends `block` while the file is open. False when it is closed or the
    // write failed (the error is kept for errorText()).
    bool append(std::span<const std::uint8_t> block);
    // Flushes and closes; nothing when it is not open. Any thread.
    void close();
    bool isOpen() const;
    QString path() const;
    QString errorText() const;
    std::int64_t bytesWritten() const;

private:
    mutable std::mutex mutex_;
    QFile file_;
    QString path_;
    QString error_;
    std::int64_t written_ = 0;
};

// Moves the finished capture `from` to `to`, replacing `to` only once the new
// content is complete beside it (written beside, then renamed into place).
// `to` must be a regular file or not exist; `from` is removed only after the
// replacement succeeded. Returns an error text, empty on success.
QString moveCaptureInto(const QString& from, const QString& to);

// Renames `from` to `to`, which must not exist (a numbered capture file).
// Falls back to copy and remove across file systems. Error text or empty.
QString renameCapture(const QString& from, const QString& to);
