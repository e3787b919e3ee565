#include "base/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <functional>

#include "base/whole_file.h"

namespace tarnel {
namespace {

const QByteArray kNew = "new content\r\n";

QByteArray readAll(int fd) {
    QByteArray content;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, got);
    return content;
}

QByteArray readBytes(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0) return "(none)";
    const QByteArray content = readAll(fd);
    ::close(fd);
    return content;
}

bool writeBytes(const QByteArray& path, const QByteArray& content) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written =
        fd >= 0 && ::write(fd, content.constData(), content.size()) == content.size();
    if (fd >= 0) ::close(fd);
    return written;
}

QString kindOf(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) return "nothing";
    if (S_ISLNK(info.st_mode)) return "link";
    if (S_ISFIFO(info.st_mode)) return "fifo";
    if (S_ISCHR(info.st_mode)) return "device";
    if (S_ISDIR(info.st_mode)) return "folder";
    return "file";
}

// A folder of its own for each case.
struct Scratch {
    QTemporaryDir dir;
    QByteArray folder = QFile::encodeName(dir.path()) + '/';
    int reader = -1;   // the FIFO's or the pipe's reader
    int writer = -1;   // the pipe's writer
    QByteArray named;  // a path known only once made
    QByteArray at(const QByteArray& name) const {
        return name.startsWith('/') ? name : folder + name;
    }
    ~Scratch() {
        if (reader >= 0) ::close(reader);
        if (writer >= 0) ::close(writer);
        ::unlink(at("caf\xE9.csv").constData());  // QTemporaryDir cannot name it
    }
};

// What the path names decides how it is written, and the content is where
// the user expects it afterwards.
TEST(SafeFile, EveryKindOfTarget) {
    const QByteArray longName = QByteArray(251, 'n') + ".csv";
    const struct {
        const char* name;
        QByteArray path;  // in the folder, or absolute
        std::function<void(Scratch&)> make;
        QByteArray contentAt;  // where the content is read afterwards; empty: the FIFO
        QByteArray content;
        QString reason;  // empty when written
        QString kind;    // of the path afterwards
    } cases[] = {
        {"a regular file", "t", [](Scratch& t) { writeBytes(t.at("t"), "old"); }, "t", kNew, "",
         "file"},
        {"a new file", "t", [](Scratch&) {}, "t", kNew, "", "file"},
        {"a read-only file", "t",
         [](Scratch& t) {
             writeBytes(t.at("t"), "old");
             ::chmod(t.at("t").constData(), 0444);
         },
         "t", "old", "the file is read-only", "file"},
        {"a folder", "t", [](Scratch& t) { ::mkdir(t.at("t").constData(), 0755); }, "", "",
         "Is a directory", "folder"},
        {"a missing folder", "none/t", [](Scratch&) {}, "none/t", "(none)",
         "No such file or directory", "nothing"},
        {"a symbolic link", "t",
         [](Scratch& t) {
             writeBytes(t.at("real"), "old");
             (void)::symlink("real", t.at("t").constData());
         },
         "real", kNew, "", "link"},
        {"a dangling symbolic link", "t",
         [](Scratch& t) { (void)::symlink("made", t.at("t").constData()); }, "made", kNew, "",
         "link"},
        {"a FIFO", "t",
         [](Scratch& t) {
             ::mkfifo(t.at("t").constData(), 0644);
             t.reader = ::open(t.at("t").constData(), O_RDONLY | O_NONBLOCK);
         },
         "", kNew, "", "fifo"},
        {"an open stream, as /dev/stdout", "",
         [](Scratch& t) {
             int ends[2];
             (void)::pipe2(ends, O_NONBLOCK);
             t.reader = ends[0];
             t.writer = ends[1];
             t.named = "/dev/fd/" + QByteArray::number(ends[1]);
         },
         "", kNew, "", "link"},
        {"a device node", "/dev/null", [](Scratch&) {}, "/dev/null", "", "", "device"},
        {"a name of 255 bytes", longName, [&](Scratch& t) { writeBytes(t.at(longName), "old"); },
         longName, kNew, "", "file"},
        {"a name that is not UTF-8", "caf\xE9.csv", [](Scratch&) {}, "caf\xE9.csv", kNew, "",
         "file"},
    };
    for (const auto& c : cases) {
        Scratch t;
        c.make(t);
        const QByteArray path = c.path.isEmpty() ? t.named : t.at(c.path);
        const FileWritten written = WriteWholeFile(FileNameFromBytes(path.toStdString()), kNew);
        EXPECT_EQ(written.written, c.reason.isEmpty()) << c.name;
        EXPECT_EQ(written.reason, c.reason) << c.name;
        if (t.reader >= 0) {
            EXPECT_EQ(readAll(t.reader), c.content) << c.name;
        } else if (!c.contentAt.isEmpty()) {
            EXPECT_EQ(readBytes(t.at(c.contentAt)), c.content) << c.name;
        }
        EXPECT_EQ(kindOf(path), c.kind) << c.name;
        EXPECT_FALSE(QDir(t.dir.path()).entryList({"*.tmp"}).size())
            << c.name << ": a temporary file left";
    }
}

// A full disk: the write fails part way, the old file stays whole, and the
// reason is the system's.
TEST(SafeFile, AFullDiskKeepsTheOldFileAndSaysWhy) {
    const Scratch t;
    const QByteArray path = t.at("log.txt");
    ASSERT_TRUE(writeBytes(path, QByteArray(25'000, 'o')));
    size_t room = 4096;
    const WriteCall fillsUp = [&room](int fd, const void* data, size_t size) -> ssize_t {
        if (room == 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t written = ::write(fd, data, std::min(size, room));
        room -= static_cast<size_t>(written);
        return written;
    };
    const FileWritten written =
        WriteWholeFile(FileNameFromBytes(path.toStdString()), QByteArray(30'000, 'n'), fillsUp);
    EXPECT_FALSE(written);
    EXPECT_EQ(written.reason, "No space left on device");
    EXPECT_EQ(readBytes(path), QByteArray(25'000, 'o'));
    EXPECT_EQ(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"log.txt"});
    // A device that is full on every write, written directly.
    EXPECT_EQ(WriteWholeFile("/dev/full", kNew).reason, "No space left on device");
}

TEST(FileNames, KeepTheirBytes) {
    for (const QByteArray& bytes :
         {QByteArray("plain.csv"), QByteArray("caf\xC3\xA9"), QByteArray("caf\xE9"),
          QByteArray("\xED\xB2\x80"), QByteArray("\xF4\x90\x80\x80"), QByteArray("\xC0\xAF\xFF")})
        EXPECT_EQ(FileNameBytes(FileNameFromBytes(bytes.toStdString())), bytes)
            << bytes.toHex().constData();
    EXPECT_EQ(FileNameFromBytes("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
}

}  // namespace
}  // namespace tarnel
