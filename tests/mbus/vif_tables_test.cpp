#include "mbus/vif_tables.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnel {
namespace {

TEST(VifToUnit, PlainRowsWithTheirMultipliers) {
    const std::vector<uint8_t> none(4, 0);
    const struct {
        uint8_t vif;
        const char* unit;
        double multiplier;
    } rows[] = {
        {0x00, "kWh", 1e-6},
        {0x03, "kWh", 1e-3},
        {0x07, "kWh", 10},
        {0x08, "kJ", 1e-3},
        {0x0D, "kJ", 100},
        {0x0E, "MJ", 1},
        {0x0F, "MJ", 10},
        {0x13, "m3", 1e-3},
        {0x17, "m3", 10},
        {0x20, "On Time", 1},
        {0x27, "Operating Time", 1},
        {0x2B, "W", 1},
        {0x2F, "kW", 10},
        {0x30, "J/h", 1},
        {0x36, "J/h", 1e6},
        {0x3B, "l/h", 1},
        {0x3F, "l/h", 1e4},
        {0x5A, "deg. C", 0.1},
        {0x5F, "deg. C", 1},
        {0x61, "deg. K", 1e-2},
        {0x67, "deg. C", 1},
        {0x6A, "mbar", 100},
        {0x6D, "Time point", 1},
        {0x6E, "Dimensionless", 1},
        {0x70, "Average duration", 1},
        {0x74, "Actuality Duration", 1},
        {0x78, "Fabr. No.", 1},
        {0x7E, "Readout - not supported for now", 1},
        {0xFF, "Manufacturer specific", 1},
        {0x18, "Not supported", 1},
        {0x37, "Not supported", 1},
        {0x6B, "Not supported", 1},
        {0x84, "Not supported", 1},
        {0x93, "Not supported", 1},
    };
    for (const auto& row : rows) {
        const UnitScale unit = VifToUnit(none, 0, row.vif);
        EXPECT_EQ(unit.unit, row.unit) << std::hex << int(row.vif);
        EXPECT_EQ(unit.multiplier, row.multiplier) << std::hex << int(row.vif);
    }
}

TEST(VifToUnit, UserAsciiUnitAndExtensionTable) {
    const std::vector<uint8_t> ascii = {0x7C, 0x03, 0x41, 0x42, 0x43};
    EXPECT_EQ(VifToUnit(ascii, 0, 0x7C).unit, "VIF is user ASCII string: ABC");
    const std::vector<uint8_t> empty = {0x7C, 0x00};
    EXPECT_EQ(VifToUnit(empty, 0, 0x7C).unit, "Not supported");
    for (const auto& [vife, text] : {std::pair<uint8_t, const char*>{0x48, "Volts, 10^-1"},
                                     {0x8B, "Enhanced identification"},
                                     {0x14, "VIF not supported"}}) {
        const std::vector<uint8_t> extended = {0xFD, vife};
        EXPECT_EQ(VifToUnit(extended, 0, 0xFD).unit, text);
        EXPECT_EQ(VifToUnit(extended, 0, 0xFB).unit, text);
    }
}

TEST(VifeText, TheExtensionTable) {
    EXPECT_EQ(VifeText(0x00), "Credit in currency units");
    EXPECT_EQ(VifeText(0x07), "Debit in currency units");
    EXPECT_EQ(VifeText(0x08), "Access Number");
    EXPECT_EQ(VifeText(0x0F), "Software version No.");
    EXPECT_EQ(VifeText(0x15), "VIF not supported");
    EXPECT_EQ(VifeText(0x16), "Password");
    EXPECT_EQ(VifeText(0x1A), "Digitial Output (binary)");
    EXPECT_EQ(VifeText(0x1F), "Reserved");
    EXPECT_EQ(VifeText(0x3A), "Dimensionless");
    EXPECT_EQ(VifeText(0x40), "Volts, 10^-9");
    EXPECT_EQ(VifeText(0x4F), "Volts, 10^6");
    EXPECT_EQ(VifeText(0x50), "Ampers, 10^-12");
    EXPECT_EQ(VifeText(0x55), "Ampers, 10^-7");
    EXPECT_EQ(VifeText(0x56), "VIF not supported");
    EXPECT_EQ(VifeText(0x7F), "VIF not supported");
}

}  // namespace
}  // namespace tarnel
