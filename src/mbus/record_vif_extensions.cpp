// The two VIF extension tables: after VIF 0xFD (the main extension table:
// device and bus parameters, currency, volts and amperes, counters) and after
// VIF 0xFB (the alternate table: larger and non-metric units). The true VIF is
// the first VIFE's seven low bits; the codes not listed are reserved.
#include "mbus/record_parts.h"

namespace tarnel::records {
namespace {

using enum ValueStyle;
using enum TimeUnits;

constexpr VifRow kFdRows[] = {
    {0x00, 0x03, "Credit", "currency units", -3},
    {0x04, 0x07, "Debit", "currency units", -3},
    {0x08, 0x08, "Access number", ""},
    {0x09, 0x09, "Medium", ""},
    {0x0A, 0x0A, "Manufacturer", "", 0, Manufacturer},
    {0x0B, 0x0B, "Parameter set identification", ""},
    {0x0C, 0x0C, "Model/version", ""},
    {0x0D, 0x0D, "Hardware version", ""},
    {0x0E, 0x0E, "Firmware version", ""},
    {0x0F, 0x0F, "Software version", ""},
    {0x10, 0x10, "Customer location", ""},
    {0x11, 0x11, "Customer", ""},
    {0x12, 0x12, "Access code user", ""},
    {0x13, 0x13, "Access code operator", ""},
    {0x14, 0x14, "Access code system operator", ""},
    {0x15, 0x15, "Access code developer", ""},
    {0x16, 0x16, "Password", ""},
    {0x17, 0x17, "Error flags", "", 0, Binary},
    {0x18, 0x18, "Error mask", "", 0, Binary},
    {0x1A, 0x1A, "Digital output", "", 0, Binary},
    {0x1B, 0x1B, "Digital input", "", 0, Binary},
    {0x1C, 0x1C, "Baud rate", "Bd"},
    {0x1D, 0x1D, "Response delay time", "bit times"},
    {0x1E, 0x1E, "Retry", ""},
    {0x1F, 0x1F, "Remote control", ""},
    {0x20, 0x20, "First storage number for cyclic storage", ""},
    {0x21, 0x21, "Last storage number for cyclic storage", ""},
    {0x22, 0x22, "Size of storage block", ""},
    {0x24, 0x27, "Storage interval", "", 0, Number, FromSeconds},
    {0x28, 0x28, "Storage interval", "months"},
    {0x29, 0x29, "Storage interval", "years"},
    {0x2A, 0x2A, "Operator specific data", ""},
    {0x2C, 0x2F, "Duration since last readout", "", 0, Number, FromSeconds},
    {0x30, 0x30, "Start of tariff", "", 0, Date},
    {0x31, 0x33, "Duration of tariff", "", 0, Number, FromSeconds},
    {0x34, 0x37, "Period of tariff", "", 0, Number, FromSeconds},
    {0x38, 0x38, "Period of tariff", "months"},
    {0x39, 0x39, "Period of tariff", "years"},
    {0x3A, 0x3A, "Dimensionless", ""},
    {0x40, 0x4F, "Voltage", "V", -9},
    {0x50, 0x5F, "Current", "A", -12},
    {0x60, 0x60, "Reset counter", ""},
    {0x61, 0x61, "Cumulation counter", ""},
    {0x62, 0x62, "Control signal", ""},
    {0x63, 0x63, "Day of week", ""},
    {0x64, 0x64, "Week number", ""},
    {0x65, 0x65, "Time point of day change", ""},
    {0x66, 0x66, "State of parameter activation", ""},
    {0x67, 0x67, "Special supplier information", ""},
    {0x68, 0x6B, "Duration since last cumulation", "", 0, Number, FromHours},
    {0x6C, 0x6F, "Operating time battery", "", 0, Number, FromHours},
    {0x70, 0x70, "Date and time of battery change", "", 0, Date},
};

constexpr VifRow kFbRows[] = {
    {0x00, 0x01, "Energy", "MWh", -1},
    {0x08, 0x09, "Energy", "GJ", -1},
    {0x10, 0x11, "Volume", "m3", 2},
    {0x18, 0x19, "Mass", "t", 2},
    {0x21, 0x21, "Volume", "ft3", -1},
    {0x22, 0x22, "Volume", "US gal", -1},
    {0x23, 0x23, "Volume", "US gal", 0},
    {0x24, 0x24, "Volume flow", "US gal/min", -3},
    {0x25, 0x25, "Volume flow", "US gal/min", 0},
    {0x26, 0x26, "Volume flow", "US gal/h", 0},
    {0x28, 0x29, "Power", "MW", -1},
    {0x30, 0x31, "Power", "GJ/h", -1},
    {0x58, 0x5B, "Flow temperature", "°F", -3},
    {0x5C, 0x5F, "Return temperature", "°F", -3},
    {0x60, 0x63, "Temperature difference", "°F", -3},
    {0x64, 0x67, "External temperature", "°F", -3},
    {0x70, 0x73, "Cold / warm temperature limit", "°F", -3},
    {0x74, 0x77, "Cold / warm temperature limit", "°C", -3},
    {0x78, 0x7F, "Cumulative count max power", "W", -3},
};

}  // namespace

VifMeaning ExtensionFdVif(uint8_t code) {
    return LookUpVif(kFdRows, code, "Unknown VIFE " + HexByte(code) + " of table 0xFD");
}

VifMeaning ExtensionFbVif(uint8_t code) {
    return LookUpVif(kFbRows, code, "Unknown VIFE " + HexByte(code) + " of table 0xFB");
}

}  // namespace tarnel::records
