#include "ops/command_console.h"

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

CommandConsole::CommandConsole(GatewayLink& link, Timer& timer, QObject* parent)
    : QObject(parent), link_(link), timer_(timer) {}

CommandConsole::~CommandConsole() {
    link_.cancel(this);
}

bool CommandConsole::send(bool asciiMode, const QString& command, int timeoutMs) {
    if (!link_.SerialOpen()) {
        emit event(mbus_event::Refused{mbus_event::Refusal::SerialPortClosed});
        return false;
    }
    if (command.isEmpty()) return false;
    QByteArray bytes = command.toLatin1();
    if (!asciiMode) {
        const HexCommand parsed = ParseHexCommand(command);
        if (!parsed.error.isEmpty()) {
            emit event(mbus_event::CommandRejected{parsed.error});
            return false;
        }
        bytes = parsed.bytes;
    }
    link_.exchangeRaw(
        this, bytes, asciiMode, timer_, timeoutMs, [this](const ExchangeResult& result) {
            Timer_free_commandTimer(result, Awaited::Command, true);
            if (result.end == ExchangeEnd::Cancelled && !stopping_) return;
            emit commandFinished({result.end == ExchangeEnd::LinkLost    ? Ending::LinkLost
                                  : result.end == ExchangeEnd::Cancelled ? Ending::Stopped
                                                                         : Ending::Done,
                                  result.reply, result.acknowledged()});
        });
    return true;
}

void CommandConsole::request(const ModbusRequest& request, int timeoutMs, Awaited awaited,
                             ExchangeDone done) {
    link_.exchange(this, request, timer_, timeoutMs,
                   [this, awaited, done = std::move(done)](const ExchangeResult& result) {
                       Timer_free_commandTimer(result, awaited, false);
                       if (done && (result.end != ExchangeEnd::Cancelled || stopping_))
                           done(result);
                   });
}

void CommandConsole::stop() {
    stopping_ = true;
    link_.cancel(this);
    stopping_ = false;
}

// `custom`: the reply answers a command the user typed.
void CommandConsole::Timer_free_commandTimer(const ExchangeResult& result, Awaited awaited,
                                             bool custom) {
    if (result.end == ExchangeEnd::Cancelled) return;
    if (result.end == ExchangeEnd::LinkLost) {
        // The device table's requests share this reply timer with the
        // console: a lost link names the one the user started.
        const QString what = awaited == Awaited::DeviceCount  ? QStringLiteral("device table read")
                             : awaited == Awaited::AddressMap ? QStringLiteral("address map read")
                             : custom                         ? QStringLiteral("custom command")
                                                              : QStringLiteral("device command");
        emit event(mbus_event::ConsoleLost{what});
        return;
    }
    if (!result.lines.isEmpty()) emit event(mbus_event::Reception{result.lines});
    emit event(mbus_event::ConsoleReply{result.reply});
}

}  // namespace tarnel
