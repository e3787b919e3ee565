#pragma once

#include <QObject>
#include <QStringList>

namespace tarnel {

// The tool's running record: a list of whole lines, kept exactly as added (a
// trailing carriage return included). It starts with one empty line.
// append() may be called from any thread: a line from another thread is
// carried to the log's own thread and arrives whole, in the order of the calls.
class Log : public QObject {
    Q_OBJECT
public:
    explicit Log(QObject* parent = nullptr);

    void append(const QString& line);
    void clear();
    const QStringList& lines() const { return lines_; }

    // Writes every line ended by CR LF, replacing the file. False when the file
    // cannot be created; nothing is created then, and `reason` (when given)
    // says why in the system's words.
    bool writeTo(const QString& path, QString* reason = nullptr) const;

signals:
    void lineAppended(const QString& line);
    void cleared();

private:
    void appendHere(const QString& line);

    QStringList lines_{QString()};
};

}  // namespace tarnel
