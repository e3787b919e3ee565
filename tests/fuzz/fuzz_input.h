#pragma once

// What the fuzz targets share: the input as Qt bytes, the forms in which a
// gateway's reply reaches the tool, the input as a file for the loaders that
// read files, and the check that stops a run when an invariant breaks.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "link/request_frames.h"

namespace tarnel::fuzz {

inline QByteArray Bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A broken invariant is a finding: stop here so libFuzzer keeps the input.
inline void Check(bool holds) {
    if (!holds) std::abort();
}

// Bits 3 and 4 of `choice` pick the form of the reply `body`: as given (its
// CRC included, if any), with its CRC appended here (so the input gets past
// the CRC check), with the CRC and the one trailing 0x00 filler byte the
// gateway may add, or with the CRC behind a leading 0x00 garbage byte.
inline QByteArray FramedReply(uint8_t choice, const QByteArray& body) {
    const QByteArray zero(1, '\0');
    switch (choice >> 3 & 3) {
        case 0:
            return body;
        case 1:
            return RtuFrame(body);
        case 2:
            return RtuFrame(body) + zero;
        default:
            return zero + RtuFrame(body);
    }
}

// The parts that post events to their own thread need an application to
// deliver them; libFuzzer's main and the replay make none.
inline void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static const QCoreApplication application(argc, argv);
}

// The input as the content of the file `name` in a folder that lives as long
// as the process; the file is rewritten for every input.
inline QString InputFile(const QByteArray& content, const char* name) {
    static const QTemporaryDir folder;
    const QString path = folder.filePath(QString::fromLatin1(name));
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          file.write(content) == content.size());
    return path;
}

}  // namespace tarnel::fuzz
