#include "link/gateway_errors.h"

#include "link/response_parsers.h"

namespace tarnel {

GatewayReply JudgeGatewayReply(const QByteArray& reply) {
    if (reply.isEmpty()) return GatewayReply::None;
    const Validation checked = ValidateResponse(reply);
    if (checked.passed) return GatewayReply::Good;
    // A reply with a good CRC and the exception bit; anything else that fails
    // is a broken frame.
    if (!checked.report.crcError && static_cast<uint8_t>(reply.at(0)) != 0x00)
        return GatewayReply::Exception;
    return GatewayReply::Broken;
}

void GatewayErrors::count(const QByteArray& reply) {
    switch (JudgeGatewayReply(reply)) {
        case GatewayReply::Good:
            break;
        case GatewayReply::Exception:
            ++exceptionReplies;
            break;
        case GatewayReply::Broken:
            ++frameErrors;
            break;
        case GatewayReply::None:
            ++timeouts;
            break;
    }
}

QString GatewayErrors::text() const {
    return QStringLiteral(
               "gateway errors %1 (exception replies %2, CRC or frame errors %3, "
               "time-outs %4)")
        .arg(total())
        .arg(exceptionReplies)
        .arg(frameErrors)
        .arg(timeouts);
}

bool SilentGateway::note(const QByteArray& reply) {
    const GatewayReply judged = JudgeGatewayReply(reply);
    if (judged == GatewayReply::None) return ++row_ >= kLimit;
    if (judged != GatewayReply::Broken) row_ = 0;
    return false;
}

QString SilentGateway::line(const QString& operation) {
    return QStringLiteral(
               "No answer from the gateway to %1 requests in a row: %2 stopped. Check the link "
               "settings, the Modbus address and the wiring.")
        .arg(kLimit)
        .arg(operation);
}

}  // namespace tarnel
