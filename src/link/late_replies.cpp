#include "link/late_replies.h"

#include <cmath>

namespace tarnel {
namespace {

constexpr int kFastLineBaud = 19200;
constexpr qint64 kFastLineSilenceNs = 1'750'000;

// Registers every gateway answers, whose read changes nothing, and at which
// no operation starts a read, so that a fence is seen as one on the line:
// inside the bit map of activated devices (up to 15 registers from it), and
// the serial number's second register.
constexpr int kFenceInputRegister = 59501;    // 0xE86D, function 4
constexpr int kFenceHoldingRegister = 55331;  // 0xD823, function 3
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;

}  // namespace

qint64 InterFrameSilenceNs(const SerialTransport::Line& line) {
    if (line.baudrate > kFastLineBaud || line.baudrate <= 0) return kFastLineSilenceNs;
    const int bits = 1 + 8 + (line.parity == 0 ? 0 : 1) + (line.stopBits == 2 ? 2 : 1);
    return static_cast<qint64>(std::ceil(3.5 * bits * 1e9 / line.baudrate));
}

ReplyShape ShapeOf(const QByteArray& adu) {
    if (adu.size() < 2) return {};
    ReplyShape shape{static_cast<uint8_t>(adu.at(0)), static_cast<uint8_t>(adu.at(1))};
    if ((shape.function == kReadHolding || shape.function == kReadInput) && adu.size() >= 6)
        shape.quantity = static_cast<uint16_t>(static_cast<uint8_t>(adu.at(4)) << 8 |
                                               static_cast<uint8_t>(adu.at(5)));
    return shape;
}

bool AnswersAlike(const ReplyShapes& owed, uint8_t unit, uint8_t function) {
    const auto first = owed.lower_bound({unit, function, 0});
    return first != owed.end() && first->unit == unit && first->function == function;
}

bool IsExceptionReply(const QByteArray& reply) {
    return reply.size() > 1 && (static_cast<uint8_t>(reply.at(1)) & 0x80) != 0;
}

std::optional<ModbusRequest> FenceRequest(uint8_t unit, const ReplyShapes& unanswered) {
    struct Candidate {
        uint8_t function;
        uint16_t quantity;
    };
    static constexpr Candidate kCandidates[] = {
        {kReadInput, 1}, {kReadHolding, 1}, {kReadInput, 2},
        {kReadInput, 3}, {kReadInput, 4},   {kReadInput, 5},
    };
    for (const Candidate& c : kCandidates) {
        if (unanswered.contains({unit, c.function, c.quantity})) continue;
        return c.function == kReadInput
                   ? ReadInputRegistersRequest(unit, kFenceInputRegister, c.quantity)
                   : ReadHoldingRegistersRequest(unit, kFenceHoldingRegister, c.quantity);
    }
    return std::nullopt;
}

}  // namespace tarnel
