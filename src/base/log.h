#pragma once

#include <QFile>
#include <QObject>
#include <QStringList>

#include <memory>

namespace tarnel {

class FileWriter;

// The tool's running record: a list of whole lines, kept exactly as added (a
// trailing carriage return included). It starts with one empty line.
// append() may be called from any thread: a line from another thread is
// carried to the log's own thread and arrives whole, in the order of the calls.
//
// Memory is bounded: past kMaxLines lines or kMaxCharacters characters the
// oldest lines are dropped from lines(). Nothing is lost when a session file is
// open: every line is also appended to it as it comes, and writeTo() then
// takes the dropped lines from there.
class Log : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxLines = 100'000;
    static constexpr qsizetype kMaxCharacters = 4 * 1024 * 1024;  // 8 MB of UTF-16
    // A session file past this is cut to its newest half.
    static constexpr qint64 kMaxSessionBytes = 50 * 1024 * 1024;

    explicit Log(QObject* parent = nullptr);
    ~Log() override;

    void append(const QString& line);
    // Empties the window's record; the session file keeps what it has, and
    // writeTo() writes what came after the clear.
    void clear();
    // The lines still held in memory: the newest ones.
    const QStringList& lines() const { return lines_; }
    // Lines dropped from the front of lines() since the last clear.
    qsizetype droppedLines() const { return dropped_; }

    // Appends every line, from now on, to a new file in `folder` (made when
    // missing), named for the start time, with the lines written so far. The
    // file is locked while the log writes it. Keeps the newest `keep` session
    // files of the folder and removes the others, but never one that is
    // locked: another window still writes it. False when the file cannot be
    // made (the log then runs without one). That, and a write to the file
    // that fails, each add one line that says so.
    bool startSession(const QString& folder, int keep = 10);
    QString sessionFile() const;
    // For tests: the session file's bound, kMaxSessionBytes by default.
    void setSessionBound(qint64 bytes) { sessionBound_ = bytes; }

    // Writes every line since the last clear ended by CR LF (those the
    // session file dropped at its bound, or could not take, are said to be
    // missing by a first line), replacing the
    // file with a FileWriter: a crash or a full disk leaves the old file or
    // the new one, never a torn one; a FIFO or a device is written directly.
    // False when it cannot be written: a missing folder, a full disk, or a
    // target whose mode bits grant no write (refused even where the user
    // could override them); nothing is changed then, and `reason` (when
    // given) says why.
    bool writeTo(const QString& path, QString* reason = nullptr) const;

signals:
    void lineAppended(const QString& line);
    void cleared();

private:
    void appendHere(const QString& line);
    void dropOldest();
    QString rotateSession();
    bool copySessionTail(FileWriter& to, QString& reason) const;
    QString sessionFailure(const QString& reason) const;

    QStringList lines_{QString()};
    qsizetype characters_ = 0;
    qsizetype dropped_ = 0;
    std::unique_ptr<QFile> session_;
    qint64 sessionViewStart_ = 0;  // offset of the first line since the last clear
    bool sessionBroken_ = false;   // a write to the session file failed
    qint64 sessionBound_ = kMaxSessionBytes;
};

}  // namespace tarnel
