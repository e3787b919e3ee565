#pragma once

#include <optional>

#include "sim/sim_bus.h"

namespace tarnel::sim {

enum class Framing { Rtu, Tcp };

// A request as the gateway's Modbus side sees it.
struct ModbusFrame {
    uint16_t transaction = 0;  // TCP only
    uint8_t unit = 0;
    Bytes pdu;  // function code and data
};

// How many bytes the first request in `buffer` takes: an RTU request by its
// function code (a write of several registers by its byte count), a TCP
// request by its MBAP length. Nothing while the buffer holds too little to
// tell or to hold the whole frame.
std::optional<size_t> RequestLength(const Bytes& buffer, Framing framing);

// The request in a whole frame; nothing for an RTU frame whose CRC fails.
std::optional<ModbusFrame> ParseRequest(const Bytes& frame, Framing framing);

// A reply frame: RTU with its CRC (low byte first), TCP with the MBAP header
// echoing the transaction.
Bytes ReplyFrame(const ModbusFrame& request, const Bytes& replyPdu, Framing framing);

// CRC-16/MODBUS as the frames carry it.
uint16_t Crc16(const Bytes& bytes, size_t count);

}  // namespace tarnel::sim
