#pragma once

#include <QObject>
#include <functional>

#include "base/clock.h"
#include "link/exchange.h"
#include "link/request_frames.h"
#include "ops/mbus_events.h"
#include "ops/results.h"

namespace tarnel {

class GatewayLink;

// A hexadecimal console command parsed into bytes, or the line that refuses it.
struct HexCommand {
    QByteArray bytes;
    QString error;
};
// Tokens of one or two upper-case hexadecimal digits (a longer token gives
// its first two) separated by blanks.
HexCommand ParseHexCommand(const QString& text);

// The custom command console: any bytes typed by the user go to the serial
// port as they are, and the reply is logged when Timer_free_command fires.
// That timer also times the device-table requests: each says what its reply
// is, for the line that tells a lost link, and is handed its reply.
class CommandConsole : public QObject {
    Q_OBJECT
public:
    // What the reply to a request is.
    enum class Awaited {
        Command,      // a console or device command: its "RCVD:" line is all
        DeviceCount,  // the active-device bit map: the read-out starts there
        AddressMap,   // the M-Bus address of each Modbus device
    };

    CommandConsole(GatewayLink& link, Timer& timer, QObject* parent = nullptr);
    // Its exchanges end with it.
    ~CommandConsole() override;

    // Sends the command (ASCII or hex) and awaits its reply for `timeoutMs`.
    // False when nothing was sent (no serial port, a wrong hex text); else
    // `commandFinished` follows.
    bool send(bool asciiMode, const QString& command, int timeoutMs);
    // A device-table request: its reply ("RCVD:" logged) goes to `done`,
    // unless it was cancelled.
    void request(const ModbusRequest& request, int timeoutMs, Awaited awaited, ExchangeDone done);
    // Ends its exchanges at once: a custom command finishes as stopped, a
    // request's `done` is handed the cancellation.
    void stop();

signals:
    // What the console tells: replies, refusals (the presenter words them).
    void event(const MbusEvent& event);
    // A custom command's reply (empty: none came).
    void commandFinished(const CommandResult& result);

private:
    void Timer_free_commandTimer(const ExchangeResult& result, Awaited awaited, bool custom);

    GatewayLink& link_;
    Timer& timer_;
    bool stopping_ = false;  // stop() cancels: the cancellation is passed on
};

}  // namespace tarnel
