#pragma once

// The link's own record of one exchange, shared by the files that make up
// `GatewayLink`.
#include "link/gateway_link.h"

namespace tarnel {

// One exchange, from the moment it is asked for until it ended.
struct GatewayLink::Pending {
    enum class State { Waiting, Sending, InFlight };

    quint64 id = 0;
    const void* owner = nullptr;
    ModbusRequest request;  // empty adu: raw console bytes
    QByteArray raw;
    bool rawAsText = false;
    Timer* deadline = nullptr;
    int timeoutMs = 0;
    ExchangeDone done;
    State state = State::Waiting;
    bool written = false;  // its last byte is with the driver: a reply may begin
    bool tcp = false;
    uint16_t transaction = 0;
    qint64 sentAt = 0;
    QMetaObject::Connection deadlineConnection;
    QStringList lines;  // what the reception reported before the exchange ended
    int fences = 0;     // sent before it, since a late reply could pass for its reply

    bool isRaw() const { return request.adu.isEmpty(); }
};

}  // namespace tarnel
