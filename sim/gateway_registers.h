#pragma once

// The Corvane-64's register map as the simulated gateway serves it: register
// numbers as carried in Modbus requests (zero-based, decimal with the hex
// beside). Kept apart from the tool's own map on purpose, so that a wrong
// number on either side shows up as a failed exchange.
namespace tarnel::sim {

// Input registers, read with function 4.
namespace input_reg {

// Device table: entry k (1 to 64) starts at kDeviceTable + (k - 1) * size,
// size 28 registers in Modbus version 0.3 and 24 in version 0.2.
constexpr int kDeviceTable = 1;
constexpr int kEntrySizeV03 = 28;
constexpr int kEntrySizeV02 = 24;

// Status: high byte the slot count, low byte the active devices.
constexpr int kSlotsInUse = 32768;  // 0x8000
// High byte the network flags, low byte the M-Bus flags.
constexpr int kFlags = 32769;        // 0x8001
constexpr int kWorkingDays = 32770;  // 0x8002

// Pass-through: high byte the reply state (above 3: ready), low byte the
// reply length in bytes.
constexpr int kMbusReplyState = 33799;  // 0x8407
// The meter's reply, two bytes a register, high byte first.
constexpr int kMbusReplyBuffer = 33800;  // 0x8408

// The M-Bus address of each slot, two slots a register (high byte first).
constexpr int kSlotAddresses = 59400;  // 0xE808
constexpr int kSlotAddressRegisters = 32;
// Occupied slots, slot 1 in bit 15 of the first register.
constexpr int kSlotBits = 59500;  // 0xE86C
constexpr int kSlotBitRegisters = 16;

// The register-map version: 0x0003 (0.3) or 0x0002 (0.2).
constexpr int kMapVersion = 60000;  // 0xEA60

}  // namespace input_reg

// Holding registers, read with function 3 and written with 6 and 16.
namespace holding_reg {

// Commands on an M-Bus primary address in the low byte; write-only.
constexpr int kActivate = 0;
constexpr int kDelete = 1;
constexpr int kDeleteAllValue = 0x00FF;  // written to kDelete: every entry goes
constexpr int kDeleteInputs = 2;
constexpr int kSearchAndActivate = 25704;        // 0x6468
constexpr int kSearchAndActivateValue = 0x0040;  // the one value it takes

constexpr int kReadoutPeriod = 3;        // seconds
constexpr int kTimeBetweenReadings = 4;  // tenths of a second
constexpr int kWaitRespond = 5;          // tenths of a second
constexpr int kMbusFlagGroup = 6;        // flag group 1: SND_NKE, C 0x7B, polling, sort
constexpr int kNetworkFlagGroup = 7;     // flag group 2: DHCP, reset, factory default

// The clock, four registers: (second, minute), (hour, weekday),
// (day, month), (year - 2000, 0).
constexpr int kClock = 16;
constexpr int kClockRegisters = 4;

constexpr int kUnitAddress = 32785;      // 0x8011, the gateway's own Modbus address
constexpr int kModbusLineCode = 32786;   // 0x8012, baud code << 4 | parity
constexpr int kMbusLineCode = 32787;     // 0x8013, the same for the M-Bus port
constexpr int kMbusTransmit = 33800;     // 0x8408, function 16: one telegram
constexpr int kSerialNumber = 55330;     // 0xD822, two registers of BCD
constexpr int kNetworkSettings = 55400;  // 0xD868, two registers a setting
constexpr int kLastNetworkPair = 55420;  // 0xD87C, the last pair's first register
constexpr int kListenPort = 56002;       // 0xDAC2

}  // namespace holding_reg
}  // namespace tarnel::sim
