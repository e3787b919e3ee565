#include "mbus/vif_tables.h"

#include "mbus/record_parts.h"

namespace tarnel {
namespace {

// The doubles nearest to 10^-6 .. 10^6.
double power10(int exponent) {
    static constexpr double kPowers[] = {1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,
                                         1e1,  1e2,  1e3,  1e4,  1e5,  1e6};
    return kPowers[exponent + 6];
}

// The units the grid shows for the primary VIF codes it knows. The scale is
// the primary VIF table's (records::PrimaryVif): a row's unit is
// 10^unitPower of that table's unit (kWh: 10^3 Wh, l/h: 10^-3 m3/h, mbar:
// 10^-3 bar). Time, date and identifier codes have exponent 0 there, so
// multiplier 1 here.
struct Row {
    uint8_t first, last;
    const char* unit;
    int unitPower = 0;
};

constexpr Row kPlainRows[] = {
    {0x00, 0x07, "kWh", 3},
    {0x08, 0x0D, "kJ", 3},
    {0x0E, 0x0F, "MJ", 6},
    {0x10, 0x17, "m3"},
    {0x20, 0x23, "On Time"},
    {0x24, 0x27, "Operating Time"},
    {0x28, 0x2D, "W"},
    {0x2E, 0x2F, "kW", 3},
    {0x30, 0x36, "J/h"},
    {0x38, 0x3F, "l/h", -3},
    {0x58, 0x5B, "deg. C"},
    {0x5C, 0x5F, "deg. C"},
    {0x60, 0x63, "deg. K"},
    {0x64, 0x67, "deg. C"},
    {0x68, 0x6A, "mbar", -3},
    {0x6C, 0x6D, "Time point"},
    {0x6E, 0x6E, "Dimensionless"},
    {0x70, 0x70, "Average duration"},
    {0x74, 0x74, "Actuality Duration"},
    {0x78, 0x78, "Fabr. No."},
};

}  // namespace

UnitScale PlainVifUnit(uint8_t vif) {
    for (const Row& row : kPlainRows) {
        if (vif < row.first || vif > row.last) continue;
        return {row.unit, power10(records::PrimaryVif(vif).exponent - row.unitPower)};
    }
    return {};
}

UnitScale VifToUnit(std::span<const uint8_t> telegram, size_t vifPosition, uint8_t vif) {
    switch (vif) {
        case 0x7C:
        case 0xFC: {
            // The byte after the VIF is the text's length; the text follows it.
            const size_t length = telegram[vifPosition + 1];
            if (length == 0) return {};
            const auto text = telegram.subspan(vifPosition + 2, length);
            return {"VIF is user ASCII string: " + std::string(text.begin(), text.end()), 1.0};
        }
        case 0x7E:
        case 0xFE:
            return {"Readout - not supported for now", 1.0};
        case 0x7F:
        case 0xFF:
            return {"Manufacturer specific", 1.0};
        case 0xFB:
        case 0xFD:
            return {VifeText(telegram[vifPosition + 1] & 0x7F), 1.0};
        default:
            return PlainVifUnit(vif);
    }
}

std::string VifeText(uint8_t code) {
    if (code <= 0x03) return "Credit in currency units";
    if (code <= 0x07) return "Debit in currency units";
    static const char* const kNamed[] = {
        "Access Number",
        "Medium",
        "Manufacturer",
        "Enhanced identification",
        "Model/Version",
        "Hardware version No.",
        "Firmware version No.",
        "Software version No.",
        "Customer location",
        "Customer",
        "Access code user",
        "Access code operator",
        "VIF not supported",
        "VIF not supported",
        "Password",
        "Error flags",
        "Error mask",
        "Reserved",
        "Digitial Output (binary)",
        "Digitial Input (binary)",
        "Baudrate",
        "Response Delay time",
        "Retry",
        "Reserved",
    };
    if (code <= 0x1F) return kNamed[code - 0x08];
    if (code == 0x3A) return "Dimensionless";
    if (code >= 0x40 && code <= 0x4F) return "Volts, 10^" + std::to_string((code & 0x0F) - 9);
    if (code >= 0x50 && code <= 0x55) return "Ampers, 10^" + std::to_string((code & 0x0F) - 12);
    return "VIF not supported";
}

}  // namespace tarnel
