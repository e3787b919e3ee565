#include "gateway/gateway_commands.h"

#include "base/dialogs.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/register_map.h"

namespace tarnel {

using namespace gateway_event;

uint8_t LineCode(const QString& baud, const QString& parity) {
    static const QStringList kRates = {"300",   "1200",  "2400",  "4800",  "9600",
                                       "19200", "38400", "57600", "115200"};
    const qsizetype rate = kRates.indexOf(baud);
    int bits = -1;
    if (parity == "None") bits = 0x02;
    if (parity == "Even") bits = 0x00;
    if (parity == "Odd") bits = 0x01;
    if (rate < 0 || bits < 0) return 0xFF;
    return static_cast<uint8_t>(rate << 4 | bits);
}

GatewayCommands::GatewayCommands(GatewayLink& link, RegisterView& replies, QObject* parent)
    : QObject(parent), link_(link), replies_(replies) {}

void GatewayCommands::writeSetting(int slave, int registerNumber, uint8_t high, uint8_t low,
                                   Request request) {
    replies_.sendCommand(WriteSingleRegisterRequest(slave, registerNumber, high, low));
    emit event(Sent{request});
}

std::optional<int> GatewayCommands::writeTimeouts(int slave, std::optional<int> entered,
                                                  bool between, bool respond) {
    if (!link_.requireLink()) return std::nullopt;
    if (!entered) return std::nullopt;
    int time = *entered;
    std::optional<int> corrected;
    if (time >= 100) corrected = time = 30;
    if (!between && !respond) {
        emit event(Refused{Refusal::Timeouts});
        return corrected;
    }
    writeSetting(slave, between ? reg::kTimeBetweenReadings : reg::kWaitRespondTime, 0x00,
                 static_cast<uint8_t>(time), Request::Timeouts);
    return corrected;
}

void GatewayCommands::setClock(int slave) {
    if (!link_.requireLink()) return;
    replies_.sendCommand(SetClockRequest(slave, reg::kClock, link_.clock().now()));
    emit event(Sent{Request::Clock});
}

std::optional<QString> GatewayCommands::writeBaudAndParity(int slave, const QString& baud,
                                                           const QString& parity, bool mbusPort) {
    if (!link_.requireLink()) return std::nullopt;
    QString rate = baud;
    std::optional<QString> corrected;
    if (mbusPort) {
        bool ok = false;
        const int number = baud.toInt(&ok);
        if (!ok) {
            emit event(gateway_event::NotABaudRate{baud});
            return std::nullopt;
        }
        // The M-Bus side goes no faster than 9600 Bd.
        if (number > 9600) corrected = rate = QStringLiteral("2400");
    }
    const uint8_t code = LineCode(rate, parity);
    if (code == 0xFF) {
        emit event(Refused{Refusal::BaudOrParity});
        return corrected;
    }
    writeSetting(slave, mbusPort ? reg::kMbusPortLine : reg::kModbusPortLine, 0x00, code,
                 Request::BaudAndParity);
    return corrected;
}

void GatewayCommands::setModbusAddress(int slave, std::optional<int> address) {
    if (!address) {
        emit event(Refused{Refusal::NoModbusAddress});
        return;
    }
    const int value = *address;
    if (value >= 255 || value < 0) {
        emit event(Refused{Refusal::ModbusAddress});
        return;
    }
    if (!link_.requireLink()) return;
    writeSetting(slave, reg::kModbusAddress, 0x00, static_cast<uint8_t>(value),
                 Request::ModbusAddress);
}

std::optional<int> GatewayCommands::setReadoutPeriod(int slave, std::optional<int> minutes) {
    if (!link_.requireLink()) return std::nullopt;
    if (!minutes) return std::nullopt;
    int value = *minutes;
    std::optional<int> corrected;
    if (value > 720 || value <= 0) corrected = value = 720;
    const int seconds = value * 60;
    writeSetting(slave, reg::kReadoutMinutes, static_cast<uint8_t>(seconds >> 8),
                 static_cast<uint8_t>(seconds & 0xFF), Request::ReadoutPeriod);
    return corrected;
}

void GatewayCommands::setFlags(int slave, const Flags& flags) {
    if (!link_.requireLink()) return;
    const std::pair<bool, int> group1[] = {
        {flags.nke, 0x01}, {flags.x7b, 0x02}, {flags.startMbus, 0x09}, {flags.sort, 0x0A}};
    const std::pair<bool, int> group2[] = {
        {flags.dhcp, 0x01}, {flags.reset, 0x11}, {flags.factoryDefault, 0x12}};
    int code = -1, registerNumber = reg::kMbusFlags;
    for (const auto& [checked, value] : group1)
        if (checked) code = value;
    if (code < 0) {
        registerNumber = reg::kNetworkFlags;
        for (const auto& [checked, value] : group2)
            if (checked) code = value;
    }
    if (code < 0) return;
    if (flags.set) code |= 0x80;
    writeSetting(slave, registerNumber, 0x00, static_cast<uint8_t>(code), Request::Flags);
}

}  // namespace tarnel
