#include "link/reply_framing.h"

#include "link/crc.h"
#include "link/modbus_functions.h"

namespace tarnel {
namespace {

// No RTU reply is longer: unit, function, 252 data bytes at most, the CRC,
// and one filler byte.
constexpr qsizetype kLongestReceived = 256 + 1;
constexpr qsizetype kShortestFrame = kShortestRtuFrame;

uint8_t at(QByteArrayView bytes, qsizetype index) {
    return static_cast<uint8_t>(bytes.at(index));
}

uint16_t word(QByteArrayView bytes, qsizetype index) {
    return static_cast<uint16_t>(at(bytes, index) << 8 | at(bytes, index + 1));
}

QString hex4(int value) {
    return QString::asprintf("0x%04X", value);
}

// The length of a device identification reply: a header of eight bytes
// (unit, 0x2B, 0x0E, code, conformity, more follows, next object, object
// count), then each object as id, length and value, then the CRC. Nothing
// when the bytes before the CRC do not reach as far as their own lengths say.
std::optional<qsizetype> deviceIdLength(QByteArrayView data) {
    if (data.size() < 8) return std::nullopt;
    qsizetype length = 8;
    for (int object = 0; object < at(data, 7); ++object) {
        if (data.size() < length + 2) return std::nullopt;
        length += 2 + at(data, length + 1);
    }
    return length + 2;
}

std::optional<QString> checkLength(QByteArrayView reply, qsizetype expected) {
    if (reply.size() == expected) return std::nullopt;
    return QStringLiteral("length %1, expected %2").arg(reply.size()).arg(expected);
}

std::optional<QString> checkRead(QByteArrayView request, QByteArrayView reply) {
    const int expected = 2 * word(request, 4);
    if (reply.size() >= 3 && at(reply, 2) != expected)
        return QStringLiteral("byte count %1, expected %2").arg(at(reply, 2)).arg(expected);
    return checkLength(reply, 3 + expected + 2);
}

// Functions 6 and 16 echo the register and the value (6) or quantity (16).
std::optional<QString> checkEcho(QByteArrayView request, QByteArrayView reply) {
    if (const auto length = checkLength(reply, 8)) return length;
    if (word(reply, 2) == word(request, 2) && word(reply, 4) == word(request, 4))
        return std::nullopt;
    const QString what = at(request, 1) == fn::kWriteSingleRegister ? QStringLiteral("value")
                                                                    : QStringLiteral("quantity");
    return QStringLiteral("echo of register %1 %2 %3, expected register %4 %2 %5")
        .arg(word(reply, 2))
        .arg(what)
        .arg(hex4(word(reply, 4)))
        .arg(word(request, 2))
        .arg(hex4(word(request, 4)));
}

std::optional<QString> checkDeviceId(QByteArrayView request, QByteArrayView reply) {
    if (reply.size() < 4 || at(reply, 2) != fn::kMeiReadDeviceId)
        return QStringLiteral("no device identification");
    if (request.size() >= 4 && at(reply, 3) != at(request, 3))
        return QStringLiteral("identification code %1, expected %2")
            .arg(at(reply, 3))
            .arg(at(request, 3));
    const std::optional<qsizetype> length = deviceIdLength(reply.chopped(2));
    if (!length) return QStringLiteral("length %1, objects cut short").arg(reply.size());
    return checkLength(reply, *length);
}

}  // namespace

std::optional<QString> CheckConfirmation(QByteArrayView request, QByteArrayView reply) {
    if (request.size() < 2 || reply.size() < 2) return QStringLiteral("no reply");
    if (at(reply, 0) != at(request, 0))
        return QStringLiteral("unit %1, expected %2").arg(at(reply, 0)).arg(at(request, 0));
    const uint8_t function = at(request, 1);
    if ((at(reply, 1) & ~fn::kExceptionBit) != function)
        return QStringLiteral("function %1, expected %2")
            .arg(at(reply, 1) & ~fn::kExceptionBit)
            .arg(function);
    if (at(reply, 1) & fn::kExceptionBit) return checkLength(reply, kShortestFrame);
    switch (function) {
        case fn::kReadHoldingRegisters:
        case fn::kReadInputRegisters:
            return request.size() >= 6 ? checkRead(request, reply) : std::nullopt;
        case fn::kWriteSingleRegister:
        case fn::kWriteMultipleRegisters:
            return request.size() >= 6 ? checkEcho(request, reply) : std::nullopt;
        case fn::kEncapsulatedInterface:
            return checkDeviceId(request, reply);
        default:
            return std::nullopt;
    }
}

std::optional<qsizetype> RtuFrameLength(QByteArrayView received) {
    if (received.size() < 2) return std::nullopt;
    if (at(received, 1) & fn::kExceptionBit) return kShortestFrame;
    switch (at(received, 1)) {
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

Judgement JudgeRtuReply(QByteArrayView request, QByteArrayView received) {
    if (received.size() < kShortestFrame || received.size() > kLongestReceived ||
        at(received, 0) == 0x00)
        return {};
    // Both forms that pass the CRC check are tried.
    const QByteArrayView plain = received;
    const QByteArrayView filled = received.chopped(1);
    const auto [plainForm, fillerForm] = RtuFrameForms(received);
    if (!plainForm && !fillerForm) return {};
    std::optional<QString> why;
    for (const auto& [form, frame] : {std::pair{plainForm, plain}, std::pair{fillerForm, filled}}) {
        if (!form) continue;
        why = CheckConfirmation(request, frame);
        if (!why) return {Verdict::Confirmed, {}};
    }
    return {Verdict::Refused, *why};
}

TcpReply FrameTcpReply(uint16_t transaction, QByteArrayView received) {
    constexpr qsizetype kHeader = 6;  // transaction, protocol, length
    TcpReply reply;
    qsizetype start = 0;
    qsizetype oursAt = -1;  // where the first frame of this transaction starts
    int ours = 0;
    while (received.size() - start >= kHeader) {
        const QByteArrayView rest = received.sliced(start);
        const qsizetype size = kHeader + word(rest, 4);
        if (rest.size() < size) break;
        if (word(rest, 0) == transaction && word(rest, 2) == 0 && size > kHeader + 1) {
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
