#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarnel {

// Whether the bytes received so far are the whole reply to a request.
enum class Framing {
    Incomplete,   // a prefix of a reply: more bytes may make it whole
    Whole,        // exactly one reply to the request, its checks passed
    Unframeable,  // not one reply to the request: left to the time-out
};

// Modbus RTU. `request` is the request without its CRC (unit, function,
// data). A reply is whole when it comes from the request's unit, carries its
// function (or that function's exception), has the length the function and
// its byte count give and a CRC that matches, with or without one trailing
// 0x00 filler byte. A leading 0x00, bytes from another unit or for another
// function, a wrong CRC and two replies in one are unframeable.
Framing FrameRtuReply(QByteArrayView request, QByteArrayView received);

// Modbus TCP: the received stream split into MBAP frames by their length
// fields. Frames of another transaction, protocol or unit are replies to
// something else (a request that timed out) and skipped. `frame` is the one
// frame of this transaction when it is whole; `rest` is what follows the
// skipped frames, which the caller reports when the exchange ends without a
// whole reply.
struct TcpReply {
    Framing framing = Framing::Incomplete;
    QByteArray frame;
    QByteArray rest;
};
TcpReply FrameTcpReply(uint16_t transaction, uint8_t unit, QByteArrayView received);

}  // namespace tarnel
