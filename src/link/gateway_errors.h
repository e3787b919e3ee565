#pragma once

#include <QByteArray>
#include <QString>

namespace tarnel {

// The faults of the gateway itself met during a long operation, so that its
// summary can tell an unhealthy gateway from an empty bus: exception replies,
// replies that fail their CRC or framing, and requests it left unanswered.
struct GatewayErrors {
    int exceptionReplies = 0;
    int frameErrors = 0;  // CRC, garbage before the reply, a cut reply
    int timeouts = 0;

    int total() const { return exceptionReplies + frameErrors + timeouts; }

    // Counts a reply in RTU form as the exchange left it: empty after a
    // time-out, else judged by its CRC and function byte.
    void count(const QByteArray& reply);

    // "gateway errors 3 (exception replies 1, CRC or frame errors 1, time-outs 1)"
    QString text() const;
};

}  // namespace tarnel
