#include "link/reply_framing.h"

#include <optional>

#include "link/crc.h"
#include "link/modbus_functions.h"

namespace tarnel {
namespace {

uint8_t at(QByteArrayView bytes, qsizetype index) {
    return static_cast<uint8_t>(bytes.at(index));
}

bool crcMatches(QByteArrayView frame) {
    const qsizetype dataEnd = frame.size() - 2;
    const uint16_t crc = CalcCrc16(frame.first(dataEnd));
    return at(frame, dataEnd) == crcLow(crc) && at(frame, dataEnd + 1) == crcHigh(crc);
}

// The length of a device identification reply: a header of eight bytes
// (unit, 0x2B, 0x0E, code, conformity, more follows, next object, object
// count), then each object as id, length and value. Nothing while the
// received bytes do not reach far enough to tell.
std::optional<qsizetype> deviceIdLength(QByteArrayView received) {
    if (received.size() < 8) return std::nullopt;
    qsizetype length = 8;
    for (int object = 0; object < at(received, 7); ++object) {
        if (received.size() < length + 2) return std::nullopt;
        length += 2 + at(received, length + 1);
    }
    return length + 2;  // the CRC
}

// The length the reply to `function` has without a filler byte; nothing
// while too few bytes have come to tell.
std::optional<qsizetype> replyLength(uint8_t function, QByteArrayView received) {
    if (at(received, 1) & fn::kExceptionBit) return 5;
    switch (function) {
        case fn::kReadHoldingRegisters:
        case fn::kReadInputRegisters:
            if (received.size() < 3) return std::nullopt;
            return 3 + at(received, 2) + 2;
        case fn::kWriteSingleRegister:
        case fn::kWriteMultipleRegisters:
            return 8;
        case fn::kEncapsulatedInterface:
            return deviceIdLength(received);
        default:
            return std::nullopt;
    }
}

uint16_t word(QByteArrayView bytes, qsizetype index) {
    return static_cast<uint16_t>(at(bytes, index) << 8 | at(bytes, index + 1));
}

}  // namespace

Framing FrameRtuReply(QByteArrayView request, QByteArrayView received) {
    if (request.size() < 2 || received.isEmpty()) return Framing::Incomplete;
    const uint8_t function = at(request, 1);
    if (at(received, 0) != at(request, 0)) return Framing::Unframeable;
    if (received.size() < 2) return Framing::Incomplete;
    if ((at(received, 1) & ~fn::kExceptionBit) != function) return Framing::Unframeable;
    const std::optional<qsizetype> length = replyLength(function, received);
    if (!length) return Framing::Incomplete;
    if (received.size() < *length) return Framing::Incomplete;
    const bool filler = received.size() == *length + 1 && at(received, *length) == 0x00;
    if (received.size() != *length && !filler) return Framing::Unframeable;
    return crcMatches(received.first(*length)) ? Framing::Whole : Framing::Unframeable;
}

TcpReply FrameTcpReply(uint16_t transaction, uint8_t unit, QByteArrayView received) {
    constexpr qsizetype kHeader = 6;  // transaction, protocol, length
    TcpReply reply;
    qsizetype start = 0;
    qsizetype oursAt = -1;  // where the first frame of this transaction starts
    int ours = 0;
    while (received.size() - start >= kHeader) {
        const QByteArrayView rest = received.sliced(start);
        const qsizetype size = kHeader + word(rest, 4);
        if (rest.size() < size) break;
        if (word(rest, 0) == transaction && word(rest, 2) == 0 && size > kHeader + 1 &&
            at(rest, kHeader) == unit) {
            if (ours++ == 0) {
                oursAt = start;
                reply.frame = rest.first(size).toByteArray();
            }
        }
        start += size;
    }
    const bool trailing = start < received.size();  // a frame not (yet) whole
    if (ours == 0) {
        reply.rest = received.sliced(start).toByteArray();
        return reply;
    }
    if (ours == 1 && !trailing) {
        reply.framing = Framing::Whole;
        reply.rest = reply.frame;
        return reply;
    }
    // Two replies, or one and bytes its length field does not account for.
    reply.framing = Framing::Unframeable;
    reply.frame.clear();
    reply.rest = received.sliced(oursAt).toByteArray();
    return reply;
}

}  // namespace tarnel
