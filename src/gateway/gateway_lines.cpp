#include "gateway/gateway_lines.h"

#include "link/gateway_errors.h"

namespace tarnel {
namespace {

using namespace gateway_event;

QString sentLine(Request request) {
    switch (request) {
        case Request::ReadRegisters:
            return QStringLiteral("Reading free number of registers...");
        case Request::Timeouts:
            return QStringLiteral("Setting timeouts for device...");
        case Request::Clock:
            return QStringLiteral("Setting datetime of device...");
        case Request::BaudAndParity:
            return QStringLiteral("Changing baud settings...");
        case Request::ModbusAddress:
            return QStringLiteral("Changing primary address of device...");
        case Request::ReadoutPeriod:
            return QStringLiteral("Updating readout time in minutes...");
        case Request::Flags:
            return QStringLiteral("Set/reset selected flag...");
        case Request::ListenPort:
            return QStringLiteral("Changing listen port for modbus TCP...");
        case Request::SerialNumber:
            return QStringLiteral("Setting new serial number...");
        case Request::Activate:
            return QStringLiteral("Activating selected device...");
        case Request::Delete:
            return QStringLiteral("Deleting selected device...");
        case Request::DeleteInputs:
            return QStringLiteral("De-activating selected device...");
        case Request::DeleteAll:
            return QStringLiteral("Deleting ALL devices in memory...");
    }
    return {};
}

QString refusalLine(Refusal why) {
    switch (why) {
        case Refusal::NoInitialConditions:
            return QStringLiteral("Enter proper initial conditions...");
        case Refusal::Timeouts:
            return QStringLiteral("Error in timeouts...");
        case Refusal::BaudOrParity:
            return QStringLiteral("Wrong baud or parity selected...");
        case Refusal::NoModbusAddress:
            return QStringLiteral("Modbus address not entered");
        case Refusal::ModbusAddress:
            return QStringLiteral("Invalid new modbus address entered...");
        case Refusal::NoListenPort:
            return QStringLiteral("Modbus TCP port not entered");
        case Refusal::ListenPort:
            return QStringLiteral("Invalid modbus TCP port entered...");
        case Refusal::ListenPortRange:
            return QStringLiteral("Invalid modbus TCP port entered: the port is 50 to 65535.");
        case Refusal::IpSetting:
            return QStringLiteral("Select the IP setting type to program first.");
        case Refusal::IpAddress:
            return QStringLiteral(
                "Not an IP address: four numbers 0 to 255 with dots, such as 192.168.1.10.");
        case Refusal::SerialNumberLength:
            return QStringLiteral("Wrong ID - must be 8-digit...");
    }
    return {};
}

QString taskName(Task task) {
    switch (task) {
        case Task::RegisterRead:
            return QStringLiteral("register read");
        case Task::AutomaticRead:
            return QStringLiteral("automatic read");
        case Task::Command:
            return QStringLiteral("command");
        case Task::StatusRead:
            return QStringLiteral("status read");
        case Task::TableRead:
            return QStringLiteral("device table read");
        case Task::Activation:
            return QStringLiteral("activation");
    }
    return {};
}

QString stoppedLine(Task task) {
    QString name = taskName(task);
    name[0] = name[0].toUpper();
    return name + QStringLiteral(" stopped.");
}

QString linkLostLine(Task task) {
    return QStringLiteral("Connection lost: %1 stopped.").arg(taskName(task));
}

QString silentLine(Task task) {
    return SilentGateway::line(taskName(task));
}

QString endedOrStopped(Ending ending) {
    return ending == Ending::Done ? QStringLiteral("ended") : QStringLiteral("stopped");
}

// The lines of each event, one overload a kind.
struct Words {
    QStringList operator()(const Reception& e) const { return e.lines; }
    QStringList operator()(const Reply& e) const { return {RcvdLine(e.reply)}; }
    QStringList operator()(const Sent& e) const { return {sentLine(e.request)}; }
    QStringList operator()(const ProgramIp& e) const {
        return {QStringLiteral("Program ") + e.setting + "..."};
    }
    QStringList operator()(const Refused& e) const { return {refusalLine(e.why)}; }
    QStringList operator()(const NotABaudRate&) const { return {}; }
    QStringList operator()(const NotADigit& e) const {
        return {QStringLiteral("Exception converting ID - '%1' is not a digit").arg(e.character)};
    }
    QStringList operator()(const AddressRefused& e) const {
        return {QStringLiteral("Address %1 refused: an M-Bus primary address is 0 to 250...")
                    .arg(e.address)};
    }
    QStringList operator()(const Stopped& e) const { return {stoppedLine(e.task)}; }
    QStringList operator()(const LinkLost& e) const { return {linkLostLine(e.task)}; }
    QStringList operator()(const ClearRegisters&) const { return {}; }
    QStringList operator()(const RegistersRead&) const { return {}; }
    QStringList operator()(const StatusStarted&) const {
        return {QStringLiteral("Reading settings of device:")};
    }
    QStringList operator()(const ActiveDevices& e) const {
        return {QStringLiteral("Active devices: %1/%2").arg(e.active).arg(e.total)};
    }
    QStringList operator()(const MbusFlags& e) const {
        return {QString(e.bits & 0x01 ? "SND_NKE," : "") + (e.bits & 0x02 ? "0x7B" : "0x5B")};
    }
    QStringList operator()(const WorkingDays& e) const {
        return {QStringLiteral("Working days: %1").arg(e.days)};
    }
    QStringList operator()(const CardVersion& e) const {
        return {QStringLiteral("Modbus card version: %1.%2").arg(e.high).arg(e.low)};
    }
    QStringList operator()(const NetworkSetting& e) const {
        QStringList parts;
        for (const uint8_t byte : e.address)
            parts << QString::number(byte);
        return {e.name + ": " + parts.join('.')};
    }
    QStringList operator()(const StatusFinished&) const {
        return {QStringLiteral("Reading settings finished!")};
    }
    QStringList operator()(const VersionMismatch& e) const {
        return {QStringLiteral("Modbus version \"%1\" is checked, but the gateway reported version "
                               "%2.%3: its entries will not read right.")
                    .arg(e.version2 ? "v 0.2" : "v 0.3")
                    .arg(e.high)
                    .arg(e.low)};
    }
    QStringList operator()(const DeviceCount& e) const {
        return {QStringLiteral("Number of devices: %1").arg(e.count)};
    }
    QStringList operator()(const EntryDecoded& e) const { return e.lines; }
    QStringList operator()(const SameMeterId& e) const {
        return {QStringLiteral("Entries %1 and %2 hold the same meter ID %3, also when read again: "
                               "both are listed. Check the gateway's table.")
                    .arg(e.first)
                    .arg(e.later)
                    .arg(e.id)};
    }
    QStringList operator()(const Activating& e) const {
        return {QStringLiteral("Activating device ") + e.address};
    }
    QStringList operator()(const BadRowAddress& e) const {
        if (!e.address) return {QStringLiteral("Error in Primary address at row %1").arg(e.row)};
        return {QStringLiteral("Error in Primary address at row %1: %2 is not 0 to 250")
                    .arg(e.row)
                    .arg(*e.address)};
    }
};

}  // namespace

QStringList GatewayEventLines(const GatewayEvent& event) {
    return std::visit(Words{}, event);
}

QStringList RegisterReadLines(const RegisterReadResult& result) {
    switch (result.ending) {
        case Ending::Stopped:
            return {stoppedLine(Task::RegisterRead)};
        case Ending::LinkLost:
        case Ending::Refused:
        case Ending::GatewaySilent:
            return {};
        case Ending::Done:
        case Ending::NoAnswer:
            break;
    }
    return {RcvdLine(result.reply)};
}

QStringList CommandLines(const CommandResult& result) {
    if (result.ending == Ending::LinkLost) return {linkLostLine(Task::Command)};
    return {RcvdLine(result.reply)};
}

QStringList TableReadLines(const TableReadResult& result) {
    // Only a read-out that got to its entries was stopped by the table.
    const bool amongEntries = result.answered && result.count > 0;
    switch (result.ending) {
        case Ending::Done:
            if (!result.answered)
                return {QStringLiteral("No answer from the gateway to the device count...")};
            if (result.count == 0)
                return {QStringLiteral("No active devices in Corvane memory...")};
            return {};
        case Ending::Stopped:
            return amongEntries ? QStringList{stoppedLine(Task::TableRead)} : QStringList{};
        case Ending::LinkLost:
            return amongEntries ? QStringList{linkLostLine(Task::TableRead)} : QStringList{};
        case Ending::GatewaySilent:
            return {silentLine(Task::TableRead)};
        case Ending::Refused:
        case Ending::NoAnswer:
            break;
    }
    return {};
}

QStringList ActivationLines(const ActivationResult& result) {
    QStringList lines;
    // Why the run ended (nothing when it was stopped); then one closing line,
    // so that a gateway that errs is never mistaken for silent meters, nor
    // a meter the gateway could not reach for a gateway that errs.
    if (result.ending == Ending::Done)
        lines << QStringLiteral("Activation process finished!");
    else if (result.ending == Ending::LinkLost)
        lines << linkLostLine(Task::Activation);
    else if (result.ending == Ending::GatewaySilent)
        lines << silentLine(Task::Activation);
    lines << QStringLiteral(
                 "Activation %1: meters activated %2, without an answer %3, refused by the "
                 "meter %4, %5.")
                 .arg(endedOrStopped(result.ending))
                 .arg(result.activated)
                 .arg(result.silent)
                 .arg(result.refused)
                 .arg(result.errors.text());
    return lines;
}

QStringList StatusLines(const StatusResult& result) {
    if (result.ending == Ending::GatewaySilent) return {silentLine(Task::StatusRead)};
    return {};
}

QStringList TableLoadLines(TableLoad load, const QString& path) {
    if (load == TableLoad::TooLarge)
        return {QStringLiteral("%1 not read: it is larger than 20 MB, more than a gateway or a "
                               "bus holds.")
                    .arg(path)};
    if (load != TableLoad::TooManyRows) return {};
    return {
        QStringLiteral("%1 not read: it has more than %2 rows, more than a gateway or a bus holds.")
            .arg(path)
            .arg(kMaxTableRows)};
}

}  // namespace tarnel
