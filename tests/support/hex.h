#pragma once

#include <QByteArray>
#include <QString>

namespace tarnel::test {

// "01 04 00 01" -> the bytes 0x01 0x04 0x00 0x01 (blanks are optional).
inline QByteArray bytes(const char* hex) {
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

}  // namespace tarnel::test
