#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace tarnel {

// How an exchange with the gateway ended.
enum class ExchangeEnd {
    Reply,     // the whole reply to the request came
    TimedOut,  // its time ran out; `reply` holds whatever came meanwhile
    LinkLost,  // the serial port or the socket went away
    Cancelled  // its operation gave it up (STOP, a restart)
};

struct ExchangeResult {
    ExchangeEnd end = ExchangeEnd::TimedOut;
    // The reply in RTU form (a Modbus TCP reply converted): exactly the reply
    // when it came whole, else every byte received during the exchange, to be
    // judged by the parsers as it stands.
    QByteArray reply;
    // Lines the reception itself reports ("Error, raw TCP data: ...").
    QStringList lines;
    qint64 sentAt = 0;  // the clock's time when the request had left

    // The operation is to stop rather than judge the reply.
    bool aborted() const { return end == ExchangeEnd::LinkLost || end == ExchangeEnd::Cancelled; }
};

using ExchangeDone = std::function<void(const ExchangeResult&)>;

}  // namespace tarnel
