// libFuzzer target over the Home Assistant configuration's writer: the
// first byte separates the rest into texts (control bytes, quotes, ": ",
// "#", newlines, bytes that are not UTF-8) that become the hub's port or
// host and the meters' medium and unit. yaml-cpp's loader must read one hub
// back with the same port or host, one sensor a point, the same names and
// units.
#include <yaml-cpp/yaml.h>

#include "fuzz_input.h"
#include "gateway/points_list.h"

namespace {

using tarnel::fuzz::Check;

constexpr qsizetype kMaxTexts = 32;

QVector<tarnel::ModbusPoint> pointsOf(const QStringList& texts) {
    QVector<tarnel::ModbusPoint> points;
    for (qsizetype i = 1; i < texts.size(); ++i) {
        tarnel::ModbusPoint p;
        p.id = QString::number(i);
        p.medium = texts[i];
        p.point = i % 2 ? "Main" : "Status";
        p.count = i % 2 ? 2 : 1;
        p.unit = texts[i - 1];
        p.scale = "0.001";
        points << p;
    }
    return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    if (size == 0) return 0;
    QStringList texts;
    for (const QByteArray& cell : fuzz::Bytes(data + 1, size - 1).split(static_cast<char>(data[0])))
        if (texts.size() < kMaxTexts) texts << QString::fromUtf8(cell);
    const QVector<ModbusPoint> points = pointsOf(texts);
    const bool tcp = data[0] & 1;
    const HomeAssistantHub hub =
        tcp ? HomeAssistantHub{ModbusTcpHub{.host = texts[0]}} : ModbusSerialHub{.port = texts[0]};
    const QByteArray yaml = HomeAssistantYaml(points, hub, 1);
    const YAML::Node root = YAML::Load(yaml.toStdString());
    Check(root["modbus"].size() == 1);
    const YAML::Node hubNode = root["modbus"][0];
    Check(hubNode[tcp ? "host" : "port"].as<std::string>() == texts[0].toStdString());
    const YAML::Node sensors = hubNode["sensors"];
    Check(sensors.size() == static_cast<size_t>(points.size()));
    for (qsizetype i = 0; i < points.size(); ++i) {
        const ModbusPoint& p = points[i];
        const YAML::Node sensor = sensors[static_cast<size_t>(i)];
        Check(sensor["name"].as<std::string>() ==
              (p.id + ' ' + p.medium + ' ' + p.point).toStdString());
        if (p.count == 2 && !p.unit.isEmpty())
            Check(sensor["unit_of_measurement"].as<std::string>() == p.unit.toStdString());
    }
    return 0;
}
