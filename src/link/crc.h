#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarnel {

// CRC-16/MODBUS over `bytes`: start 0xFFFF, reflected polynomial 0xA001, no
// final XOR. Frames carry the low byte first.
uint16_t CalcCrc16(QByteArrayView bytes);

inline uint8_t crcLow(uint16_t crc) {
    return static_cast<uint8_t>(crc & 0xFF);
}
inline uint8_t crcHigh(uint16_t crc) {
    return static_cast<uint8_t>(crc >> 8);
}

}  // namespace tarnel
