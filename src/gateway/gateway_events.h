#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

#include "link/response_parsers.h"
#include "ops/results.h"

namespace tarnel {

// What the gateway operations (the register view, the setting commands, the
// status read, the device table and the bulk activation) tell while they
// run. They never word it: the presenter turns each event into the log's
// lines, the register grid's and the device grid's rows, and the status
// bar's CRC mark.
namespace gateway_event {

// What the reception or a parser reported of a reply (CRC, exception, stray
// bytes, the address map, ...); a failed CRC marks the status bar.
struct Reception {
    QStringList lines;
    bool crcError = false;
};
// A reply as it came, or nothing after a time-out ("RCVD:").
struct Reply {
    QByteArray reply;
};

// A request sent to the gateway, by what it asks.
enum class Request {
    ReadRegisters,
    Timeouts,
    Clock,
    BaudAndParity,
    ModbusAddress,
    ReadoutPeriod,
    Flags,
    ListenPort,
    SerialNumber,
    Activate,
    Delete,
    DeleteInputs,
    DeleteAll,
};
struct Sent {
    Request request = Request::ReadRegisters;
};
// A network setting written, as "Select IP setting type:" names it.
struct ProgramIp {
    QString setting;
};

// A request that was not sent because of what the user entered.
enum class Refusal {
    NoInitialConditions,  // the register read's start or count box is empty
    Timeouts,             // neither time-out was chosen
    BaudOrParity,         // a rate or parity not in the table
    NoModbusAddress,      // the new Modbus address box is empty
    ModbusAddress,        // the new Modbus address is not below 255
    NoListenPort,         // the listen port box is empty
    ListenPort,           // the listen port is below 50
    ListenPortRange,      // the listen port is above 65535: its low 16 bits would go
    IpSetting,            // "Program IP" without a setting type chosen
    IpAddress,            // "Program IP" with no four numbers 0 to 255
    SerialNumberLength,   // the serial number is not 8 characters
};
struct Refused {
    Refusal why = Refusal::NoInitialConditions;
};
// A character of the new serial number that is not a digit.
struct NotADigit {
    QChar character;
};
// The M-Bus port's baud rate is not a number: the user is told, nothing logged.
struct NotABaudRate {
    QString text;
};
// A device command for an address above the M-Bus primary addresses.
struct AddressRefused {
    int address = 0;
};

// What a stop or a lost link ended.
enum class Task {
    RegisterRead,
    AutomaticRead,
    Command,
    StatusRead,
    TableRead,
    Activation,
};
struct Stopped {
    Task task = Task::RegisterRead;
};
struct LinkLost {
    Task task = Task::RegisterRead;
};

// The register grid is emptied (the automatic read, before each reply).
struct ClearRegisters {};
// Registers a read listed, numbered from `start`, read at `at`.
struct RegistersRead {
    int start = 0;
    QVector<Register> registers;
    QDateTime at;
};

// The status read: its start, an answer of each step, its end.
struct StatusStarted {};
struct ActiveDevices {
    int active = 0;
    int total = 0;
};
struct MbusFlags {
    int bits = 0;  // bit 0: SND_NKE first; bit 1: REQ_UD2 with 0x7B
};
struct WorkingDays {
    int days = 0;
};
struct CardVersion {
    int high = 0;
    int low = 0;
};
// A network setting read: its name ("IP", "GATE", ...) and its address.
struct NetworkSetting {
    QString name;
    std::array<uint8_t, 4> address{};
};
struct StatusFinished {};

// The device table's read-out: the entry size checked disagrees with the
// version the gateway reported.
struct VersionMismatch {
    bool version2 = false;
    int high = 0;
    int low = 0;
};
// The bit map counted this many active devices.
struct DeviceCount {
    int count = 0;
};
// An entry of the gateway's table was read: the decoder's lines and its
// row; when it was read again and differed, the row it replaces.
struct EntryDecoded {
    TableEntry entry;
    QStringList lines;
    std::optional<TableEntry> replacing{};
};
// Two entries still held one meter ID when read again.
struct SameMeterId {
    int first = 0;
    int later = 0;
    QString id;
};

// The bulk activation sends the activation of the meter at `address`.
struct Activating {
    QString address;
};
// A row whose address is not a number (none) or not 0 to 250.
struct BadRowAddress {
    int row = 0;
    std::optional<int> address;
};

}  // namespace gateway_event

using GatewayEvent = std::variant<
    gateway_event::Reception, gateway_event::Reply, gateway_event::Sent, gateway_event::ProgramIp,
    gateway_event::Refused, gateway_event::NotADigit, gateway_event::NotABaudRate,
    gateway_event::AddressRefused, gateway_event::Stopped, gateway_event::LinkLost,
    gateway_event::ClearRegisters, gateway_event::RegistersRead, gateway_event::StatusStarted,
    gateway_event::ActiveDevices, gateway_event::MbusFlags, gateway_event::WorkingDays,
    gateway_event::CardVersion, gateway_event::NetworkSetting, gateway_event::StatusFinished,
    gateway_event::VersionMismatch, gateway_event::DeviceCount, gateway_event::EntryDecoded,
    gateway_event::Activating, gateway_event::BadRowAddress, gateway_event::SameMeterId>;

}  // namespace tarnel
