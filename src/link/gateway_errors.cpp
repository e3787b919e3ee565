#include "link/gateway_errors.h"

#include "link/response_parsers.h"

namespace tarnel {

void GatewayErrors::count(const QByteArray& reply) {
    if (reply.isEmpty()) {
        ++timeouts;
        return;
    }
    const Validation checked = ValidateResponse(reply);
    if (checked.passed) return;
    // A reply with a good CRC and the exception bit; anything else that fails
    // is a broken frame.
    if (!checked.report.crcError && static_cast<uint8_t>(reply.at(0)) != 0x00)
        ++exceptionReplies;
    else
        ++frameErrors;
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

}  // namespace tarnel
