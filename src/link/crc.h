#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarnel {

// CRC-16/MODBUS over `bytes`: start 0xFFFF, reflected polynomial 0xA001, no
// final XOR. Frames carry the low byte first.
uint16_t CalcCrc16(QByteArrayView bytes);

// The shortest RTU frame: an exception reply (unit, function, code, CRC).
constexpr qsizetype kShortestRtuFrame = 5;

// The forms in which an RTU frame may arrive, and which of them pass their
// CRC check: the frame as it is, or the frame with one 0x00 filler byte
// after its CRC. A frame and its filler also pass the check as one frame a
// byte longer (the CRC of a frame with its CRC appended is 0), so the two
// forms can both pass; which is meant follows from the reply's length.
struct RtuForms {
    bool plain = false;   // the last two bytes are the CRC
    bool filled = false;  // the two before a last 0x00 are
};
RtuForms RtuFrameForms(QByteArrayView received);

inline uint8_t crcLow(uint16_t crc) {
    return static_cast<uint8_t>(crc & 0xFF);
}
inline uint8_t crcHigh(uint16_t crc) {
    return static_cast<uint8_t>(crc >> 8);
}

}  // namespace tarnel
