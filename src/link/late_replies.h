#pragma once

#include <QByteArray>
#include <compare>
#include <cstdint>
#include <optional>
#include <set>

#include "link/request_frames.h"
#include "link/transport.h"

namespace tarnel {

// The silence Modbus RTU keeps between frames: 3.5 character times of the
// line (a start bit, 8 data bits, the parity bit if any, the stop bits), and
// a fixed 1.75 ms above 19200 Bd.
qint64 InterFrameSilenceNs(const SerialTransport::Line& line);

// What tells a reply apart on the serial line once its request is known:
// the unit, the function and, for a read, the quantity (its byte count). An
// exception reply carries only the unit and the function.
struct ReplyShape {
    uint8_t unit = 0;
    uint8_t function = 0;
    uint16_t quantity = 0;  // a read's; 0 for other functions
    auto operator<=>(const ReplyShape&) const = default;
};
ReplyShape ShapeOf(const QByteArray& adu);
using ReplyShapes = std::set<ReplyShape>;
// Whether a reply owed to one of `owed` could pass for a reply to a request
// of `unit` and `function`: an exception reply could, whatever the quantity.
bool AnswersAlike(const ReplyShapes& owed, uint8_t unit, uint8_t function);
// Whether the confirmed `reply` is an exception reply.
bool IsExceptionReply(const QByteArray& reply);

// A short read to `unit` whose normal reply cannot be a late reply to any
// request of the `unanswered` shapes: a few registers of the bit map of
// activated devices by function 4, or one of the serial number by function
// 3. Once its own reply has come, every reply the gateway still owed has
// come before it (the gateway answers in order). Nothing when every such
// shape is among them.
std::optional<ModbusRequest> FenceRequest(uint8_t unit, const ReplyShapes& unanswered);

}  // namespace tarnel
