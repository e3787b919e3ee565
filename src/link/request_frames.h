#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

namespace tarnel {

// One Modbus request, independent of the link: the unit address followed by
// the protocol data unit, and how the serial form is paced (a pause before
// the first byte, a pause after every byte).
struct ModbusRequest {
    QByteArray adu;
    int leadPauseMs = 0;
    int bytePauseMs = 0;
};

// The largest payload a write-multiple request holds.
constexpr int kMaxPayload = 238;

// The line that refuses a write-multiple request of `size` payload bytes.
QString RefusedPayloadLine(qsizetype size);

// RTU form: the request and its CRC, low byte first.
QByteArray RtuFrame(const QByteArray& adu);
// TCP form: MBAP header (transaction high byte first, protocol 0, length of
// what follows the length field) and the request.
QByteArray TcpFrame(uint16_t transaction, const QByteArray& adu);

// Function 16 from `startRegister`: byteCount bytes of `payload` (an odd count
// gets one 0x00 pad byte), as byteCount / 2 registers. Nothing when the
// payload or the count is above kMaxPayload. Missing payload bytes are sent
// as 0x00.
std::optional<ModbusRequest> WriteRegistersRequest(int slave, int startRegister, int byteCount,
                                                   QByteArrayView payload);
// Function 6.
ModbusRequest WriteSingleRegisterRequest(int slave, int registerNumber, uint8_t valueHigh,
                                         uint8_t valueLow);
// Function 4, without pauses.
ModbusRequest ReadInputRegistersRequest(int slave, int startRegister, int quantity);
// Function 3, with a 10 ms lead.
ModbusRequest ReadHoldingRegistersRequest(int slave, int startRegister, int quantity);
// Function 43, MEI type 14, object 0, with a 10 ms lead.
ModbusRequest ReadDeviceIdRequest(int slave, uint8_t readDeviceIdCode);
// Function 16, 4 registers: second, minute, hour, day of week (1 Monday to
// 7 Sunday), day, month, year - 2000 (the low byte of the year up to 2000), 0.
ModbusRequest SetClockRequest(int slave, int startRegister, const QDateTime& now);

}  // namespace tarnel
