#include "link/crc.h"

namespace tarnel {

uint16_t CalcCrc16(QByteArrayView bytes) {
    uint16_t crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

}  // namespace tarnel
