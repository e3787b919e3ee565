#include "cli/settings_commands.h"

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <map>
#include <variant>

#include "cli/cli_session.h"
#include "cli/command_table.h"
#include "gateway/device_table.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_status.h"
#include "gateway/program.h"
#include "gateway/register_view.h"
#include "link/response_parsers.h"

namespace tarnel::cli {
namespace {

// Sends one setting to the gateway (`slave`); false when nothing was sent.
using Send = std::function<bool(Program&, int slave)>;

QString text(const std::string& argument) {
    return QString::fromStdString(argument);
}

// `word`'s entry in `names` (keys as FoldedWord folds them), or UsageError.
template <typename Value>
Value oneOf(const std::map<std::string, Value>& names, const std::string& word,
            const std::string& refusal) {
    const auto found = names.find(FoldedWord(word));
    if (found == names.end()) throw UsageError{refusal + ": " + word};
    return found->second;
}

// Whether `send` made the setting commands send their request: they say so
// with Sent, and a refusal with its own line.
bool sentBy(GatewayCommands& commands, const std::function<void()>& send) {
    bool sent = false;
    const QMetaObject::Connection told =
        QObject::connect(&commands, &GatewayCommands::event, [&sent](const GatewayEvent& event) {
            sent = sent || std::holds_alternative<gateway_event::Sent>(event);
        });
    send();
    QObject::disconnect(told);
    return sent;
}

// One setting command: the gateway's reply is awaited for `waitMs`, by
// default the Modbus time-out (the window's reply timer after a register
// read), and printed as its "RCVD:" line.
Runner settingCommand(const Options& options, Send send, std::optional<int> waitMs = {}) {
    const int unit = options.unit, timeoutMs = waitMs.value_or(options.timeoutMs);
    return [=](Session& session) {
        Program& program = session.program();
        program.timer("Timer_modbus")->setInterval(timeoutMs);
        session.allowQuiet(timeoutMs);
        const auto result = session.await(program.registerView(), &RegisterView::commandFinished,
                                          [&] { return send(program, unit); });
        if (!result) return kNoResult;
        session.printLine(RcvdLine(result->reply));
        return Session::status(result->ending, result->acknowledged);
    };
}

// The same for a command of GatewayCommands, which tells what it sent.
Runner gatewayCommand(const Options& options,
                      std::function<void(GatewayCommands&, int slave)> write) {
    return settingCommand(options, [write](Program& program, int slave) {
        GatewayCommands& commands = program.commands();
        return sentBy(commands, [&] { write(commands, slave); });
    });
}

}  // namespace

Runner setTimeouts(const Options& options) {
    const bool between = oneOf<bool>({{"between", true}, {"respond", false}}, options.positional[0],
                                     "the time is between or respond");
    const int time = InRange(options.positional[1], "TIME", 0, 99);
    return gatewayCommand(options, [=](GatewayCommands& commands, int slave) {
        commands.writeTimeouts(slave, time, between, !between);
    });
}

Runner setClock(const Options& options) {
    return gatewayCommand(options,
                          [](GatewayCommands& commands, int slave) { commands.setClock(slave); });
}

Runner setPortBaud(const Options& options) {
    const bool mbus = oneOf<bool>({{"modbus", false}, {"mbus", true}, {"m bus", true}},
                                  options.positional[0], "the port is modbus or mbus");
    static const QStringList kRates = {"300",   "1200",  "2400",  "4800",  "9600",
                                       "19200", "38400", "57600", "115200"};
    const QString baud = text(options.positional[1]);
    // The M-Bus side goes no faster than 9600 Bd (the window would send 2400).
    const qsizetype fastest = kRates.indexOf(mbus ? "9600" : "115200");
    const qsizetype rate = kRates.indexOf(baud);
    if (rate < 0 || rate > fastest)
        throw UsageError{std::string(mbus ? "the M-Bus port's" : "the Modbus port's") +
                         " baud rate is " + kRates.mid(0, fastest + 1).join(", ").toStdString() +
                         ": " + options.positional[1]};
    const QString parity = oneOf<QString>({{"none", "None"}, {"even", "Even"}, {"odd", "Odd"}},
                                          options.positional[2], "PARITY is none, even or odd");
    return gatewayCommand(options, [=](GatewayCommands& commands, int slave) {
        commands.writeBaudAndParity(slave, baud, parity, mbus);
    });
}

Runner setModbusAddress(const Options& options) {
    const int address = InRange(options.positional[0], "the new Modbus address", 0, 254);
    return gatewayCommand(options, [=](GatewayCommands& commands, int slave) {
        commands.setModbusAddress(slave, address);
    });
}

Runner setReadoutPeriod(const Options& options) {
    const int minutes = InRange(options.positional[0], "MINUTES", 1, 720);
    return gatewayCommand(options, [=](GatewayCommands& commands, int slave) {
        commands.setReadoutPeriod(slave, minutes);
    });
}

Runner setFlag(const Options& options) {
    using Flag = bool GatewayCommands::Flags::*;
    using Flags = GatewayCommands::Flags;
    const Flag flag = oneOf<Flag>({{"snd nke", &Flags::nke},
                                   {"0x7b", &Flags::x7b},
                                   {"start mbus", &Flags::startMbus},
                                   {"sort", &Flags::sort},
                                   {"dhcp", &Flags::dhcp},
                                   {"reset", &Flags::reset},
                                   {"factory default", &Flags::factoryDefault}},
                                  options.positional[0],
                                  "FLAG is snd-nke, 0x7b, start-mbus, sort, dhcp, reset or "
                                  "factory-default");
    const std::string& value = options.positional[1];
    if (value != "0" && value != "1") throw UsageError{"the flag is set with 1, reset with 0"};
    Flags flags;
    flags.*flag = true;
    flags.set = value == "1";
    return gatewayCommand(
        options, [=](GatewayCommands& commands, int slave) { commands.setFlags(slave, flags); });
}

namespace {

// The network settings as "Select IP setting type:" names them, by those
// names and by short ones ("control-1", "operator-4", "net-number").
std::map<std::string, QString> ipSettingNames() {
    std::map<std::string, QString> names;
    const auto add = [&names](const QString& setting, const std::string& shortName) {
        names[FoldedWord(setting.toStdString())] = setting;
        names[shortName] = setting;
    };
    add("IP address", "ip");
    add("Gateway", "gateway");
    add("Mask", "mask");
    for (const int n : {1, 2})
        add(QStringLiteral("Control IP #%1").arg(n), "control " + std::to_string(n));
    for (const int n : {1, 2, 3, 4})
        add(QStringLiteral("Operator IP #%1").arg(n), "operator " + std::to_string(n));
    add("Net number (optional)", "net number");
    return names;
}

}  // namespace

Runner setIp(const Options& options) {
    const QString setting =
        oneOf(ipSettingNames(), options.positional[0],
              "SETTING is ip, gateway, mask, control-1, control-2, operator-1 to operator-4 or "
              "net-number");
    // The window's box takes digits and "." only.
    const std::string& typed = options.positional[1];
    const bool digitsAndDots = std::all_of(typed.begin(), typed.end(), [](unsigned char c) {
        return std::isdigit(c) != 0 || c == '.';
    });
    const auto address = digitsAndDots ? ParseDottedAddress(text(typed)) : std::nullopt;
    if (!address) throw UsageError{"ADDRESS is four numbers 0 to 255 joined by \".\": " + typed};
    return settingCommand(options, [=](Program& program, int slave) {
        return program.gatewayStatus().programIp(slave, setting, address);
    });
}

Runner setListenPort(const Options& options) {
    // Only the low 16 bits would be sent of a larger number.
    const int port = InRange(options.positional[0], "the listen port", 50, 65535);
    return settingCommand(options, [=](Program& program, int slave) {
        return program.gatewayStatus().setListenPort(slave, port);
    });
}

Runner setSerialNumber(const Options& options) {
    const std::string& typed = options.positional[0];
    const bool digits = std::all_of(typed.begin(), typed.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; });
    if (typed.size() != 8 || !digits) throw UsageError{"the serial number is 8 digits: " + typed};
    return settingCommand(options, [=](Program& program, int slave) {
        return program.gatewayStatus().setSerialNumber(slave, text(typed));
    });
}

Runner searchActivate(const Options& options) {
    // The window checks its new-address box first, whose number is not
    // sent; the command line has no such box.
    static constexpr int kUncheckedBox = 0;
    // The gateway answers once it has searched its bus: 251 addresses, a
    // minute or more at 2400 Bd.
    constexpr int kSearchMs = 300'000;
    return settingCommand(
        options,
        [](Program& program, int slave) {
            return program.deviceTable().searchAndActivate(slave, kUncheckedBox);
        },
        kSearchMs);
}

}  // namespace tarnel::cli
