#include "mbus/device_entry.h"

#include <stdexcept>

#include "base/hex_text.h"
#include "mbus/telegram_decoder.h"
#include "mbus/value_format.h"
#include "mbus/vif_tables.h"

namespace tarnel {
namespace {

std::string unitCodeText(uint8_t code) {
    static const char* const kUnits[] = {"No unit", "kWh", "m3", "kJ", "MJ", "MWh", "m6"};
    return code < std::size(kUnits) ? kUnits[code] : "Not supported";
}

int32_t* valueOf(TModbusDevice& device, int registerNumber) {
    switch (registerNumber) {
        case 12:
            return &device.mainValue;
        case 14:
            return &device.tariffValues[0];
        case 16:
            return &device.tariffValues[1];
        case 18:
            return &device.tariffValues[2];
        case 20:
            return &device.tariffValues[3];
        default:
            return nullptr;
    }
}

}  // namespace

std::string DeviceMediumText(uint8_t code) {
    static const char* const kMedia[] = {
        "Other",      "Oil",       "Electricity", "Gas",        "Heat",       "Steam",
        "Hot water",  "Water",     "H.C.A.",      "Compr. air", "Cold",       "Cold",
        "Heat",       "Heat/Cold", "System",      "Unknown",    "Reserved",   "Reserved",
        "Reserved",   "Reserved",  "Reserved",    "Reserved",   "Cold water", "Reserved/Error",
        "Dual water", "Pressure",  "ADC",
    };
    return code < std::size(kMedia) ? kMedia[code] : "Reserved/Error";
}

std::string ManufacturerFromCode(uint8_t high, uint8_t low) {
    return ManufacturerLetters(static_cast<uint16_t>(low * 256 + high));
}

void DeviceVifToUnit(TModbusDevice& device) {
    // The plain rows, without the user ASCII unit, the extension table and the
    // manufacturer-specific codes.
    const UnitScale unit = device.mainVif < 0x80 ? PlainVifUnit(device.mainVif) : UnitScale{};
    device.unit = unit.unit;
    device.multiplier = unit.multiplier;
}

void DecodeDeviceEntryRegister(TModbusDevice& device, int registerNumber, uint8_t high, uint8_t low,
                               std::vector<std::string>& lines) {
    switch (registerNumber) {
        case 1:
            device.address = high;
            device.medium = DeviceMediumText(low);
            break;
        case 2:
            device.id = HexText(high) + HexText(low);
            break;
        case 3:
            device.id += HexText(high) + HexText(low);
            break;
        case 4:
            try {
                device.manufacturer = ManufacturerFromCode(high, low);
            } catch (const std::exception&) {
                lines.push_back("Exception converting Manyfacturer...");
            }
            break;
        case 5:
            device.mainVif = high;
            device.secondVif = low;
            DeviceVifToUnit(device);
            break;
        case 6:
            device.mainValueTag = HexText(high) + HexText(low);
            break;
        case 7:
            device.register7High = high;
            device.unitCode = low;
            break;
        case 8:
            device.input1 = high;
            device.input2 = low;
            break;
        case 9:
            device.deviceFlags = low;
            if (low & 0x20) {
                device.multiplier = 1.0;
                device.unit = unitCodeText(device.unitCode);
            }
            break;
        case 10:
            device.register10High = high;
            device.mbusStatus = low;
            break;
        case 11:
        case 13:
        case 15:
        case 17:
        case 19:
        case 25:
            device.pendingHighWord = HexText(high) + HexText(low);
            break;
        case 12:
        case 14:
        case 16:
        case 18:
        case 20: {
            // The high word read before, then this register: 8 hex digits.
            std::string digits = device.pendingHighWord + HexText(high) + HexText(low);
            if (digits.size() < 8) digits.insert(0, 8 - digits.size(), '0');
            *valueOf(device, registerNumber) = HexText8ToInt(digits);
            break;
        }
        case 21:
            device.tariffStart[0] = high;
            device.tariffStart[1] = low;
            break;
        case 22:
            device.tariffStart[2] = high;
            device.tariffStart[3] = low;
            break;
        case 23:
            device.tariffEnd[0] = high;
            device.tariffEnd[1] = low;
            break;
        case 24:
            device.tariffEnd[2] = high;
            device.tariffEnd[3] = low;
            break;
        default:
            break;  // 26 to 28 and beyond: nothing
    }
}

TModbusDevice DecodeDeviceEntry(const std::vector<uint8_t>& registerBytes,
                                std::vector<std::string>& lines) {
    TModbusDevice device;
    for (size_t i = 0; i + 1 < registerBytes.size(); i += 2)
        DecodeDeviceEntryRegister(device, static_cast<int>(i / 2 + 1), registerBytes[i],
                                  registerBytes[i + 1], lines);
    return device;
}

std::array<std::string, 14> DeviceRowTexts(const TModbusDevice& device, char separator) {
    const auto value = [&](int32_t integer) {
        return FormatScaledValue(integer, device.multiplier, separator);
    };
    const auto tariffs = [](const std::array<uint8_t, 4>& bytes) {
        return std::to_string(bytes[0]) + "/" + std::to_string(bytes[1]) + "/" +
               std::to_string(bytes[2]) + "/" + std::to_string(bytes[3]);
    };
    return {
        device.id,
        std::to_string(device.address),
        device.manufacturer,
        device.medium,
        device.unit,
        value(device.mainValue),
        value(device.tariffValues[0]),
        value(device.tariffValues[1]),
        value(device.tariffValues[2]),
        value(device.tariffValues[3]),
        "Main=" + device.mainValueTag + ", Device=" + HexText(device.deviceFlags) +
            ", mbus=" + HexText(device.mbusStatus),
        HexText(device.mainVif),
        "input1=" + HexText(device.input1) + ", input2=" + HexText(device.input2),
        tariffs(device.tariffStart) + "-" + tariffs(device.tariffEnd),
    };
}

}  // namespace tarnel
