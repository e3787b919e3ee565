#include <gtest/gtest.h>

#include "gateway/points_list.h"
#include "mbus/device_entry.h"

namespace tarnel {
namespace {

TModbusDevice meter(double multiplier, const char* unit) {
    TModbusDevice device;
    device.address = 5;
    device.id = "12345678";
    device.manufacturer = "ABC";
    device.medium = "Water";
    device.multiplier = multiplier;
    device.unit = unit;
    device.mainValue = -1;
    device.tariffValues = {1, 2, 3, 4};
    device.mbusStatus = 0x04;
    return device;
}

// Entry k starts at (k - 1) x 28 + 1 (x 24 for v 0.2); entry register r is at
// start + r - 1: main value 11-12, T4 19-20, status 10.
TEST(PointsList, RegistersFollowTheEntryLayout) {
    const struct {
        int entry;
        bool version2;
        int main, t4, status;
    } cases[] = {
        {1, false, 11, 19, 10}, {2, false, 39, 47, 38}, {64, false, 1775, 1783, 1774},
        {1, true, 11, 19, 10},  {2, true, 35, 43, 34},  {64, true, 1523, 1531, 1522},
    };
    for (const auto& c : cases) {
        const auto points = PointsList({{c.entry, meter(0.001, "m3")}}, c.version2);
        ASSERT_EQ(points.size(), 6) << c.entry;
        EXPECT_EQ(points[0].point, "Main");
        EXPECT_EQ(points[0].address, c.main) << c.entry << " v2 " << c.version2;
        EXPECT_EQ(points[0].reference, c.main + 1);
        EXPECT_EQ(points[1].address, c.main + 2) << "T1";
        EXPECT_EQ(points[4].address, c.t4) << c.entry;
        EXPECT_EQ(points[5].point, "Status");
        EXPECT_EQ(points[5].address, c.status) << c.entry;
        EXPECT_EQ(points[5].count, 1);
    }
}

TEST(PointsList, ScaleUnitAndValuesAsTheGridShowsThem) {
    const struct {
        double multiplier;
        const char* scale;
        int precision;
    } cases[] = {{0.001, "0.001", 3},
                 {0.01, "0.01", 2},
                 {1.0, "1", 0},
                 {1000.0, "1000", 0},
                 {0.000001, "0.000001", 6}};
    for (const auto& c : cases) {
        const ModbusPoint main = PointsList({{1, meter(c.multiplier, "m3")}}, false).at(0);
        EXPECT_EQ(main.scale, c.scale);
        EXPECT_EQ(main.precision, c.precision) << c.scale;
    }
    const auto points = PointsList({{3, meter(0.001, "m3")}}, false);
    EXPECT_EQ(points[0].raw, -1);
    EXPECT_EQ(points[0].value, "-0.001");
    EXPECT_EQ(points[4].value, "0.004") << "T4";
    EXPECT_EQ(points[5].value, "04") << "the M-Bus status byte";
    EXPECT_EQ(PointsCsv(points).left(PointsCsv(points).indexOf('\n') + 1),
              "Entry;Addr;ID;Mfr;Medium;Point;Function;Address;Register;Count;Type;Scale;Unit;"
              "Raw;Value;\r\n");
    EXPECT_TRUE(PointsCsv(points).contains(
        "3;5;12345678;ABC;Water;Main;4;67;68;2;int32, high word first;0.001;m3;-1;-0.001;\r\n"));
}

// Flag 0x20 (register 9): the value is unscaled and register 7's unit code
// names its unit (1: kWh), whatever the VIF (0x13: m3 x 0.001).
TEST(PointsList, AnUnscaledValueHasScaleOneAndTheUnitCodesUnit) {
    std::vector<uint8_t> registers(56, 0);
    registers[2 * 4] = 0x13;       // register 5 hi: main VIF
    registers[2 * 6 + 1] = 0x01;   // register 7 lo: unit code kWh
    registers[2 * 8 + 1] = 0x20;   // register 9 lo: device flags
    registers[2 * 10 + 1] = 0x01;  // register 11-12: 0x000186A0 = 100000
    registers[2 * 11] = 0x86;
    registers[2 * 11 + 1] = 0xA0;
    std::vector<std::string> lines;
    const ModbusPoint main = PointsList({{1, DecodeDeviceEntry(registers, lines)}}, false).at(0);
    EXPECT_EQ(main.scale, "1");
    EXPECT_EQ(main.unit, "kWh");
    EXPECT_EQ(main.raw, 100000);
    EXPECT_EQ(main.value, "100000.000");
}

}  // namespace
}  // namespace tarnel
