#include "common/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fileio;

namespace {

class FileIo : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray native(const char* name) const { return QFile::encodeName(path(name)); }
    void write(const char* name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const char* name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    bool isFifo(const char* name) const
    {
        struct stat st {};
        return ::lstat(native(name).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
    }
};

}  // namespace

// Each refusal names its cause; a FIFO is refused without waiting for a writer.
TEST_F(FileIo, InputsAreRegularFilesAndErrorsNameTheCause)
{
    write("file", "abc");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    ASSERT_TRUE(QFile::link(path("gone"), path("dangling")));
    ASSERT_TRUE(QFile::link(path("file"), path("link")));
    ASSERT_EQ(::mkfifo(native("fifo").constData(), 0600), 0);
    struct Case {
        QString path;
        const char* cause;  // nullptr: opens
    };
    const Case cases[] = {
        {path("file"), nullptr},
        {path("link"), nullptr},
        {path("missing"), "does not exist"},
        {path("file") + "/below", "does not exist (a part of the path is not a directory)"},
        {path("dangling"), "is a dangling link"},
        {path("folder"), "is a directory"},
        {path("fifo"), "is a FIFO (named pipe), not a regular file"},
        {"/dev/zero", "is a device, not a regular file"},
        {"", "names no file"},
    };
    for (const Case& c : cases) {
        InputFile in;
        QString error;
        const bool opened = in.open(c.path, &error);
        EXPECT_EQ(opened, c.cause == nullptr) << c.path.toStdString();
        if (c.cause) {
            EXPECT_TRUE(error.contains(c.cause)) << error.toStdString();
        }
    }
    // Permission bits do not stop root; check them only for other users.
    if (::geteuid() != 0) {
        write("secret", "x");
        ::chmod(native("secret").constData(), 0);
        QString error;
        EXPECT_FALSE(readBounded(path("secret"), 10, &error));
        EXPECT_TRUE(error.contains("permission denied")) << error.toStdString();
    }
}

TEST_F(FileIo, BoundedReadsStopAtTheLimit)
{
    write("big", QByteArray(200000, 'z'));
    QString error;
    EXPECT_EQ(readBounded(path("big"), 513, &error)->size(), 513);
    EXPECT_EQ(readBounded(path("big"), 1 << 20, &error)->size(), 200000);
    write("empty", "");
    EXPECT_EQ(readBounded(path("empty"), 513, &error)->size(), 0);
}

TEST_F(FileIo, RegularOutputsAreWrittenBesideAndRenamed)
{
    QString error;
    // A new file.
    ASSERT_TRUE(writeFileSafely(path("new"), "one", &error)) << error.toStdString();
    EXPECT_EQ(read("new"), "one");
    // An existing file keeps its permissions; a link keeps pointing at it.
    write("old", "previous");
    ::chmod(native("old").constData(), 0640);
    ASSERT_TRUE(QFile::link(path("old"), path("tolink")));
    ASSERT_TRUE(writeFileSafely(path("tolink"), "two", &error)) << error.toStdString();
    EXPECT_EQ(read("old"), "two");
    EXPECT_TRUE(QFileInfo(path("tolink")).isSymLink());
    struct stat st {};
    ASSERT_EQ(::stat(native("old").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // An output not committed leaves the old file and no temporary file.
    {
        OutputFile out;
        ASSERT_TRUE(out.open(path("old"), &error));
        ASSERT_TRUE(out.write("half", 4, &error));
    }
    EXPECT_EQ(read("old"), "two");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3);
}

TEST_F(FileIo, SpecialOutputsAreWrittenInPlaceOrRefused)
{
    write("input", "data");
    ASSERT_TRUE(QFile::link(path("input"), path("alias")));
    ASSERT_TRUE(QFile::link(path("gone"), path("dangling")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    ASSERT_EQ(::mkfifo(native("fifo").constData(), 0600), 0);
    const std::optional<FileIdentity> input = identityOf(path("input"));
    ASSERT_TRUE(input.has_value());
    struct Case {
        QString path;
        const char* refusal;  // nullptr: written
    };
    const Case cases[] = {
        {path("input"), "is the input file"},
        {path("alias"), "is the input file"},
        {path("dangling"), "is a dangling link"},
        {path("folder"), "is a directory"},
        {path("fifo"), "FIFO (named pipe) that nobody reads"},
        {path("no/such/folder/out"), "the folder"},
        {"/dev/null", nullptr},
    };
    for (const Case& c : cases) {
        QString error;
        const bool ok = writeFileSafely(c.path, "report", &error, input);
        EXPECT_EQ(ok, c.refusal == nullptr) << c.path.toStdString();
        if (c.refusal) {
            EXPECT_TRUE(error.contains(c.refusal)) << error.toStdString();
        }
    }
    EXPECT_EQ(read("input"), "data");
    EXPECT_TRUE(isFifo("fifo"));
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A FIFO that is being read gets the data in place and stays a FIFO.
    QByteArray got;
    std::thread reader([&] {
        const int fd = ::open(native("fifo").constData(), O_RDONLY);
        char buf[64];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, n);
        ::close(fd);
    });
    QString error;
    bool ok = false;
    for (int attempt = 0; attempt < 200 && !ok; ++attempt) {  // until the reader has opened it
        ok = writeFileSafely(path("fifo"), "through the pipe", &error);
        if (!ok)
            ::usleep(10000);
    }
    reader.join();
    EXPECT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(isFifo("fifo"));
}
