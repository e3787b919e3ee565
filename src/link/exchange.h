#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace tarnel {

// How an exchange with the gateway ended.
enum class ExchangeEnd {
    Reply,     // the reply to the request came, confirmed against it
    TimedOut,  // its time ran out; `reply` holds what came and could not be
               // framed (a wrong CRC, leading garbage), for the parsers to judge
    Refused,   // a frame came that does not answer the request (another unit,
               // function, count or echo); it is not used
    LinkLost,  // the serial port or the socket went away
    Cancelled  // its operation gave it up (STOP, a restart)
};

struct ExchangeResult {
    ExchangeEnd end = ExchangeEnd::TimedOut;
    // In RTU form (a Modbus TCP reply converted): the confirmed reply, or
    // after a time-out the bytes that came, as they stand; else empty.
    QByteArray reply;
    // Lines the reception reports ("Error, raw TCP data: ...", "Ignored a
    // reply that does not answer the request: ..."), for whoever judges the
    // reply to log (`GatewayLink::logReception`).
    QStringList lines;
    qint64 sentAt = 0;  // the clock's time when the request had left

    // The operation is to stop rather than judge the reply.
    bool aborted() const { return end == ExchangeEnd::LinkLost || end == ExchangeEnd::Cancelled; }
    // A confirmed reply that is not an exception: the gateway did it.
    bool acknowledged() const {
        return end == ExchangeEnd::Reply && reply.size() > 1 &&
               !(static_cast<unsigned char>(reply.at(1)) & 0x80);
    }
};

using ExchangeDone = std::function<void(const ExchangeResult&)>;

}  // namespace tarnel
