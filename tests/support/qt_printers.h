#pragma once

// Readable GoogleTest messages for Qt's text and byte types; included into
// every test source by the build.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *out << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *out << '}';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '[' << bytes.toHex(' ').toUpper().toStdString() << ']';
}
