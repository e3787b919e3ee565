#include "gateway/points_list.h"

#include <cmath>

#include "gateway/table_files.h"
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
    point.value = QStringLiteral("%1").arg(device.mbusStatus, 2, 16, QChar('0')).toUpper();
    return point;
}

QByteArray yamlText(const QString& text) {
    QString quoted = text;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted.toUtf8() + '"';
}

}  // namespace

QString HomeAssistantTcpHub(const QString& host, const QString& port) {
    return QStringLiteral("    type: tcp\n    host: %1\n    port: %2\n").arg(host, port);
}

QString HomeAssistantSerialHub(const QString& device, const QString& baud, const QString& parity,
                               const QString& stopBits) {
    return QStringLiteral(
               "    type: serial\n    method: rtu\n    port: %1\n    baudrate: %2\n"
               "    bytesize: 8\n    parity: %3\n    stopbits: %4\n")
        .arg(device, baud, parity.left(1).toUpper(), stopBits);
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

QByteArray HomeAssistantYaml(const QVector<ModbusPoint>& points, const QString& hub, int slave) {
    QByteArray yaml = "modbus:\n  - name: corvane\n" + hub.toUtf8() + "    sensors:\n";
    for (const ModbusPoint& p : points) {
        const bool value = p.count == 2;
        yaml += "      - name: " + yamlText(p.id + ' ' + p.medium + ' ' + p.point) + "\n";
        yaml +=
            "        unique_id: " + yamlText("corvane_" + p.id + '_' + p.point.toLower()) + "\n";
        yaml += "        slave: " + QByteArray::number(slave) + "\n";
        yaml += "        address: " + QByteArray::number(p.address) + "\n";
        yaml += "        input_type: input\n";
        yaml += QByteArray("        data_type: ") + (value ? "int32" : "uint16") + "\n";
        if (!value) continue;
        yaml += "        scale: " + p.scale.toLatin1() + "\n";
        yaml += "        precision: " + QByteArray::number(p.precision) + "\n";
        if (!p.unit.isEmpty()) yaml += "        unit_of_measurement: " + yamlText(p.unit) + "\n";
    }
    return yaml;
}

}  // namespace tarnel
