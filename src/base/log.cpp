#include "base/log.h"

#include <QFile>
#include <QThread>

namespace tarnel {

Log::Log(QObject* parent) : QObject(parent) {}

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
    emit lineAppended(line);
}

void Log::clear() {
    lines_.clear();
    emit cleared();
}

bool Log::writeTo(const QString& path, QString* reason) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (reason) *reason = file.errorString();
        return false;
    }
    QByteArray text;
    for (const QString& line : lines_) {
        text += line.toUtf8();
        text += "\r\n";
    }
    return file.write(text) == text.size();
}

}  // namespace tarnel
