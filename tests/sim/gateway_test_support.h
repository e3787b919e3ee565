#pragma once

// Modbus PDUs and RTU frames as the tool sends them to the simulated gateway,
// built here from the protocol, apart from the tool's and the simulator's
// own framing code; and the meters the gateway tests put on the bus.
#include <cstdint>
#include <vector>

#include "sim/sim_bus.h"
#include "support/hex.h"

namespace tarnel::sim::test_support {

constexpr uint16_t kKam = 0x2C2D;  // "KAM"

inline Bytes Hex(const char* hex) {
    const QByteArray bytes = test::bytes(hex);
    return {bytes.begin(), bytes.end()};
}

// REQ_UD2 as it goes on the bus: 10 7B A CS 16, CS = 0x7B + A.
inline Bytes ReqUd2(uint8_t address) {
    return {0x10, 0x7B, address, static_cast<uint8_t>(0x7B + address), 0x16};
}

inline Bytes ReadPdu(uint8_t function, uint16_t start, uint16_t count) {
    return {function, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start),
            static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
}

inline Bytes WriteSinglePdu(uint16_t number, uint16_t value) {
    return {0x06, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// Function 16 as the tool sends it: an odd payload gets one 0x00 pad byte.
inline Bytes WriteMultiplePdu(uint16_t start, Bytes data) {
    if (data.size() % 2) data.push_back(0x00);
    const auto count = static_cast<uint8_t>(data.size() / 2);
    Bytes pdu = {0x10,  static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start), 0x00,
                 count, static_cast<uint8_t>(data.size())};
    for (const uint8_t byte : data)
        pdu.push_back(byte);
    return pdu;
}

inline Bytes WordsToBytes(const std::vector<uint16_t>& words) {
    Bytes bytes;
    for (const uint16_t word : words) {
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word));
    }
    return bytes;
}

inline Bytes Exception(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | 0x80), code};
}

// CRC-16/MODBUS bit by bit (polynomial 0xA001 reflected, initial 0xFFFF).
inline uint16_t Crc16Modbus(const Bytes& bytes) {
    uint16_t crc = 0xFFFF;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>(crc >> 1 ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// An RTU frame: the unit, the PDU and the CRC, low byte first.
inline Bytes RtuFrame(uint8_t unit, const Bytes& pdu) {
    Bytes frame = {unit};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const uint16_t crc = Crc16Modbus(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

inline SimMeter Meter(uint8_t address, uint32_t id, uint8_t medium, Bytes records) {
    SimMeter meter;
    meter.address = address;
    meter.id = id;
    meter.manufacturer = kKam;
    meter.medium = medium;
    meter.records = std::move(records);
    return meter;
}

// A water meter at 5 reading 10000 l (32-bit integer, VIF 0x13) and a heat
// meter at 7 reading 12345678 kWh (8-digit BCD, VIF 0x06). Each RSP_UD is 27
// bytes: 68 15 15 68, C A CI, the 12-byte header, 6 record bytes, CS 16.
inline std::vector<SimMeter> TwoMeters() {
    return {Meter(5, 0x12345678, 0x07, {0x04, 0x13, 0x10, 0x27, 0x00, 0x00}),
            Meter(7, 0x87654321, 0x04, {0x0C, 0x06, 0x78, 0x56, 0x34, 0x12})};
}

}  // namespace tarnel::sim::test_support
