#pragma once

#include <QByteArray>
#include <QString>

namespace tarnel {

// What a reply in RTU form, as an exchange left it, says of the gateway
// itself.
enum class GatewayReply {
    Good,       // it passed its checks
    Exception,  // a good CRC and the exception bit
    Broken,     // CRC, garbage before the reply, a cut reply
    None,       // nothing came in time: the gateway did not answer
};

// Judges `reply` (empty after a time-out, else by its CRC and function byte).
GatewayReply JudgeGatewayReply(const QByteArray& reply);

// The faults of the gateway itself met during a long operation, so that its
// summary can tell an unhealthy gateway from an empty bus: exception replies,
// replies that fail their CRC or framing, and requests it left unanswered.
struct GatewayErrors {
    int exceptionReplies = 0;
    int frameErrors = 0;  // CRC, garbage before the reply, a cut reply
    int timeouts = 0;

    int total() const { return exceptionReplies + frameErrors + timeouts; }

    // Counts a reply as `JudgeGatewayReply` judges it.
    void count(const QByteArray& reply);

    // "gateway errors 3 (exception replies 1, CRC or frame errors 1, time-outs 1)"
    QString text() const;
};

// The requests in a row the gateway itself left unanswered (the time-outs
// of `GatewayErrors`): a long operation stops once there are `kLimit` of
// them, so that a gateway silent to everything (a wrong unit, baud rate or
// wiring) is found out at once. A good or an exception reply ends the row; a
// broken one neither counts nor ends it. A silent meter does not count: the
// gateway answers for it.
class SilentGateway {
public:
    static constexpr int kLimit = 3;

    // Notes a request's reply; true when it made the row `kLimit` long.
    bool note(const QByteArray& reply);
    void reset() { row_ = 0; }

    // The line of the operation it stopped, named as its other lines name it:
    // "No answer from the gateway to 3 requests in a row: scan stopped. ..."
    static QString line(const QString& operation);

private:
    int row_ = 0;
};

}  // namespace tarnel
