#include "mbus/mbus_frames.h"

#include <cstddef>

namespace tarnel {

Bytes ShortFrame(uint8_t c, uint8_t a) {
    return {0x10, c, a, static_cast<uint8_t>(c + a), 0x16};
}

Bytes LongFrame(uint8_t c, uint8_t a, uint8_t ci, const Bytes& data) {
    const auto length = static_cast<uint8_t>(3 + data.size());
    Bytes frame;
    frame.reserve(data.size() + 9);
    for (const uint8_t byte : {uint8_t{0x68}, length, length, uint8_t{0x68}, c, a, ci})
        frame.push_back(byte);
    for (const uint8_t byte : data)
        frame.push_back(byte);
    uint8_t sum = 0;
    for (std::size_t i = 4; i < frame.size(); ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    frame.push_back(sum);
    frame.push_back(0x16);
    return frame;
}

Bytes SndNke(uint8_t address) {
    return ShortFrame(0x40, address);
}

Bytes ReqUd2(uint8_t address) {
    return ShortFrame(0x7B, address);
}

Bytes SelectById(const uint8_t (&id)[4]) {
    return LongFrame(0x53, 0xFD, 0x52, {id[0], id[1], id[2], id[3], 0xFF, 0xFF, 0xFF, 0xFF});
}

Bytes SetPrimaryAddress(uint8_t address, uint8_t newAddress) {
    return LongFrame(0x73, address, 0x51, {0x01, 0x7A, newAddress});
}

Bytes SendRecord(uint8_t address, const Bytes& record) {
    return LongFrame(0x53, address, 0x51, record);
}

Bytes SetBaudrate(uint8_t address, uint8_t ci) {
    return LongFrame(0x53, address, ci);
}

}  // namespace tarnel
