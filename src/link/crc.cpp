#include "link/crc.h"

#include <array>

namespace tarnel {
namespace {

// CRC-16/MODBUS (reflected polynomial 0xA001), one table entry per byte value.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        auto crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        table[static_cast<size_t>(value)] = crc;
    }
    return table;
}();

// Whether the last two bytes of `frame` are the CRC of the bytes before.
bool crcMatches(QByteArrayView frame) {
    if (frame.size() < kShortestRtuFrame) return false;
    const uint16_t crc = CalcCrc16(frame.first(frame.size() - 2));
    return static_cast<uint8_t>(frame[frame.size() - 2]) == crcLow(crc) &&
           static_cast<uint8_t>(frame[frame.size() - 1]) == crcHigh(crc);
}

}  // namespace

RtuForms RtuFrameForms(QByteArrayView received) {
    const bool filler = !received.isEmpty() && received.back() == '\0';
    return {.plain = crcMatches(received), .filled = filler && crcMatches(received.chopped(1))};
}

uint16_t CalcCrc16(QByteArrayView bytes) {
    uint16_t crc = 0xFFFF;
    for (const char c : bytes)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ static_cast<uint8_t>(c)) & 0xFF]);
    return crc;
}

}  // namespace tarnel
