#include "base/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace tarnel {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

// UTF-8 sequence at `at` as one code point; 0 bytes used when not valid
// (overlong forms, surrogates and values past U+10FFFF are not).
std::pair<char32_t, int> utf8At(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > bytes.size()) return {0, 0};
    char32_t point = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return {0, 0};
    return {point, length};
}

bool isEscapedByte(QChar c) {
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// Where a symbolic link points, as a path from here; empty (errno set) when
// it cannot be read.
QByteArray linkTarget(const QByteArray& link) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
    if (length < 0) return {};
    if (length == sizeof buffer) {
        errno = ENAMETOOLONG;
        return {};
    }
    const QByteArray target(buffer, length);
    return target.startsWith('/') ? target : folderOf(link) + '/' + target;
}

// A link in /proc (/dev/stdout, /dev/fd/N) names a descriptor the process
// already has open, not a file to replace: the output may go to a terminal,
// a pipe or a file the shell opened.
bool namesOpenStream(const QByteArray& link) {
    const std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(folderOf(link).constData(), nullptr), &std::free);
    return real && std::strncmp(real.get(), "/proc/", 6) == 0;
}

enum class TargetKind { Missing, Regular, Stream, Directory, Other, PlantedLink, Failed };

struct Target {
    TargetKind kind;
    QByteArray path;  // with the symbolic links followed
    struct stat info {};
    int error = 0;  // for Failed
};

TargetKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return TargetKind::Regular;
    if (S_ISFIFO(mode) || S_ISCHR(mode)) return TargetKind::Stream;
    return S_ISDIR(mode) ? TargetKind::Directory : TargetKind::Other;
}

// A link someone else planted in a shared folder is refused, as the kernel
// refuses it (EACCES) to a program that opens the link by its name.
bool linkMayBeFollowed(const QByteArray& link, const struct stat& info) {
    struct stat folder {};
    if (::stat(folderOf(link).constData(), &folder) != 0) return false;
    return MayFollowLink(folder.st_mode, folder.st_uid, info.st_uid, ::geteuid());
}

// What `path` names once its symbolic links are followed; a dangling link
// gives the missing file it names.
Target resolveTarget(QByteArray path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0) {
            if (errno == ENOENT) return {TargetKind::Missing, path};
            return {TargetKind::Failed, path, {}, errno};
        }
        if (!S_ISLNK(info.st_mode)) return {kindOf(info.st_mode), path, info};
        if (namesOpenStream(path)) return {TargetKind::Stream, path, info};
        if (!linkMayBeFollowed(path, info)) return {TargetKind::PlantedLink, path, info};
        path = linkTarget(path);
        if (path.isEmpty()) return {TargetKind::Failed, path, {}, errno};
    }
    return {TargetKind::Failed, path, {}, ELOOP};
}

constexpr char kTagLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTagLength = 6;

bool isTemporaryName(const char* name) {
    const std::string_view text(name);
    constexpr std::string_view prefix = "tarnel-", suffix = ".tmp";
    if (text.size() != prefix.size() + kTagLength + suffix.size()) return false;
    if (!text.starts_with(prefix) || !text.ends_with(suffix)) return false;
    const std::string_view tag = text.substr(prefix.size(), kTagLength);
    return tag.find_first_not_of(kTagLetters) == std::string_view::npos;
}

QByteArray randomTag() {
    QByteArray tag(kTagLength, '0');
    for (char& c : tag)
        c = kTagLetters[QRandomGenerator::global()->bounded(int{sizeof kTagLetters - 1})];
    return tag;
}

// While a FIFO's reader is gone a write would raise SIGPIPE, which ends the
// program; held back for the write, the write fails with EPIPE instead.
class PipeSignalHeld {
public:
    PipeSignalHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~PipeSignalHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

}  // namespace

QString SystemReason(int error) {
    char buffer[256];
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

QString FileNameFromBytes(std::string_view bytes) {
    QString name;
    name.reserve(static_cast<qsizetype>(bytes.size()));
    for (size_t at = 0; at < bytes.size();) {
        const auto [point, length] = utf8At(bytes, at);
        if (length == 0) {
            name += QChar(0xDC00 + static_cast<unsigned char>(bytes[at]));
            ++at;
            continue;
        }
        const char32_t one[] = {point};
        name += QString::fromUcs4(one, 1);
        at += static_cast<size_t>(length);
    }
    return name;
}

QByteArray FileNameBytes(const QString& name) {
    if (std::none_of(name.begin(), name.end(), isEscapedByte)) return name.toUtf8();
    QByteArray bytes;
    qsizetype plain = 0;  // start of the text not yet converted
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name[i])) continue;
        bytes += QStringView(name).mid(plain, i - plain).toUtf8();
        bytes += static_cast<char>(name[i].unicode() - 0xDC00);
        plain = i + 1;
    }
    return bytes + QStringView(name).mid(plain).toUtf8();
}

