#include "base/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <functional>

#include "base/whole_file.h"
#include "support/files.h"

namespace tarnel {
namespace {

using test::readFile;
using test::writeFile;

const QByteArray kNew = "new content\r\n";

QString kindOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return "nothing";
    if (S_ISLNK(info.st_mode)) return "link";
    if (S_ISFIFO(info.st_mode)) return "fifo";
    if (S_ISCHR(info.st_mode)) return "device";
    return S_ISDIR(info.st_mode) ? "folder" : "file";
}

// A folder of its own for each case, and the reading end of a FIFO or pipe.
struct Scratch {
    QTemporaryDir dir;
    int ends[2] = {-1, -1};
    // "{w}" stands for the pipe's writing end.
    QString at(QString name) const {
        name.replace("{w}", QString::number(ends[1]));
        return name.startsWith('/') ? name : dir.filePath(name);
    }
    QByteArray readEnd() const {
        char buffer[256];
        const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
        return QByteArray(buffer, std::max<ssize_t>(got, 0));
    }
    ~Scratch() {
        for (const int end : ends)
            if (end >= 0) ::close(end);
    }
};

// What the path names decides how it is written; the content is where the
// user expects it afterwards, and the path is still what it was.
TEST(SafeFile, EveryKindOfTarget) {
    const QString longName = QString(251, 'n') + ".csv";
    const struct {
        const char* name;
        QString path;  // in the folder, or absolute
        std::function<void(Scratch&)> make;
        QString contentAt;  // empty: the FIFO's or pipe's reading end
        QByteArray content;
        QString reason;  // empty when written
        QString kind;    // of the path afterwards
    } cases[] = {
        {"a regular file", "t", [](Scratch& t) { writeFile(t.at("t"), "old"); }, "t", kNew, "",
         "file"},
        {"a new file", "t", [](Scratch&) {}, "t", kNew, "", "file"},
        {"a read-only file", "t",
         [](Scratch& t) {
             writeFile(t.at("t"), "old");
             QFile::setPermissions(t.at("t"), QFile::ReadOwner | QFile::ReadOther);
         },
         "t", "old", "the file is read-only", "file"},
        {"a folder", "t", [](Scratch& t) { QDir(t.dir.path()).mkdir("t"); }, "none", "",
         "Is a directory", "folder"},
        {"a missing folder", "none/t", [](Scratch&) {}, "none/t", "", "No such file or directory",
         "nothing"},
        {"a symbolic link", "t",
         [](Scratch& t) {
             writeFile(t.at("real"), "old");
             QFile::link("real", t.at("t"));
         },
         "real", kNew, "", "link"},
        {"a dangling symbolic link", "t", [](Scratch& t) { QFile::link("made", t.at("t")); },
         "made", kNew, "", "link"},
        {"a FIFO", "t",
         [](Scratch& t) {
             ::mkfifo(QFile::encodeName(t.at("t")).constData(), 0644);
             t.ends[0] = ::open(QFile::encodeName(t.at("t")).constData(), O_RDONLY | O_NONBLOCK);
         },
         "", kNew, "", "fifo"},
        {"an open stream, as /dev/stdout", "/dev/fd/{w}",
         [](Scratch& t) { (void)::pipe2(t.ends, O_NONBLOCK); }, "", kNew, "", "link"},
        {"a device node", "/dev/null", [](Scratch&) {}, "/dev/null", "", "", "device"},
        {"a name of 255 bytes", longName, [&](Scratch& t) { writeFile(t.at(longName), "old"); },
         longName, kNew, "", "file"},
    };
    for (const auto& c : cases) {
        Scratch t;
        c.make(t);
        const FileWritten written = WriteWholeFile(t.at(c.path), kNew);
        EXPECT_EQ(written.written, c.reason.isEmpty()) << c.name;
        EXPECT_EQ(written.reason, c.reason) << c.name;
        EXPECT_EQ(c.contentAt.isEmpty() ? t.readEnd() : readFile(t.at(c.contentAt)), c.content)
            << c.name;
        EXPECT_EQ(kindOf(t.at(c.path)), c.kind) << c.name;
        EXPECT_TRUE(QDir(t.dir.path()).entryList({"*.tmp"}).isEmpty()) << c.name;
    }
}

// A FIFO nobody reads: the open waits a bounded time and says why, rather
// than hanging.
TEST(SafeFile, AFifoWithoutAReaderIsRefusedInTime) {
    Scratch t;
    ASSERT_EQ(::mkfifo(QFile::encodeName(t.at("f")).constData(), 0644), 0);
    FileWriter writer(t.at("f"));
    writer.setReaderWait(std::chrono::milliseconds(0));
    EXPECT_FALSE(writer.open());
    EXPECT_EQ(writer.reason(), "no program reads from the FIFO");
}

// A full disk: the write fails part way, the old file stays whole, and the
// reason is the system's.
TEST(SafeFile, AFullDiskKeepsTheOldFileAndSaysWhy) {
    const Scratch t;
    ASSERT_TRUE(writeFile(t.at("log.txt"), QByteArray(25'000, 'o')));
    size_t room = 4096;
    const WriteCall fillsUp = [&room](int fd, const void* data, size_t size) -> ssize_t {
        errno = ENOSPC;
        const ssize_t written = room == 0 ? -1 : ::write(fd, data, std::min(size, room));
        room -= std::max<ssize_t>(written, 0);
        return written;
    };
    const FileWritten written = WriteWholeFile(t.at("log.txt"), QByteArray(30'000, 'n'), fillsUp);
    EXPECT_EQ(written.reason, "No space left on device");
    EXPECT_EQ(readFile(t.at("log.txt")), QByteArray(25'000, 'o'));
    EXPECT_EQ(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"log.txt"});
    // A device that is full at every write, written directly.
    EXPECT_EQ(WriteWholeFile("/dev/full", kNew).reason, "No space left on device");
}

// The new content is on the disk before it takes the old one's name: the
// sync comes while the target still holds the old content, and a sync that
// fails keeps the old file.
TEST(SafeFile, SyncsBeforeTheRename) {
    const Scratch t;
    ASSERT_TRUE(writeFile(t.at("s.ini"), "old"));
    QByteArray atSync;
    const SyncCall seen = [&](int fd) {
        atSync = readFile(t.at("s.ini"));
        return ::fsync(fd);
    };
    EXPECT_TRUE(WriteWholeFile(t.at("s.ini"), kNew, {}, seen));
    EXPECT_EQ(atSync, "old");
    EXPECT_EQ(readFile(t.at("s.ini")), kNew);
    const SyncCall fails = [](int) {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(WriteWholeFile(t.at("s.ini"), "newer", {}, fails).reason, "Input/output error");
    EXPECT_EQ(readFile(t.at("s.ini")), kNew);
    EXPECT_EQ(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"s.ini"});
}

// A link in a sticky folder anyone may write is followed only when it is the
// caller's or the folder owner's, as the kernel's protected-symlinks rule.
TEST(SafeFile, APlantedLinkInASharedFolderIsNotFollowed) {
    constexpr mode_t kShared = S_IFDIR | 01777;
    EXPECT_FALSE(MayFollowLink(kShared, 0, 1000, 0));
    EXPECT_TRUE(MayFollowLink(kShared, 0, 0, 1000));      // the folder owner's
    EXPECT_TRUE(MayFollowLink(kShared, 0, 1000, 1000));   // the caller's own
    EXPECT_TRUE(MayFollowLink(S_IFDIR | 0777, 0, 1000, 0));  // not sticky
    EXPECT_TRUE(MayFollowLink(S_IFDIR | 01775, 0, 1000, 0)); // not for anyone
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    const Scratch t;
    ASSERT_EQ(::chmod(QFile::encodeName(t.dir.path()).constData(), 01777), 0);
    ASSERT_TRUE(writeFile(t.at("secret"), "root's"));
    ASSERT_TRUE(QFile::link(t.at("secret"), t.at("report.html")));
    ASSERT_EQ(::lchown(QFile::encodeName(t.at("report.html")).constData(), 65534, 65534), 0);
    EXPECT_EQ(WriteWholeFile(t.at("report.html"), kNew).reason,
              "a symbolic link of another user in a shared folder is not followed");
    EXPECT_EQ(readFile(t.at("secret")), "root's");
}

// What a killed write left goes at the next write in its folder; a fresh one
// (a write in progress) and files that only look alike stay.
TEST(SafeFile, StaleTemporariesOfKilledWritesGo) {
    const Scratch t;
    const auto aged = [&](const QString& name, int seconds) {
        ASSERT_TRUE(writeFile(t.at(name), "part"));
        const timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(t.at(name)).constData(), times, 0), 0);
    };
    aged("tarnel-ab12cd.tmp", 61);
    aged("tarnel-zz99zz.tmp", 30);
    aged("tarnel-AB12CD.tmp", 3600);
    aged("tarnel-ab12c.tmp", 3600);
    aged("mine-ab12cd.tmp", 3600);
    EXPECT_TRUE(WriteWholeFile(t.at("s.ini"), kNew));
    QStringList left = QDir(t.dir.path()).entryList(QDir::Files);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (QStringList{"mine-ab12cd.tmp", "s.ini", "tarnel-AB12CD.tmp",
                                 "tarnel-ab12c.tmp", "tarnel-zz99zz.tmp"}));

}

TEST(FileNames, KeepTheirBytes) {
    for (const QByteArray& bytes :
         {QByteArray("caf\xC3\xA9"), QByteArray("caf\xE9"), QByteArray("\xED\xB2\x80"),
          QByteArray("\xF4\x90\x80\x80"), QByteArray("\xC0\xAF\xFF")})
        EXPECT_EQ(FileNameBytes(FileNameFromBytes(bytes.toStdString())), bytes)
            << bytes.toHex().constData();
    EXPECT_EQ(FileNameFromBytes("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
}

}  // namespace
}  // namespace tarnel
