#pragma once

#include <cstdint>

// The Modbus function codes the tool sends, and the bits of a reply that
// name them.
namespace tarnel::fn {

constexpr uint8_t kReadHoldingRegisters = 0x03;
constexpr uint8_t kReadInputRegisters = 0x04;
constexpr uint8_t kWriteSingleRegister = 0x06;
constexpr uint8_t kWriteMultipleRegisters = 0x10;
constexpr uint8_t kEncapsulatedInterface = 0x2B;
// MEI type of "Read Device Identification" inside function 0x2B.
constexpr uint8_t kMeiReadDeviceId = 0x0E;
// Set in the function byte of an exception reply.
constexpr uint8_t kExceptionBit = 0x80;
// The exception code "SLAVE DEVICE FAILURE": the gateway could not do what
// was asked of a meter (to an activation: the meter did not answer it).
constexpr uint8_t kSlaveDeviceFailure = 0x04;

}  // namespace tarnel::fn
