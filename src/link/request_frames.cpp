#include "link/request_frames.h"

#include "link/crc.h"
#include "link/modbus_functions.h"

namespace tarnel {
namespace {

constexpr int kPause = 2;       // ms after each byte of a paced request
constexpr int kLeadPause = 10;  // ms before the first byte of the read requests that have one

void put16(QByteArray& bytes, int value) {
    bytes.append(static_cast<char>(value >> 8 & 0xFF));
    bytes.append(static_cast<char>(value & 0xFF));
}

QByteArray header(int slave, uint8_t function) {
    QByteArray adu;
    adu.append(static_cast<char>(slave & 0xFF));
    adu.append(static_cast<char>(function));
    return adu;
}

ModbusRequest readRequest(int slave, uint8_t function, int start, int quantity, int lead,
                          int pause) {
    QByteArray adu = header(slave, function);
    put16(adu, start);
    put16(adu, quantity);
    return {adu, lead, pause};
}

}  // namespace

QString RefusedPayloadLine(qsizetype size) {
    return QStringLiteral(
               "Request not sent: a payload of %1 bytes is more than the %2 a request holds...")
        .arg(size)
        .arg(kMaxPayload);
}

QByteArray RtuFrame(const QByteArray& adu) {
    const uint16_t crc = CalcCrc16(adu);
    QByteArray frame = adu;
    frame.append(static_cast<char>(crcLow(crc)));
    frame.append(static_cast<char>(crcHigh(crc)));
    return frame;
}

QByteArray TcpFrame(uint16_t transaction, const QByteArray& adu) {
    QByteArray frame;
    put16(frame, transaction);
    put16(frame, 0);  // protocol identifier
    put16(frame, static_cast<int>(adu.size()));
    return frame + adu;
}

std::optional<ModbusRequest> WriteRegistersRequest(int slave, int startRegister, int byteCount,
                                                   QByteArrayView payload) {
    if (payload.size() > kMaxPayload || byteCount > kMaxPayload || byteCount < 0)
        return std::nullopt;
    if (byteCount % 2 != 0) ++byteCount;  // the pad byte
    const int registers = byteCount / 2;
    QByteArray adu = header(slave, fn::kWriteMultipleRegisters);
    put16(adu, startRegister);
    put16(adu, registers);
    adu.append(static_cast<char>(byteCount));
    QByteArray data = payload.first(std::min<qsizetype>(payload.size(), byteCount)).toByteArray();
    data.resize(byteCount, '\0');
    return ModbusRequest{adu + data, 0, kPause};
}

ModbusRequest WriteSingleRegisterRequest(int slave, int registerNumber, uint8_t valueHigh,
                                         uint8_t valueLow) {
    QByteArray adu = header(slave, fn::kWriteSingleRegister);
    put16(adu, registerNumber);
    adu.append(static_cast<char>(valueHigh));
    adu.append(static_cast<char>(valueLow));
    return {adu, 0, kPause};
}

ModbusRequest ReadInputRegistersRequest(int slave, int startRegister, int quantity) {
    return readRequest(slave, fn::kReadInputRegisters, startRegister, quantity, 0, 0);
}

ModbusRequest ReadHoldingRegistersRequest(int slave, int startRegister, int quantity) {
    return readRequest(slave, fn::kReadHoldingRegisters, startRegister, quantity, kLeadPause,
                       kPause);
}

ModbusRequest ReadDeviceIdRequest(int slave, uint8_t readDeviceIdCode) {
    QByteArray adu = header(slave, fn::kEncapsulatedInterface);
    adu.append(static_cast<char>(fn::kMeiReadDeviceId));
    adu.append(static_cast<char>(readDeviceIdCode));
    adu.append('\0');  // first object
    return {adu, kLeadPause, kPause};
}

ModbusRequest SetClockRequest(int slave, int startRegister, const QDateTime& now) {
    QByteArray adu = header(slave, fn::kWriteMultipleRegisters);
    put16(adu, startRegister);
    put16(adu, 4);
    adu.append('\x08');
    const QDate date = now.date();
    const QTime time = now.time();
    const int year = date.year() > 2000 ? date.year() - 2000 : date.year();
    for (const int value : {time.second(), time.minute(), time.hour(), date.dayOfWeek(), date.day(),
                            date.month(), year & 0xFF, 0})
        adu.append(static_cast<char>(value));
    return {adu, 0, kPause};
}

}  // namespace tarnel
