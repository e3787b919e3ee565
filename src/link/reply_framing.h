#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace tarnel {

// Why `reply` (RTU form: unit, function, data, CRC) does not answer
// `request` (unit, function, data; no CRC): it must come from the request's
// unit, carry its function or that function's exception, and hold what the
// request asked for: for a read, the byte count of the requested quantity;
// for a write (functions 6 and 16), the echo of the request's register and
// value or quantity; for a device identification, its MEI type and code.
// The CRC is not looked at. Nothing when the reply answers the request.
std::optional<QString> CheckConfirmation(QByteArrayView request, QByteArrayView reply);

// What the bytes received on the serial line are to the request they follow.
enum class Verdict {
    Confirmed,  // one frame that answers the request
    Refused,    // one frame with a good CRC that answers something else
    Unframed,   // not (yet) one frame: a prefix, a wrong CRC, a leading 0x00,
                // two replies in one; left to the parsers as it stands
};
struct Judgement {
    Verdict verdict = Verdict::Unframed;
    QString why;  // Refused: what did not match, "unit 2, expected 1"
};
// A frame is at least 5 bytes long, comes from a unit other than 0 and has a
// CRC that matches, with or without one trailing 0x00 filler byte.
Judgement JudgeRtuReply(QByteArrayView request, QByteArrayView received);

// The length of the RTU frame at the start of `received` by its own
// function code and byte count, CRC included; nothing when its function is
// not one the tool asks for or too few bytes have come to tell.
std::optional<qsizetype> RtuFrameLength(QByteArrayView received);

// Whether the bytes received on TCP hold the reply of one transaction.
enum class Framing {
    Incomplete,   // no whole frame of the transaction (yet)
    Whole,        // exactly one frame of the transaction
    Unframeable,  // two of them, or one and bytes its length does not account for
};

// Modbus TCP: the received stream split into MBAP frames by their length
// fields. Frames of another transaction or protocol are replies to something
// else (a request that timed out) and skipped; the unit is left to the
// confirmation. `frame` is the one frame of this transaction when it is
// whole; `rest` is what follows the skipped frames, which the caller reports
// when the exchange ends without a whole reply.
struct TcpReply {
    Framing framing = Framing::Incomplete;
    QByteArray frame;
    QByteArray rest;
};
TcpReply FrameTcpReply(uint16_t transaction, QByteArrayView received);

}  // namespace tarnel
