#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

// One entry of the gateway's table of activated meters, decoded register by
// register. A new record has every field zero or empty.
struct TModbusDevice {
    uint8_t address = 0;  // M-Bus primary address
    std::string medium;
    std::string id;  // identification number, 8 hex digits
    std::string manufacturer;
    uint8_t mainVif = 0;
    uint8_t secondVif = 0;
    std::string unit;
    double multiplier = 0.0;
    std::string mainValueTag;  // 4 hex digits
    uint8_t register7High = 0;
    uint8_t unitCode = 0;
    uint8_t input1 = 0;
    uint8_t input2 = 0;
    uint8_t deviceFlags = 0;
    uint8_t mbusStatus = 0;
    uint8_t register10High = 0;
    int32_t mainValue = 0;
    std::array<int32_t, 4> tariffValues{};  // T1 to T4
    std::array<uint8_t, 4> tariffStart{};
    std::array<uint8_t, 4> tariffEnd{};
    std::string pendingHighWord;  // the high word of the 32-bit value being read
};

// Decodes entry register `registerNumber` (1 to 28) into the record; called
// in ascending register order. Lines it logs go to `lines`.
void DecodeDeviceEntryRegister(TModbusDevice& device, int registerNumber, uint8_t high, uint8_t low,
                               std::vector<std::string>& lines);

// The gateway's numeric medium table.
std::string DeviceMediumText(uint8_t code);
// The manufacturer of the register's bytes: the code is low * 256 + high.
std::string ManufacturerFromCode(uint8_t high, uint8_t low);
// Unit and multiplier from the main VIF (the plain VIF rows only).
void DeviceVifToUnit(TModbusDevice& device);

// The record from the register bytes of a whole entry (two bytes a register,
// high first).
TModbusDevice DecodeDeviceEntry(const std::vector<uint8_t>& registerBytes,
                                std::vector<std::string>& lines);

// The 14 texts of the record's row in the device grid.
std::array<std::string, 14> DeviceRowTexts(const TModbusDevice& device,
                                           char decimalSeparator = '.');

}  // namespace tarnel
