#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace tarnel {

// Bytes as two upper-case hexadecimal digits, each followed by a blank.
QString HexBytesText(QByteArrayView bytes);
// The log line of a received frame: "RCVD:" directly followed by the bytes.
inline QString RcvdLine(QByteArrayView frame) {
    return QStringLiteral("RCVD:") + HexBytesText(frame);
}

// What a parser reports: its log lines, and whether the status bar is to
// show the CRC error.
struct ParseReport {
    QStringList lines;
    bool crcError = false;
};

// A Modbus TCP answer in RTU form: the MBAP header dropped and a CRC
// appended. An answer of 1 to 7 bytes is logged raw ("Error, raw TCP data: ")
// and gives an empty frame.
QByteArray TcpToRtuFrame(const QByteArray& frame, QStringList* lines);

// The checks every reply goes through: the CRC (plain, or with one trailing
// 0x00 filler byte), a leading 0x00 byte, a Modbus exception.
struct Validation {
    bool passed = false;
    qsizetype dataEnd = 0;  // index of the first CRC byte of the form that matched
    ParseReport report;
};
Validation ValidateResponse(const QByteArray& frame);

// The registers of a read reply, high and low byte each. The walk follows
// the byte count but never reads past the data before the CRC: a byte count
// larger than the frame holds gives the registers present.
struct Register {
    uint8_t high = 0;
    uint8_t low = 0;
};
struct RegisterReply {
    ParseReport report;
    QVector<Register> registers;
};
RegisterReply ParseRegisterResponse(const QByteArray& frame);

// Count mode: the registers as a bit map of active devices, counted (the
// count wraps after 255).
uint8_t CountActiveDevices(const QVector<Register>& registers);

// One row of the register grid: the register number, its high and low byte
// (the two notes columns empty), and the time of the read.
QStringList RegisterRowTexts(const Register& value, int registerNumber, const QDateTime& at);

// The text of a device identification reply as one log line.
ParseReport ParseDeviceIdResponse(const QByteArray& frame);

// "Modbus n -> Mbus a" for every data byte of an address map reply.
ParseReport ParseAddressMapResponse(const QByteArray& frame);
// The same with the M-Bus address of each slot, slot 1 first.
struct AddressMapReply {
    ParseReport report;
    QVector<int> mbusAddresses;
};
AddressMapReply ParseAddressMap(const QByteArray& frame);

// The M-Bus telegram carried in a read reply of `dataLength` data bytes: the
// pad byte of an odd-length telegram is dropped. Empty when a check failed.
struct MbusReply {
    ParseReport report;
    QByteArray telegram;
};
MbusReply ParseMbusResponse(const QByteArray& frame, int dataLength);

// The first register's bytes; both 0 when a check failed or the reply holds
// no register.
struct FirstRegister {
    ParseReport report;
    uint8_t high = 0;
    uint8_t low = 0;
    bool read = false;  // the reply passed its checks
};
FirstRegister ReadFirstRegister(const QByteArray& frame);
// The M-Bus reply state (register 0x8407) says the meter's reply is in: a
// state above 3 with a length that is not 0.
inline bool MbusReplyReady(const FirstRegister& state) {
    return state.low != 0 && state.high > 3;
}

// The EN 13757-3 medium code of a medium name (exact comparison); 15 for a
// name not in the table.
uint8_t MediumCodeFromName(const QString& name);

}  // namespace tarnel
