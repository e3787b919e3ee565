#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "gateway/gateway_events.h"

namespace tarnel {

class GatewayLink;
class RegisterView;

// The line code of a port: baud rate in the high nibble, parity in the low
// bits; 0xFF for a baud or parity text not in the table.
uint8_t LineCode(const QString& baud, const QString& parity);

// The gateway's setting commands: each sends one request to the gateway and
// has its reply told by the register view's reply timer. A number from an
// empty box is nothing; a command whose input it corrects returns the
// corrected number for its box.
class GatewayCommands : public QObject {
    Q_OBJECT
public:
    GatewayCommands(GatewayLink& link, RegisterView& replies, QObject* parent = nullptr);

    // The seven flag boxes and "0/1".
    struct Flags {
        bool nke = false, x7b = false, startMbus = false, sort = false;
        bool dhcp = false, reset = false, factoryDefault = false;
        bool set = false;  // "0/1"
    };

    // "Write Timeout Registers": returns 30 when the time was 100 or more.
    std::optional<int> writeTimeouts(int slave, std::optional<int> time, bool between,
                                     bool respond);
    // "Set Date/Time of device".
    void setClock(int slave);
    // "Write baud and parity": returns "2400" when a faster rate was chosen
    // for the M-Bus port.
    std::optional<QString> writeBaudAndParity(int slave, const QString& baud, const QString& parity,
                                              bool mbusPort);
    // "Set new modbus address".
    void setModbusAddress(int slave, std::optional<int> address);
    // "Update" (readout period): returns 720 when the minutes were out of range.
    std::optional<int> setReadoutPeriod(int slave, std::optional<int> minutes);
    // "Set Universal Mbus Flags".
    void setFlags(int slave, const Flags& flags);

signals:
    // What a command tells when it is sent or refused (the presenter words it).
    void event(const GatewayEvent& event);

private:
    void writeSetting(int slave, int registerNumber, uint8_t high, uint8_t low,
                      gateway_event::Request request);

    GatewayLink& link_;
    RegisterView& replies_;
};

}  // namespace tarnel
