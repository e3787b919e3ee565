#include "link/command_console.h"

#include "base/log.h"
#include "link/gateway_link.h"

namespace tarnel {
namespace {

int hexValue(QChar c) {
    return c.isDigit() ? c.unicode() - '0' : c.unicode() - 'A' + 10;
}

}  // namespace

HexCommand ParseHexCommand(const QString& command) {
    if (command.size() == 1)
        return {{}, QStringLiteral("Wrong custom hex command, 2 symbols at least...")};
    for (const QChar c : command) {
        const bool allowed = c.isDigit() || (c >= 'A' && c <= 'F') || c == ' ';
        if (!allowed || c.unicode() > 127)
            return {{}, QStringLiteral("Wrong custom hex command, 0..F uppercase allowed")};
    }
    HexCommand parsed;
    for (const QString& token : command.split(' ', Qt::SkipEmptyParts)) {
        const int value =
            token.size() == 1 ? hexValue(token[0]) : hexValue(token[0]) * 16 + hexValue(token[1]);
        parsed.bytes.append(static_cast<char>(value));
    }
    return parsed;
}

CommandConsole::CommandConsole(GatewayLink& link, Log& log, Timer& timer, QObject* parent)
    : QObject(parent), link_(link), log_(log), timer_(timer) {}

void CommandConsole::send(bool asciiMode, const QString& command, int timeoutMs) {
    if (!link_.SerialOpen()) {
        log_.append(QStringLiteral("Serial port is not opened"));
        return;
    }
    if (command.isEmpty()) return;
    QByteArray bytes = command.toLatin1();
    if (!asciiMode) {
        const HexCommand parsed = ParseHexCommand(command);
        if (!parsed.error.isEmpty()) {
            log_.append(parsed.error);
            return;
        }
        bytes = parsed.bytes;
    }
    link_.CommandReplyPending = false;
    link_.DeviceCountPending = false;
    custom_ = true;
    link_.exchangeRaw(this, bytes, asciiMode, timer_, timeoutMs,
                      [this](const ExchangeResult& result) { Timer_free_commandTimer(result); });
}

void CommandConsole::request(const ModbusRequest& request, int timeoutMs) {
    custom_ = false;
    link_.exchange(this, request, timer_, timeoutMs,
                   [this](const ExchangeResult& result) { Timer_free_commandTimer(result); });
}

void CommandConsole::Timer_free_commandTimer(const ExchangeResult& result) {
    if (result.end == ExchangeEnd::Cancelled) return;
    if (result.end == ExchangeEnd::LinkLost) {
        log_.append(QStringLiteral("Connection lost: %1 stopped.").arg(awaitedBy()));
        link_.DeviceCountPending = false;
        link_.CommandReplyPending = false;
        return;
    }
    const QByteArray reply = link_.takeReply(result);
    if (link_.DeviceCountPending) {
        dispatchDeviceCount(reply);
        link_.DeviceCountPending = false;
    } else if (link_.CommandReplyPending) {
        if (reply.size() > 4) link_.report(ParseAddressMapResponse(reply));
        link_.CommandReplyPending = false;
    }
}

// The device table's requests share this reply timer with the console: a
// lost link names the one the user started.
QString CommandConsole::awaitedBy() const {
    if (link_.DeviceCountPending) return QStringLiteral("device table read");
    if (link_.CommandReplyPending) return QStringLiteral("address map read");
    return custom_ ? QStringLiteral("custom command") : QStringLiteral("device command");
}

void CommandConsole::dispatchDeviceCount(const QByteArray& reply) {
    link_.ActiveDeviceCount = 0;
    if (reply.size() > 4) {
        const RegisterReply parsed = ParseRegisterResponse(reply);
        link_.report(parsed.report);
        if (!parsed.report.crcError && !parsed.registers.isEmpty())
            link_.ActiveDeviceCount = CountActiveDevices(parsed.registers);
    }
    const int count = link_.ActiveDeviceCount;
    if (count == 0) {
        log_.append(QStringLiteral("No active devices in Corvane memory..."));
        return;
    }
    if (startDeviceReadOut) startDeviceReadOut(count);
    log_.append(QStringLiteral("Number of devices: %1").arg(count));
}

}  // namespace tarnel
