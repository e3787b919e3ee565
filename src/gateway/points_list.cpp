#include "gateway/points_list.h"

#include <yaml-cpp/yaml.h>

#include <cmath>

#include "base/hex_text.h"
#include "gateway/table_files.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/value_format.h"

namespace tarnel {
namespace {

constexpr int kStatusRegister = 10;
constexpr int kMainValueRegister = 11;
constexpr const char* kValueNames[] = {"Main", "T1", "T2", "T3", "T4"};

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

ModbusPoint entryPoint(const TableEntry& entry, int entrySize) {
    const TModbusDevice& device = entry.device;
    ModbusPoint point;
    point.entry = entry.number;
    point.mbusAddress = device.address;
    point.id = latin1(device.id);
    point.manufacturer = latin1(device.manufacturer);
    point.medium = latin1(device.medium);
    point.address = reg::kDeviceTableStart + (entry.number - 1) * entrySize - 1;
    return point;
}

ModbusPoint valuePoint(ModbusPoint point, const TModbusDevice& device, int index, char separator) {
    const int32_t raw = index == 0 ? device.mainValue : device.tariffValues[index - 1];
    point.point = kValueNames[index];
    point.address += kMainValueRegister + 2 * index;
    point.reference = point.address + 1;
    point.type = "int32, high word first";
    point.scale = ExactScale(device.multiplier);
    const qsizetype dot = point.scale.indexOf('.');
    point.precision = dot < 0 ? 0 : static_cast<int>(point.scale.size() - dot - 1);
    point.unit = latin1(device.unit);
    point.raw = raw;
    point.value = latin1(FormatScaledValue(raw, device.multiplier, separator));
    return point;
}

ModbusPoint statusPoint(ModbusPoint point, const TModbusDevice& device) {
    point.point = "Status";
    point.address += kStatusRegister;
    point.reference = point.address + 1;
    point.count = 1;
    point.type = "uint16";
    point.scale = "1";
    point.raw = device.register10High * 256 + device.mbusStatus;
    point.value = QString::fromStdString(HexText(device.mbusStatus));
    return point;
}

// A text as a double-quoted scalar: a string to every reader, whatever it
// holds ("true", "1", "a: b #c", a newline).
void yamlText(YAML::Emitter& out, const char* key, const QString& text) {
    out << YAML::Key << key << YAML::Value << YAML::DoubleQuoted << text.toStdString();
}

void yamlHub(YAML::Emitter& out, const HomeAssistantHub& hub) {
    if (const auto* tcp = std::get_if<ModbusTcpHub>(&hub)) {
        out << YAML::Key << "type" << YAML::Value << "tcp";
        yamlText(out, "host", tcp->host);
        out << YAML::Key << "port" << YAML::Value << tcp->port;
        return;
    }
    const auto& serial = std::get<ModbusSerialHub>(hub);
    out << YAML::Key << "type" << YAML::Value << "serial";
    out << YAML::Key << "method" << YAML::Value << "rtu";
    yamlText(out, "port", serial.port);
    out << YAML::Key << "baudrate" << YAML::Value << serial.baudRate;
    out << YAML::Key << "bytesize" << YAML::Value << 8;
    yamlText(out, "parity", QString(QChar::fromLatin1(serial.parity)));
    out << YAML::Key << "stopbits" << YAML::Value << serial.stopBits;
}

void yamlSensor(YAML::Emitter& out, const ModbusPoint& p, int slave) {
    const bool value = p.count == 2;
    out << YAML::BeginMap;
    yamlText(out, "name", p.id + ' ' + p.medium + ' ' + p.point);
    yamlText(out, "unique_id", "corvane_" + p.id + '_' + p.point.toLower());
    out << YAML::Key << "slave" << YAML::Value << slave;
    out << YAML::Key << "address" << YAML::Value << p.address;
    out << YAML::Key << "input_type" << YAML::Value << "input";
    out << YAML::Key << "data_type" << YAML::Value << (value ? "int32" : "uint16");
    if (value) {
        // The scale is an exact decimal ("0.001"), plain: a number.
        out << YAML::Key << "scale" << YAML::Value << p.scale.toStdString();
        out << YAML::Key << "precision" << YAML::Value << p.precision;
        if (!p.unit.isEmpty()) yamlText(out, "unit_of_measurement", p.unit);
    }
    out << YAML::EndMap;
}

}  // namespace

ModbusSerialHub SerialHubOf(const SerialSettings& settings) {
    static constexpr char kParities[] = "NOEMS";  // in the order of Line::parity
    const int parity = settings.line.parity;
    return {.port = settings.portName,
            .baudRate = settings.line.baudrate,
            .parity = parity >= 0 && parity < 5 ? kParities[parity] : 'E',
            .stopBits = settings.line.stopBits};
}

QString ExactScale(double multiplier) {
    for (int power = -9; power <= 9; ++power) {
        const double ten = std::pow(10.0, power);
        if (std::abs(multiplier - ten) > ten * 1e-9) continue;
        if (power >= 0) return "1" + QString(power, '0');
        return "0." + QString(-power - 1, '0') + "1";
    }
    return QString::number(multiplier, 'g', 17);
}

QVector<ModbusPoint> PointsList(const std::vector<TableEntry>& entries, bool version2,
                                char decimalSeparator) {
    const int entrySize = version2 ? reg::kDeviceEntryRegistersV2 : reg::kDeviceEntryRegisters;
    QVector<ModbusPoint> points;
    for (const TableEntry& entry : entries) {
        const ModbusPoint base = entryPoint(entry, entrySize);
        for (int index = 0; index < 5; ++index)
            points << valuePoint(base, entry.device, index, decimalSeparator);
        points << statusPoint(base, entry.device);
    }
    return points;
}

QByteArray PointsCsv(const QVector<ModbusPoint>& points) {
    QByteArray csv =
        "Entry;Addr;ID;Mfr;Medium;Point;Function;Address;Register;Count;Type;Scale;"
        "Unit;Raw;Value;\r\n";
    for (const ModbusPoint& p : points) {
        const QStringList cells = {QString::number(p.entry),
                                   QString::number(p.mbusAddress),
                                   p.id,
                                   p.manufacturer,
                                   p.medium,
                                   p.point,
                                   QString::number(p.function),
                                   QString::number(p.address),
                                   QString::number(p.reference),
                                   QString::number(p.count),
                                   p.type,
                                   p.scale,
                                   p.unit,
                                   QString::number(p.raw),
                                   p.value};
        csv += TableRow(cells);
    }
    return csv;
}

QByteArray HomeAssistantYaml(const QVector<ModbusPoint>& points, const HomeAssistantHub& hub,
                             int slave) {
    YAML::Emitter out;
    // ASCII only: a line or paragraph separator, DEL or a C1 control would
    // be refused or read as a line break by some readers if left as it is.
    out.SetOutputCharset(YAML::EscapeNonAscii);
    out << YAML::BeginMap << YAML::Key << "modbus" << YAML::Value << YAML::BeginSeq;
    out << YAML::BeginMap << YAML::Key << "name" << YAML::Value << "corvane";
    yamlHub(out, hub);
    out << YAML::Key << "sensors" << YAML::Value << YAML::BeginSeq;
    for (const ModbusPoint& p : points)
        yamlSensor(out, p, slave);
    out << YAML::EndSeq << YAML::EndMap << YAML::EndSeq << YAML::EndMap;
    return QByteArray(out.c_str(), static_cast<qsizetype>(out.size())) + '\n';
}

QByteArray IncompleteCsvLine(const QString& line) {
    return line.isEmpty() ? QByteArray() : TableRow({line});
}

QByteArray IncompleteYamlComment(const QString& line) {
    return line.isEmpty() ? QByteArray() : "# " + line.toUtf8() + "\n";
}

}  // namespace tarnel
