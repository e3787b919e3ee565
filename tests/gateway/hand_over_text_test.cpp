// Hostile texts (control bytes, quotes, YAML and HTML syntax, bytes that are
// not UTF-8) through the hand-over files' writers, read back by an
// independent reader: yaml-cpp's loader for the Home Assistant
// configuration; the report's HTML keeps no tag of its own.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "gateway/commissioning_report.h"
#include "gateway/points_list.h"

namespace tarnel {
namespace {

const QString kHostile[] = {
    "CR\r\nLF",
    QString::fromLatin1("NUL\0ESC\x1b DEL\x7f", 13),
    "quote\" back\\slash 'single'",
    "ser: x #c",
    "Water\n  - name: injected\n    slave: 9",
    "<script>alert(1)</script> & \"x\"",
    QString::fromUtf8("bad \xff\xfe utf-8, NEL \xc2\x85, LS \xe2\x80\xa8, \xc2\xb0"
                      "C"),
    "true",
    "123",
    "",
};

ModbusPoint point(const QString& text, int count, const QString& unit = {}) {
    ModbusPoint p;
    p.id = "12345678";
    p.medium = text;
    p.point = count == 2 ? "Main" : "Status";
    p.count = count;
    p.address = count == 2 ? 11 : 10;
    p.scale = "0.001";
    p.precision = 3;
    p.unit = unit.isNull() ? text : unit;
    return p;
}

// The document as written for an ordinary meter: the structure, the keys,
// numbers plain, texts double-quoted.
TEST(HomeAssistantYaml, TheDocumentsStructure) {
    const QVector<ModbusPoint> points = {point("Water", 2, "m3"), point("Water", 1)};
    EXPECT_EQ(HomeAssistantYaml(points, ModbusTcpHub{.host = "10.0.0.5", .port = 5020}, 3),
              "modbus:\n"
              "  - name: corvane\n"
              "    type: tcp\n"
              "    host: \"10.0.0.5\"\n"
              "    port: 5020\n"
              "    sensors:\n"
              "      - name: \"12345678 Water Main\"\n"
              "        unique_id: \"corvane_12345678_main\"\n"
              "        slave: 3\n"
              "        address: 11\n"
              "        input_type: input\n"
              "        data_type: int32\n"
              "        scale: 0.001\n"
              "        precision: 3\n"
              "        unit_of_measurement: \"m3\"\n"
              "      - name: \"12345678 Water Status\"\n"
              "        unique_id: \"corvane_12345678_status\"\n"
              "        slave: 3\n"
              "        address: 10\n"
              "        input_type: input\n"
              "        data_type: uint16\n");
    const QByteArray serial = HomeAssistantYaml(
        {point("Water", 1)},
        ModbusSerialHub{.port = "/dev/ttyUSB0", .baudRate = 2400, .parity = 'O', .stopBits = 2}, 1);
    EXPECT_TRUE(
        serial.startsWith("modbus:\n"
                          "  - name: corvane\n"
                          "    type: serial\n"
                          "    method: rtu\n"
                          "    port: \"/dev/ttyUSB0\"\n"
                          "    baudrate: 2400\n"
                          "    bytesize: 8\n"
                          "    parity: \"O\"\n"
                          "    stopbits: 2\n"
                          "    sensors:\n"
                          "      - name: \"12345678 Water Status\"\n"))
        << serial.toStdString();
}

// Each text as the port (or host), the medium in the names and the unit:
// one hub, the same texts back, numbers still plain scalars ("?" tag), texts
// quoted ("!").
TEST(HomeAssistantYaml, HostileTextsComeBackAsTheyWere) {
    for (const QString& text : kHostile) {
        for (const bool tcp : {false, true}) {
            const HomeAssistantHub hub =
                tcp ? HomeAssistantHub{ModbusTcpHub{.host = text}} : ModbusSerialHub{.port = text};
            const QByteArray yaml = HomeAssistantYaml({point(text, 2), point(text, 1)}, hub, 1);
            const std::string what = yaml.toStdString();
            const YAML::Node root = YAML::Load(what);
            ASSERT_EQ(root["modbus"].size(), 1u) << what;
            const YAML::Node link = root["modbus"][0];
            EXPECT_EQ(link[tcp ? "host" : "port"].as<std::string>(), text.toStdString()) << what;
            const YAML::Node sensors = link["sensors"];
            ASSERT_EQ(sensors.size(), 2u) << what;
            EXPECT_EQ(sensors[0]["name"].as<std::string>(),
                      ("12345678 " + text + " Main").toStdString());
            EXPECT_EQ(sensors[0]["name"].Tag(), "!");
            EXPECT_EQ(sensors[0]["address"].Tag(), "?");
            EXPECT_EQ(sensors[0]["scale"].as<std::string>(), "0.001");
            if (!text.isEmpty()) {
                EXPECT_EQ(sensors[0]["unit_of_measurement"].as<std::string>(), text.toStdString());
            }
            EXPECT_EQ(sensors[1]["slave"].as<int>(), 1);
        }
    }
}

}  // namespace
}  // namespace tarnel
