#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <functional>
#include <string_view>

class QFile;

namespace tarnel {

// The system's write(2); a test puts in one that fails as a full disk does.
using WriteCall = std::function<ssize_t(int fd, const void* data, size_t size)>;
// The system's fsync(2); a test sees when it comes, or makes it fail.
using SyncCall = std::function<int(int fd)>;

// The system's words for an errno value ("No space left on device").
QString SystemReason(int error);

// A file name as the system's bytes and back, byte for byte: valid UTF-8 is
// decoded as usual, every other byte is kept as a lone surrogate
// (U+DC80..U+DCFF), so that a name that is not UTF-8 is still written under
// its own name. Qt's own file classes would turn such bytes into U+FFFD.
QString FileNameFromBytes(std::string_view bytes);
QByteArray FileNameBytes(const QString& name);

// Opens `path` for reading by its exact bytes (see FileNameFromBytes); false
// with the file's error string set when it cannot be opened.
bool OpenForReading(QFile& file, const QString& path);

// Writes a file whole, so that a failure never loses the old one. What is
// done depends on what the path names:
// - a regular file, or nothing yet: a temporary file with a short name in the
//   same folder is written, flushed to the disk and renamed over the target
//   only when every byte got there. A new file's mode follows the umask; a
//   replaced file keeps its mode (and, for root, its owner). A file whose
//   mode bits grant no write is refused, even for root;
// - a symbolic link: the file it points to is replaced (or made, when the
//   link dangles) and the link stays. As the kernel's protected-symlinks rule
//   has it, a link in a sticky folder anyone may write (/tmp) is not followed
//   when it belongs neither to the caller nor to the folder's owner: another
//   user may have planted it there;
// - a FIFO, a character device (a terminal, /dev/null) or an open stream
//   (/dev/stdout): written directly, as a shell's redirection would;
// - a directory, or anything else: refused.
// After the first failure every step fails, and reason() says why in the
// system's words ("No space left on device"). Dropped uncommitted, nothing
// is changed (but for bytes a FIFO or device already took).
class FileWriter {
public:
    explicit FileWriter(const QString& path, WriteCall write = {}, SyncCall sync = {});
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool open();
    bool write(QByteArrayView bytes);
    bool commit();
    const QString& reason() const { return reason_; }
    // How long a FIFO's open waits for a reader (5 s), then fails.
    void setReaderWait(std::chrono::milliseconds wait) { readerWait_ = wait; }

private:
    bool openStream();
    bool fail(int error);
    bool fail(const QString& reason);
    bool openTemporary(const struct stat* existing);
    void discard();

    QByteArray path_;    // the name given
    QByteArray target_;  // the file that is replaced or written
    QByteArray temporary_;
    WriteCall write_;
    SyncCall sync_;
    int fd_ = -1;
    bool direct_ = false;
    bool failed_ = false;
    QString reason_;
    std::chrono::milliseconds readerWait_{5000};
};

// Whether a symbolic link owned by `linkOwner`, in a folder of mode
// `folderMode` owned by `folderOwner`, may be followed by user `caller`.
bool MayFollowLink(mode_t folderMode, uid_t folderOwner, uid_t linkOwner, uid_t caller);

// Removes the temporary files a killed write of this program left in
// `folder` ("tarnel-xxxxxx.tmp", the caller's own, untouched for longer than
// `age`); a write in progress keeps its file fresh. Returns how many went.
int RemoveStaleTemporaries(const QByteArray& folder,
                           std::chrono::seconds age = std::chrono::seconds(60));

// What writing a file came to; true when written.
struct FileWritten {
    bool written = false;
    QString reason;  // the system's words when not written
    explicit operator bool() const { return written; }
};

}  // namespace tarnel
