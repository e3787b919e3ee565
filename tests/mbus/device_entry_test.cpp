#include "mbus/device_entry.h"

#include <gtest/gtest.h>

#include "support.h"

namespace tarnel {
namespace {

using test::telegram;

TModbusDevice decode(std::initializer_list<std::tuple<int, uint8_t, uint8_t>> registers) {
    TModbusDevice device;
    std::vector<std::string> lines;
    for (const auto& [number, high, low] : registers)
        DecodeDeviceEntryRegister(device, number, high, low, lines);
    EXPECT_TRUE(lines.empty());
    return device;
}

TEST(DeviceEntry, AddressMediumIdAndManufacturer) {
    const TModbusDevice device =
        decode({{1, 0x05, 0x07}, {2, 0x12, 0x34}, {3, 0x56, 0x78}, {4, 0x01, 0x6A}});
    EXPECT_EQ(device.address, 5);
    EXPECT_EQ(device.medium, "Water");
    EXPECT_EQ(device.id, "12345678");
    EXPECT_EQ(device.manufacturer, "ZPA");
    EXPECT_EQ(DeviceMediumText(0x17), "Reserved/Error");
    EXPECT_EQ(DeviceMediumText(0x1A), "ADC");
    EXPECT_EQ(DeviceMediumText(8), "H.C.A.");
    EXPECT_EQ(DeviceMediumText(11), "Cold");
    EXPECT_EQ(DeviceMediumText(16), "Reserved");
    EXPECT_EQ(DeviceMediumText(22), "Cold water");
    EXPECT_EQ(DeviceMediumText(255), "Reserved/Error");
}

TEST(DeviceEntry, UnitFromTheVifUnlessTheFlagsSayOtherwise) {
    TModbusDevice volume = decode({{5, 0x13, 0x00}});
    EXPECT_EQ(volume.unit, "m3");
    EXPECT_EQ(volume.multiplier, 0.001);
    TModbusDevice unknown = decode({{5, 0x7F, 0x00}});
    EXPECT_EQ(unknown.unit, "Not supported");
    EXPECT_EQ(unknown.multiplier, 1.0);
    for (const uint8_t vif : {0x7C, 0x7E, 0xFB, 0xFD, 0x84})
        EXPECT_EQ(decode({{5, vif, 0x00}}).unit, "Not supported") << int(vif);

    TModbusDevice flagged = decode({{5, 0x13, 0x00}, {7, 0x00, 0x06}, {9, 0x00, 0x20}});
    EXPECT_EQ(flagged.unit, "m6");
    EXPECT_EQ(flagged.multiplier, 1.0);
    TModbusDevice plain = decode({{5, 0x13, 0x00}, {7, 0x00, 0x06}, {9, 0x00, 0x00}});
    EXPECT_EQ(plain.unit, "m3");
    EXPECT_EQ(plain.multiplier, 0.001);
    EXPECT_EQ(decode({{7, 0x00, 0x09}, {9, 0x00, 0x20}}).unit, "Not supported");
}

TEST(DeviceEntry, ThirtyTwoBitValuesHighWordFirst) {
    EXPECT_EQ(decode({{11, 0x00, 0x01}, {12, 0x86, 0xA0}}).mainValue, 100000);
    EXPECT_EQ(decode({{11, 0xFF, 0xFF}, {12, 0xFF, 0xFF}}).mainValue, -1);
    const TModbusDevice tariffs =
        decode({{13, 0x00, 0x00}, {14, 0x00, 0x01}, {19, 0x7F, 0xFF}, {20, 0xFF, 0xFF}});
    EXPECT_EQ(tariffs.tariffValues[0], 1);
    EXPECT_EQ(tariffs.tariffValues[3], 2147483647);
}

TEST(DeviceEntry, TariffsInputsAndRegistersThatChangeNothing) {
    const TModbusDevice device = decode({{21, 0x08, 0x16}, {24, 0x01, 0x02}, {8, 0x0A, 0x0B}});
    EXPECT_EQ(device.tariffStart[0], 8);
    EXPECT_EQ(device.tariffStart[1], 22);
    EXPECT_EQ(device.tariffEnd[3], 2);
    EXPECT_EQ(device.input1, 0x0A);
    const TModbusDevice later = decode({{26, 1, 2}, {27, 3, 4}, {28, 5, 6}, {29, 7, 8}});
    EXPECT_EQ(DeviceRowTexts(later), DeviceRowTexts(TModbusDevice{}));
}

TEST(DeviceEntry, TheFourteenTextsOfARow) {
    // A version 0.2 entry: 24 registers, 48 bytes.
    const auto bytes = telegram(
        "05 07 12 34 56 78 01 6A 13 00 00 00 00 06 00 01 00 20 00 A5 00 01 86 A0 00 00 00 0A 00 00 "
        "00 00 "
        "00 00 00 00 FF FF FF FF 06 16 00 00 16 06 00 00");
    std::vector<std::string> lines;
    const auto texts = DeviceRowTexts(DecodeDeviceEntry(bytes, lines));
    const std::array<std::string, 14> expected = {"12345678",
                                                  "5",
                                                  "ZPA",
                                                  "Water",
                                                  "m6",
                                                  "100000.000",
                                                  "10.000",
                                                  "0.000",
                                                  "0.000",
                                                  "-1.000",
                                                  "Main=0000, Device=20, mbus=A5",
                                                  "13",
                                                  "input1=00, input2=01",
                                                  "6/22/0/0-22/6/0/0"};
    EXPECT_EQ(texts, expected);
    const auto scaled =
        DeviceRowTexts(decode({{5, 0x13, 0x00}, {11, 0x00, 0x00}, {12, 0x27, 0x10}}));
    EXPECT_EQ(scaled[5], "10.000");
    EXPECT_EQ(scaled[11], "13");
    EXPECT_EQ(DeviceRowTexts(decode({{5, 0x13, 0x00}, {11, 0x00, 0x00}, {12, 0x27, 0x10}}), ',')[5],
              "10,000");
}

}  // namespace
}  // namespace tarnel
