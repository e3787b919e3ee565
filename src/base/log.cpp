#include "base/log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

namespace tarnel {
namespace {

QByteArray fileLine(const QString& line) {
    return line.toUtf8() + "\r\n";
}

// The mode bits, not the access check alone: root may write anything, but a
// file made read-only is kept as it is.
bool mayReplace(const QString& path, QString* reason) {
    const QFileInfo info(path);
    if (!info.exists()) return true;
    constexpr auto anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if ((info.permissions() & anyWrite) && info.isWritable()) return true;
    if (reason) *reason = QStringLiteral("the file is read-only");
    return false;
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
    if (session_ && !sessionBroken_) {
        const QByteArray bytes = fileLine(line);
        sessionBroken_ = session_->write(bytes) != bytes.size();
    }
    if (lines_.size() > kMaxLines || characters_ > kMaxCharacters) dropOldest();
    emit lineAppended(line);
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

void Log::clear() {
    lines_.clear();
    characters_ = 0;
    dropped_ = 0;
    if (session_) sessionViewStart_ = session_->pos();
    emit cleared();
}

bool Log::startSession(const QString& folder, int keep) {
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) return false;
    const QString name = QStringLiteral("session-%1.txt")
                             .arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz"));
    auto file = std::make_unique<QFile>(dir.filePath(name));
    // Unbuffered: each line reaches the system as it comes, so a crash loses
    // nothing that was shown.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return false;
    session_ = std::move(file);
    sessionBroken_ = false;
    sessionViewStart_ = 0;
    QByteArray sofar;
    for (const QString& line : lines_)
        sofar += fileLine(line);
    sessionBroken_ = session_->write(sofar) != sofar.size();

    // The names sort by time: keep the newest.
    const QStringList sessions =
        dir.entryList({QStringLiteral("session-*.txt")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (qsizetype i = keep; i < sessions.size(); ++i)
        QFile::remove(dir.filePath(sessions.at(i)));
    return true;
}

QString Log::sessionFile() const {
    return session_ ? session_->fileName() : QString();
}

bool Log::copySessionTail(QIODevice& to) const {
    QFile from(session_->fileName());
    if (!from.open(QIODevice::ReadOnly) || !from.seek(sessionViewStart_)) return false;
    constexpr qint64 kChunk = 1 << 20;
    qint64 left = session_->pos() - sessionViewStart_;
    while (left > 0) {
        const QByteArray chunk = from.read(std::min(left, kChunk));
        if (chunk.isEmpty() || to.write(chunk) != chunk.size()) return false;
        left -= chunk.size();
    }
    return true;
}

bool Log::writeTo(const QString& path, QString* reason) const {
    if (!mayReplace(path, reason)) return false;
    QSaveFile file(path);
    // Without direct write fallback, a folder where no temporary file can be
    // made refuses the save instead of truncating the target in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (reason) *reason = file.errorString();
        return false;
    }
    bool written = false;
    if (dropped_ > 0 && session_ && !sessionBroken_) {
        written = copySessionTail(file);
    } else {
        QByteArray text;
        for (const QString& line : lines_)
            text += fileLine(line);
        written = file.write(text) == text.size();
    }
    if (!written) {
        if (reason) *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (reason) *reason = file.errorString();
        return false;
    }
    return true;
}

}  // namespace tarnel
