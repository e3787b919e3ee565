#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace tarnel {

// Writes `content` as the whole of `path`: beside it, then renamed over it,
// so a failure leaves the old file. False when it could not be written.
inline bool WriteWholeFile(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}

}  // namespace tarnel
