#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <variant>
#include <vector>

#include "ops/results.h"

namespace tarnel {

struct SerialSettings;

// One Modbus point of the gateway's table: where a building management
// system reads a meter's value. Entry k occupies the input registers from
// (k - 1) x 28 + 1 (x 24 for "v 0.2"), in the gateway's numbering as the
// protocol sends it; its register r is at that start + r - 1. The main value
// is entry registers 11-12, T1 13-14 ... T4 19-20 (int32, high word first),
// the M-Bus status register 10.
struct ModbusPoint {
    int entry = 0;
    int mbusAddress = 0;
    QString id, manufacturer, medium;
    QString point;  // "Main", "T1" ... "T4", "Status"
    int function = 4;
    int address = 0;    // as sent
    int reference = 0;  // address + 1, as many BMS tools and mbpoll count
    int count = 2;
    QString type;       // "int32, high word first" or "uint16"
    QString scale;      // the multiplier as an exact decimal, "0.001"
    int precision = 0;  // decimals the scale gives
    QString unit;
    qint64 raw = 0;
    QString value;  // as the device grid shows it
};

QVector<ModbusPoint> PointsList(const std::vector<TableEntry>& entries, bool version2,
                                char decimalSeparator = '.');

// "Entry;Addr;ID;Mfr;Medium;Point;Function;Address;Register;Count;Type;Scale;
// Unit;Raw;Value;", then a line a point, as the table files are written.
QByteArray PointsCsv(const QVector<ModbusPoint>& points);

// The link of the Modbus hub in a Home Assistant configuration: Modbus TCP,
// or RTU on a serial port.
struct ModbusTcpHub {
    QString host;
    int port = 502;
};
struct ModbusSerialHub {
    QString port;  // the device, "/dev/ttyUSB0"
    int baudRate = 19200;
    char parity = 'E';  // N, O, E, M or S
    int stopBits = 1;
};
using HomeAssistantHub = std::variant<ModbusTcpHub, ModbusSerialHub>;

// The serial link as the link opened it ("Even" parity as 'E').
ModbusSerialHub SerialHubOf(const SerialSettings& settings);

// The points as sensors of a Modbus hub for Home Assistant's modbus
// integration, written by yaml-cpp's emitter: `hub` the link, `slave` the
// gateway's Modbus address. Every text is a double-quoted scalar and the
// file is ASCII (other characters escaped), so no text breaks the document
// or turns into something else in a reader; numbers are plain. A Unicode
// non-character (U+FFFE, U+FDD0, ...), which YAML cannot carry, is written
// as U+FFFD.
QByteArray HomeAssistantYaml(const QVector<ModbusPoint>& points, const HomeAssistantHub& hub,
                             int slave);

// The first line of a points file made from a table read that missed
// entries, `line` saying which ("Incomplete: entry 2 of 64 was not read"):
// a row of its own in the CSV, a comment in the YAML. Empty for an empty
// `line`.
QByteArray IncompleteCsvLine(const QString& line);
QByteArray IncompleteYamlComment(const QString& line);

// A power of ten as an exact decimal: 0.001, 1, 1000; other multipliers as
// their shortest text.
QString ExactScale(double multiplier);

}  // namespace tarnel
