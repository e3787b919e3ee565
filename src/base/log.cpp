#include "base/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QThread>
#include <cerrno>

#include "base/safe_file.h"

namespace tarnel {
namespace {

QByteArray fileLine(const QString& line) {
    return line.toUtf8() + "\r\n";
}

// A running window holds a lock on its session file for as long as it
// writes to it. On a file system without locks the file stays unlocked, and
// pruning goes by age alone, as it did before there were locks.
void lockSession(const QFile& file) {
    (void)::flock(file.handle(), LOCK_EX | LOCK_NB);
}

// Removes an old session file unless another window still writes it (it
// holds the lock). The lock is held while the name goes, so a window cannot
// take the file in between.
void removeUnlessInUse(const QString& path) {
    const int fd = ::open(FileNameBytes(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        ::unlink(FileNameBytes(path).constData());
    ::close(fd);
}

// A new session file in `dir`, named for the start time; a second window
// started in the same millisecond gets a numbered name. Null, with the
// reason, when none can be made.
std::unique_ptr<QFile> newSessionFile(const QDir& dir, QString& reason) {
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
    for (int number = 1; number < 10; ++number) {
        const QString name = number == 1
                                 ? QStringLiteral("session-%1.txt").arg(stamp)
                                 : QStringLiteral("session-%1-%2.txt").arg(stamp).arg(number);
        auto file = std::make_unique<QFile>(dir.filePath(name));
        // Unbuffered: each line reaches the system as it comes, so a crash
        // loses nothing that was shown.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return file;
        reason = file->errorString();
        if (!file->exists()) break;
    }
    return nullptr;
}

}  // namespace

Log::Log(QObject* parent) : QObject(parent) {}

Log::~Log() = default;

void Log::append(const QString& line) {
    if (QThread::currentThread() == thread()) {
        appendHere(line);
        return;
    }
    // Queued calls from one thread are delivered in the order they were made.
    QMetaObject::invokeMethod(
        this, [this, line] { appendHere(line); }, Qt::QueuedConnection);
}

void Log::appendHere(const QString& line) {
    lines_.append(line);
    characters_ += line.size();
    const bool wasBroken = sessionBroken_;
    QString reason;
    if (session_ && !sessionBroken_) {
        const QByteArray bytes = fileLine(line);
        sessionBroken_ = session_->write(bytes) != bytes.size();
        if (sessionBroken_) reason = session_->errorString();
        if (!sessionBroken_ && session_->pos() > sessionBound_) {
            reason = rotateSession();
            sessionBroken_ = !reason.isEmpty();
        }
    }
    if (lines_.size() > kMaxLines || characters_ > kMaxCharacters) dropOldest();
    emit lineAppended(line);
    if (sessionBroken_ && !wasBroken) appendHere(sessionFailure(reason));
}

QString Log::sessionFailure(const QString& reason) const {
    return QStringLiteral("Session file not written: %1: %2").arg(sessionFile(), reason);
}

void Log::dropOldest() {
    // A tenth at a time, so a log at its bound does not move its whole list
    // for every new line.
    const qsizetype keepLines = kMaxLines - kMaxLines / 10;
    const qsizetype keepCharacters = kMaxCharacters - kMaxCharacters / 10;
    qsizetype drop = 0;
    while (drop < lines_.size() - 1 &&
           (lines_.size() - drop > keepLines || characters_ > keepCharacters)) {
        characters_ -= lines_.at(drop).size();
        ++drop;
    }
    lines_.remove(0, drop);
    dropped_ += drop;
}

// The session file keeps its newest half, from a line's start, under a first
// line that says older ones went; it is written beside the file and renamed
// over it, so a crash leaves the old file or the new one. Why it failed, or
// nothing: a file that cannot be cut is not written on.
QString Log::rotateSession() {
    const QString name = session_->fileName();
    QFile from(name);
    const qint64 size = session_->pos();
    if (!from.open(QIODevice::ReadOnly) || !from.seek(size - sessionBound_ / 2))
        return from.errorString();
    QByteArray tail = from.readAll();
    tail.remove(0, tail.indexOf('\n') + 1);
    const QByteArray head =
        fileLine(QStringLiteral("Older lines of this session were dropped to keep its file small."));
    const QString part = name + QStringLiteral(".part");
    QFile fresh(part);
    if (!fresh.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        fresh.write(head + tail) != head.size() + tail.size() || !fresh.flush()) {
        const QString reason = fresh.errorString();
        fresh.remove();
        return reason;
    }
    fresh.close();
    if (::rename(FileNameBytes(part).constData(), FileNameBytes(name).constData()) != 0) {
        const QString reason = SystemReason(errno);
        fresh.remove();
        return reason;
    }
    auto reopened = std::make_unique<QFile>(name);
    if (!reopened->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return reopened->errorString();
    lockSession(*reopened);
    const qint64 cut = size - tail.size();
    sessionViewStart_ = sessionViewStart_ >= cut ? sessionViewStart_ - cut + head.size() : 0;
    session_ = std::move(reopened);
    return {};
}

void Log::clear() {
    lines_.clear();
    characters_ = 0;
    dropped_ = 0;
    if (session_) sessionViewStart_ = session_->pos();
    emit cleared();
}

bool Log::startSession(const QString& folder, int keep) {
    const QDir dir(folder);
    QString reason = QStringLiteral("the folder cannot be made");
    std::unique_ptr<QFile> file =
        dir.mkpath(QStringLiteral(".")) ? newSessionFile(dir, reason) : nullptr;
    if (!file) {
        append(QStringLiteral("Session file not written: %1: %2").arg(folder, reason));
        return false;
    }
    lockSession(*file);
    session_ = std::move(file);
    sessionBroken_ = false;
    sessionViewStart_ = 0;
    QByteArray sofar;
    for (const QString& line : lines_)
        sofar += fileLine(line);
    if (session_->write(sofar) != sofar.size()) {
        sessionBroken_ = true;
        append(sessionFailure(session_->errorString()));
    }

    // The names sort by time: keep the newest, and any that another window
    // still writes.
    const QStringList sessions =
        dir.entryList({QStringLiteral("session-*.txt")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (qsizetype i = keep; i < sessions.size(); ++i)
        removeUnlessInUse(dir.filePath(sessions.at(i)));
    return true;
}

QString Log::sessionFile() const {
    return session_ ? session_->fileName() : QString();
}

bool Log::copySessionTail(FileWriter& to, QString& reason) const {
    QFile from(session_->fileName());
    if (!from.open(QIODevice::ReadOnly) || !from.seek(sessionViewStart_)) {
        reason = from.errorString();
        return false;
    }
    constexpr qint64 kChunk = 1 << 20;
    qint64 left = session_->pos() - sessionViewStart_;
    while (left > 0) {
        const QByteArray chunk = from.read(std::min(left, kChunk));
        if (chunk.isEmpty()) {
            reason = from.errorString();
            return false;
        }
        if (!to.write(chunk)) {
            reason = to.reason();
            return false;
        }
        left -= chunk.size();
    }
    return true;
}

bool Log::writeTo(const QString& path, QString* reason) const {
    FileWriter file(path);
    QString why;
    bool written = file.open();
    if (written && dropped_ > 0 && session_ && !sessionBroken_) {
        written = copySessionTail(file, why);
    } else if (written) {
        QByteArray text;
        if (dropped_ > 0)
            text = fileLine(
                QStringLiteral("%1 earlier lines of this log were dropped and are not in this file.")
                    .arg(dropped_));
        for (const QString& line : lines_)
            text += fileLine(line);
        written = file.write(text);
    }
    written = written && file.commit();
    if (!written && reason) *reason = why.isEmpty() ? file.reason() : why;
    return written;
}

}  // namespace tarnel
