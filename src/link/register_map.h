#pragma once

// The gateway's registers the tool uses, as carried in the requests.
namespace tarnel::reg {

// M-Bus pass-through: a write here is sent as one telegram on the bus; a
// read from here returns the meter's reply, two bytes a register, high first.
constexpr int kMbusBuffer = 33800;  // 0x8408
// High byte: reply state (above 3 with a non-zero length: a reply is ready);
// low byte: reply length in bytes.
constexpr int kMbusStatus = 33799;  // 0x8407

// Device table: entry k starts at 1 + (k - 1) * 28 (24 in version 0.2).
constexpr int kDeviceTableStart = 1;
constexpr int kDeviceEntryRegisters = 28;
constexpr int kDeviceEntryRegistersV2 = 24;
constexpr int kActiveDeviceMap = 59500;  // 0xE86C, 16 registers: bit map of active devices
constexpr int kActiveDeviceMapRegisters = 16;
constexpr int kAddressMap = 59400;  // 0xE808, 32 registers: one M-Bus address a byte
constexpr int kAddressMapRegisters = 32;
// Single-register commands on the M-Bus address in the low byte.
constexpr int kActivateDevice = 0;
constexpr int kDeleteDevice = 1;  // with 0x00FF: delete all
constexpr int kDeleteInputs = 2;
constexpr int kSearchAndActivate = 25704;  // 0x6468, value 0x0040

// Settings.
constexpr int kReadoutMinutes = 3;
constexpr int kTimeBetweenReadings = 4;
constexpr int kWaitRespondTime = 5;
constexpr int kMbusFlags = 6;
constexpr int kNetworkFlags = 7;
constexpr int kClock = 16;  // 4 registers, written with function 16
constexpr int kClockRegisters = 4;
constexpr int kModbusAddress = 32785;   // 0x8011
constexpr int kModbusPortLine = 32786;  // 0x8012
constexpr int kMbusPortLine = 32787;    // 0x8013

// Status.
constexpr int kStatusFirst = 32768;  // 0x8000 to 0x8002
constexpr int kStatusLast = 32770;
constexpr int kStatusExtra = 60000;  // 0xEA60
constexpr int kDeviceIdCodeRegular = 2;

// Network settings.
constexpr int kIpSettingsFirst = 55400;  // 0xD868, two registers a setting
constexpr int kIpSettingsLast = 55420;   // 0xD87C
constexpr int kSerialNumber = 55330;     // 0xD822
constexpr int kListenPort = 56002;       // 0xDAC2

}  // namespace tarnel::reg
