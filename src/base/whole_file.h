#pragma once

#include <QByteArray>
#include <QString>

#include "base/safe_file.h"

namespace tarnel {

// Writes `content` as the whole of `path` with a FileWriter: a failure
// leaves the old file, and says why.
inline FileWritten WriteWholeFile(const QString& path, const QByteArray& content,
                                  WriteCall write = {}, SyncCall sync = {}) {
    FileWriter file(path, std::move(write), std::move(sync));
    if (file.open() && file.write(content) && file.commit()) return {true, {}};
    return {false, file.reason()};
}

}  // namespace tarnel
