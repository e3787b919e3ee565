// libFuzzer target over the Home Assistant configuration's writer: the
// first byte separates the rest into texts (control bytes, quotes, ": ",
// "#", newlines, bytes that are not UTF-8) that become the hub's port or
// host and the meters' medium and unit. yaml-cpp's loader must read one hub
// back with the same port or host, one sensor a point, the same names and
// units (a Unicode non-character, which YAML cannot carry, as U+FFFD).
#include <yaml-cpp/yaml.h>

#include "fuzz_input.h"
#include "gateway/points_list.h"

namespace {

using tarnel::fuzz::Check;

constexpr qsizetype kMaxTexts = 32;

// `text` as the YAML carries it, in UTF-8: non-characters as U+FFFD.
std::string carried(const QString& text) {
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t code =
            pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        if (QChar::isNonCharacter(code))
            result += QChar(QChar::ReplacementCharacter);
        else
            result += pair ? text.mid(i, 2) : QString(text[i]);
        i += pair ? 1 : 0;
    }
    return result.toStdString();
}

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
    Check(hubNode[tcp ? "host" : "port"].as<std::string>() == carried(texts[0]));
    const YAML::Node sensors = hubNode["sensors"];
    Check(sensors.size() == static_cast<size_t>(points.size()));
    for (qsizetype i = 0; i < points.size(); ++i) {
        const ModbusPoint& p = points[i];
        const YAML::Node sensor = sensors[static_cast<size_t>(i)];
        Check(sensor["name"].as<std::string>() == carried(p.id + ' ' + p.medium + ' ' + p.point));
        if (p.count == 2 && !p.unit.isEmpty())
            Check(sensor["unit_of_measurement"].as<std::string>() == carried(p.unit));
    }
    return 0;
}
