#include "link/response_parsers.h"

#include "base/hex_text.h"
#include "base/time_format.h"
#include "link/crc.h"
#include "link/modbus_functions.h"

namespace tarnel {
namespace {

const QString kCrcError = QStringLiteral("Error in CRC field\r");

uint8_t at(const QByteArray& frame, qsizetype index) {
    return static_cast<uint8_t>(frame.at(index));
}

QString exceptionLine(uint8_t code) {
    switch (code) {
        case 1:
            return QStringLiteral("Error - ILLEGAL FUNCTION\r");
        case 2:
            return QStringLiteral("Error - ILLEGAL DATA ADDRESS\r");
        case 3:
            return QStringLiteral("Error - ILLEGAL DATA VALUE\r");
        case 4:
            return QStringLiteral("Error - SLAVE DEVICE FAILURE\r");
        case 6:
            return QStringLiteral("Error - SLAVE DEVICE BUSY\r");
        case 8:
            return QStringLiteral("Error - MEMORY PARITY ERROR\r");
        default:
            return {};
    }
}

// The length a reply of this function has without a filler byte; 0 when
// the function's replies vary in length (device identification).
qsizetype expectedLength(const QByteArray& frame) {
    const uint8_t function = at(frame, 1);
    if (function & fn::kExceptionBit) return 5;
    if (function == fn::kReadHoldingRegisters || function == fn::kReadInputRegisters)
        return 3 + at(frame, 2) + 2;
    if (function == fn::kWriteSingleRegister || function == fn::kWriteMultipleRegisters) return 8;
    return 0;
}

// Where the CRC of the frame starts, for the form that matches; 0 for none.
// Where both forms match, which is meant follows from the length the
// function's reply has; where that varies, the plain form is taken.
qsizetype crcStart(const QByteArray& frame) {
    const qsizetype size = frame.size();
    if (size < 5) return 0;
    const auto [plain, filler] = RtuFrameForms(frame);
    if (plain && filler) return expectedLength(frame) == size - 1 ? size - 3 : size - 2;
    if (plain) return size - 2;
    return filler ? size - 3 : 0;
}

// The register data bytes of a validated read reply: those the byte count
// names, as far as the frame holds them before its CRC.
QByteArrayView registerData(const QByteArray& frame, qsizetype dataEnd) {
    const qsizetype available = std::max<qsizetype>(dataEnd - 3, 0);
    const qsizetype counted = at(frame, 2);
    return QByteArrayView(frame).sliced(3, std::min(available, counted));
}

}  // namespace

QString HexBytesText(QByteArrayView bytes) {
    return QString::fromStdString(HexBytes(std::string_view(bytes.data(), bytes.size())));
}

QByteArray TcpToRtuFrame(const QByteArray& frame, QStringList* lines) {
    if (frame.isEmpty()) return {};
    if (frame.size() < 8) {
        if (lines) lines->append(QStringLiteral("Error, raw TCP data: ") + HexBytesText(frame));
        return {};
    }
    QByteArray rtu = frame.mid(6);
    const uint16_t crc = CalcCrc16(rtu);
    rtu.append(static_cast<char>(crcLow(crc)));
    rtu.append(static_cast<char>(crcHigh(crc)));
    return rtu;
}

Validation ValidateResponse(const QByteArray& frame) {
    Validation result;
    result.dataEnd = crcStart(frame);
    if (result.dataEnd == 0) {
        result.report.lines << kCrcError;
        result.report.crcError = true;
        return result;
    }
    if (at(frame, 0) == 0x00) {
        result.report.lines << QStringLiteral("Garbage leading bytes in the telegram");
        return result;
    }
    if (at(frame, 1) & fn::kExceptionBit) {
        const QString line = exceptionLine(at(frame, 2));
        if (!line.isEmpty()) result.report.lines << line;
        return result;
    }
    result.passed = true;
    return result;
}

RegisterReply ParseRegisterResponse(const QByteArray& frame) {
    RegisterReply reply;
    const Validation checked = ValidateResponse(frame);
    reply.report = checked.report;
    if (!checked.passed) return reply;
    const QByteArrayView data = registerData(frame, checked.dataEnd);
    for (qsizetype i = 0; i + 1 < data.size(); i += 2)
        reply.registers.append({static_cast<uint8_t>(data[i]), static_cast<uint8_t>(data[i + 1])});
    return reply;
}

uint8_t CountActiveDevices(const QVector<Register>& registers) {
    std::string hex;
    for (const Register& r : registers) {
        const char bytes[] = {static_cast<char>(r.high), static_cast<char>(r.low)};
        hex += HexBytes(std::string_view(bytes, 2));
    }
    uint8_t count = 0;
    for (const char bit : HexToBinText(hex))
        if (bit == '1') ++count;
    return count;
}

QStringList RegisterRowTexts(const Register& value, int registerNumber, const QDateTime& at) {
    return {QString::number(registerNumber),
            QString::fromStdString(HexText(value.high)),
            QString(),
            QString::fromStdString(HexText(value.low)),
            QString(),
            LongTimeText(at)};
}

ParseReport ParseDeviceIdResponse(const QByteArray& frame) {
    ParseReport report;
    const qsizetype dataEnd = crcStart(frame);
    if (dataEnd == 0) {
        report.lines << kCrcError;  // the status bar is left alone here
        return report;
    }
    if (at(frame, 0) == 0x00) return report;
    if (at(frame, 1) & fn::kExceptionBit) {
        const QString line = exceptionLine(at(frame, 2));
        if (!line.isEmpty()) report.lines << line;
        return report;
    }
    QString text;
    for (qsizetype i = 7; i < dataEnd; ++i) {
        const uint8_t byte = at(frame, i);
        text += byte <= 30 ? QChar(' ') : QChar(QLatin1Char(static_cast<char>(byte)));
    }
    report.lines << text;
    return report;
}

AddressMapReply ParseAddressMap(const QByteArray& frame) {
    const Validation checked = ValidateResponse(frame);
    AddressMapReply reply{checked.report, {}};
    if (!checked.passed) return reply;
    const QByteArrayView data = registerData(frame, checked.dataEnd);
    for (qsizetype i = 0; i < data.size(); ++i) {
        const int address = static_cast<uint8_t>(data[i]);
        reply.mbusAddresses << address;
        reply.report.lines << QStringLiteral("Modbus ") + QString::number(i + 1) +
                                  QStringLiteral(" -> Mbus ") + QString::number(address);
    }
    return reply;
}

ParseReport ParseAddressMapResponse(const QByteArray& frame) {
    return ParseAddressMap(frame).report;
}

MbusReply ParseMbusResponse(const QByteArray& frame, int dataLength) {
    MbusReply reply;
    const Validation checked = ValidateResponse(frame);
    reply.report = checked.report;
    if (!checked.passed) return reply;
    // Only the bytes before the CRC are data, whatever dataLength says.
    const QByteArrayView data =
        QByteArrayView(frame).sliced(3, std::max<qsizetype>(checked.dataEnd - 3, 0));
    const qsizetype take = std::clamp<qsizetype>(dataLength - 1, 0, data.size());
    reply.telegram = data.first(take).toByteArray();
    const bool endsInStop =
        !reply.telegram.isEmpty() && static_cast<uint8_t>(reply.telegram.back()) == 0x16;
    if (!endsInStop && take < data.size()) reply.telegram.append(data[take]);
    return reply;
}

FirstRegister ReadFirstRegister(const QByteArray& frame) {
    FirstRegister first;
    const Validation checked = ValidateResponse(frame);
    first.report = checked.report;
    if (!checked.passed || checked.dataEnd < 5) return first;
    first.high = at(frame, 3);
    first.low = at(frame, 4);
    first.read = true;
    return first;
}

uint8_t MediumCodeFromName(const QString& name) {
    static const QHash<QString, uint8_t> kCodes = {
        {"Oil", 1},         {"Electricity", 2}, {"Gas", 3},       {"Heat meter", 4},
        {"Steam", 5},       {"Hot water", 6},   {"Water", 7},     {"H.C.A", 8},
        {"Cold meter", 11}, {"Cold water", 22}, {"Pressure", 24}, {"Other", 0},
    };
    return kCodes.value(name, 15);
}

}  // namespace tarnel
