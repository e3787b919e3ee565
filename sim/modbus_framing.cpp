#include "sim/modbus_framing.h"

namespace tarnel::sim {

uint16_t Crc16(const Bytes& bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::optional<size_t> RequestLength(const Bytes& buffer, Framing framing) {
    if (framing == Framing::Tcp) {
        if (buffer.size() < 6) return std::nullopt;
        const size_t length = 6 + (size_t{buffer[4]} << 8 | buffer[5]);
        return buffer.size() >= length ? std::optional(length) : std::nullopt;
    }
    if (buffer.size() < 2) return std::nullopt;
    size_t length = 8;  // address, function, four bytes, CRC: reads and single writes
    switch (buffer[1]) {
        case 0x10:
            if (buffer.size() < 7) return std::nullopt;
            length = 9 + size_t{buffer[6]};
            break;
        case 0x2B: length = 7; break;  // read device identification: MEI, code, object
        default: break;
    }
    return buffer.size() >= length ? std::optional(length) : std::nullopt;
}

std::optional<ModbusFrame> ParseRequest(const Bytes& frame, Framing framing) {
    ModbusFrame request;
    if (framing == Framing::Tcp) {
        if (frame.size() < 8) return std::nullopt;
        request.transaction = static_cast<uint16_t>(frame[0] << 8 | frame[1]);
        request.unit = frame[6];
        request.pdu.assign(frame.begin() + 7, frame.end());
        return request;
    }
    if (frame.size() < 4) return std::nullopt;
    const uint16_t crc = Crc16(frame, frame.size() - 2);
    if (frame[frame.size() - 2] != (crc & 0xFF) || frame[frame.size() - 1] != crc >> 8) return std::nullopt;
    request.unit = frame[0];
    request.pdu.assign(frame.begin() + 1, frame.end() - 2);
    return request;
}

Bytes ReplyFrame(const ModbusFrame& request, const Bytes& replyPdu, Framing framing) {
    Bytes frame;
    if (framing == Framing::Tcp) {
        const size_t length = replyPdu.size() + 1;
        for (const size_t byte : {size_t{request.transaction} >> 8, size_t{request.transaction} & 0xFF, size_t{0},
                                  size_t{0}, length >> 8, length & 0xFF})
            frame.push_back(static_cast<uint8_t>(byte));
        frame.push_back(request.unit);
        for (const uint8_t byte : replyPdu) frame.push_back(byte);
        return frame;
    }
    frame.push_back(request.unit);
    for (const uint8_t byte : replyPdu) frame.push_back(byte);
    const uint16_t crc = Crc16(frame, frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

}  // namespace tarnel::sim