int RemoveStaleTemporaries(const QByteArray& folder, std::chrono::seconds age) {
    const auto close = [](DIR* open) { ::closedir(open); };
    const std::unique_ptr<DIR, decltype(close)> dir(::opendir(folder.constData()), close);
    if (!dir) return 0;
    const time_t before = ::time(nullptr) - static_cast<time_t>(age.count());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isTemporaryName(entry->d_name)) continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_mtime >= before)
            continue;
        if (::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0) ++removed;
    }
    return removed;
}

bool OpenForReading(QFile& file, const QString& path) {
    const int fd = ::open(FileNameBytes(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
    ::close(fd);
    return false;
}

bool MayFollowLink(mode_t folderMode, uid_t folderOwner, uid_t linkOwner, uid_t caller) {
    const bool shared = (folderMode & S_ISVTX) && (folderMode & S_IWOTH);
    return !shared || linkOwner == caller || linkOwner == folderOwner;
}

FileWriter::FileWriter(const QString& path, WriteCall write, SyncCall sync)
    : path_(FileNameBytes(path)), write_(std::move(write)), sync_(std::move(sync)) {
    if (!write_)
        write_ = [](int fd, const void* data, size_t size) { return ::write(fd, data, size); };
    if (!sync_) sync_ = [](int fd) { return ::fsync(fd); };
}

FileWriter::~FileWriter() {
    discard();
}

bool FileWriter::open() {
    if (failed_ || fd_ >= 0) return fail(EBUSY);
    const Target target = resolveTarget(path_);
    target_ = target.path;
    switch (target.kind) {
        case TargetKind::Missing:
            return openTemporary(nullptr);
        case TargetKind::Regular:
            // The mode bits, not the access check alone: root may write
            // anything, but a file made read-only is kept as it is.
            if ((target.info.st_mode & 0222) == 0)
                return fail(QStringLiteral("the file is read-only"));
            if (::access(target_.constData(), W_OK) != 0) return fail(errno);
            return openTemporary(&target.info);
        case TargetKind::Stream:
            direct_ = true;
            return openStream();
        case TargetKind::Directory:
            return fail(EISDIR);
        case TargetKind::Other:
            return fail(QStringLiteral("not a file, a FIFO or a character device"));
        case TargetKind::PlantedLink:
            return fail(QStringLiteral(
                "a symbolic link of another user in a shared folder is not followed"));
        case TargetKind::Failed:
            break;
    }
    return fail(target.error);
}

// A FIFO without a reader would hold a blocking open for good: it is opened
// without blocking, tried again while the wait lasts, then refused. The
// writes that follow block as usual.
bool FileWriter::openStream() {
    const auto until = std::chrono::steady_clock::now() + readerWait_;
    for (;;) {
        fd_ = ::open(target_.constData(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ >= 0) {
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
            return true;
        }
        if (errno != ENXIO) return fail(errno);
        if (std::chrono::steady_clock::now() >= until)
            return fail(QStringLiteral("no program reads from the FIFO"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The new content goes to a file beside the target with a name short enough
// for any target's folder (a target's own name may use all 255 bytes).
bool FileWriter::openTemporary(const struct stat* existing) {
    const QByteArray folder = folderOf(target_);
    RemoveStaleTemporaries(folder);
    const mode_t mode = existing ? (existing->st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray name = folder + "/tarnel-" + randomTag() + ".tmp";
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ >= 0) {
            temporary_ = name;
        } else if (errno != EEXIST) {
            return fail(errno);
        }
    }
    if (fd_ < 0) return fail(EEXIST);
    if (existing) {
        // What the old file had, as far as the system lets us: the umask
        // may have taken bits away, and root makes files its own.
        if (::geteuid() == 0) (void)::fchown(fd_, existing->st_uid, existing->st_gid);
        (void)::fchmod(fd_, mode);
    }
    return true;
}

bool FileWriter::write(QByteArrayView bytes) {
    if (failed_) return false;
    if (fd_ < 0) return fail(EBADF);
    std::optional<PipeSignalHeld> held;
    if (direct_) held.emplace();
    const char* data = bytes.data();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = write_(fd_, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return fail(errno);
        if (written == 0) return fail(EIO);
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

bool FileWriter::commit() {
    if (failed_) return false;
    if (fd_ < 0) return fail(EBADF);
    // On the disk before the rename: a crash then leaves the old file or the
    // whole new one.
    if (!direct_ && sync_(fd_) != 0) return fail(errno);
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return fail(errno);
    if (direct_) return true;
    if (::rename(temporary_.constData(), target_.constData()) != 0) return fail(errno);
    temporary_.clear();
    const int folder = ::open(folderOf(target_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);  // the rename itself; a file system may not sync folders
        ::close(folder);
    }
    return true;
}

bool FileWriter::fail(int error) {
    return fail(SystemReason(error));
}

bool FileWriter::fail(const QString& reason) {
    if (!failed_) reason_ = reason;
    failed_ = true;
    discard();
    return false;
}

void FileWriter::discard() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temporary_.isEmpty()) ::unlink(std::exchange(temporary_, {}).constData());
}

}  // namespace tarnel
