#pragma once

#include <QObject>
#include <functional>

#include "base/clock.h"
#include "link/exchange.h"
#include "link/request_frames.h"

namespace tarnel {

class GatewayLink;
class Log;

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
// That timer is also the reply dispatcher of the device-table operations:
// each request says what its reply is, so a reply awaited as the
// active-device bit map is counted and one awaited as the address map shown.
class CommandConsole : public QObject {
    Q_OBJECT
public:
    // What the reply to a request is.
    enum class Awaited {
        Command,      // a console or device command: its "RCVD:" line is all
        DeviceCount,  // the active-device bit map: the read-out starts there
        AddressMap,   // the M-Bus address of each Modbus device
    };

    CommandConsole(GatewayLink& link, Log& log, Timer& timer, QObject* parent = nullptr);

    // Sends the command (ASCII or hex) and awaits its reply for `timeoutMs`.
    void send(bool asciiMode, const QString& command, int timeoutMs);
    // A device-table request whose reply this console dispatches as `awaited`.
    void request(const ModbusRequest& request, int timeoutMs, Awaited awaited);

    // Called with the count of active devices when it is not 0: the
    // device-table read-out starts there. The console logs the count after it.
    std::function<void(int count)> startDeviceReadOut;

private:
    void Timer_free_commandTimer(const ExchangeResult& result, Awaited awaited, bool custom);
    void dispatchDeviceCount(const QByteArray& reply);

    GatewayLink& link_;
    Log& log_;
    Timer& timer_;
};

}  // namespace tarnel
