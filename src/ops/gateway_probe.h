#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "link/transport.h"

namespace tarnel {

// What one probe at a line setting tells about the line.
enum class LineJudgement {
    Right,   // a well-framed RTU reply (good CRC, any unit), an exception too
    Wrong,   // bytes that form no frame: framing or parity errors, a bad CRC
    Silent,  // nothing came
};

// The judgement of what came back for a probe: the bytes as received (an
// RTU frame may carry one trailing 0x00 filler).
LineJudgement JudgeLine(QByteArrayView received);

// The time-out of one request of the address sweep at `baudrate`: the
// request (7 bytes) and a device identification of 64 bytes on the line
// (11 bits a byte), and 10 ms for the device to turn round; at least 30 ms.
// 51 ms at 19200 Bd.
int SweepTimeoutMs(int baudrate);

// How long the line stays quiet after bytes before what came is judged:
// 3.5 characters and 20 ms for a USB adapter's latency. 22 ms at 19200 Bd.
int FrameGapMs(int baudrate);

// The speeds the finder tries, most common first.
QList<int> FinderSpeeds();
// The line settings in the order they are tried: `current` first, then the
// gateway's factory settings (19200, Even, 1), then every speed x Even,
// None, Odd, with 1 stop bit, and 2 only with parity None; each once.
QList<SerialTransport::Line> SerialLineOrder(const SerialTransport::Line& current);
// 19200 Even, 1 stop bit.
bool IsFactoryLine(const SerialTransport::Line& line);
// "9600 None 1"
QString LineName(const SerialTransport::Line& line);

// The unit addresses a TCP host is asked at: 1, 255, 0, then 2 to 247.
QList<int> TcpUnitOrder();
// The serial sweep: `first`, then 1 to 247 without it.
QList<int> SerialUnitOrder(int first);
// "192.168.1.1-254" as the hosts 192.168.1.1 to 192.168.1.254, or one host
// name or address as itself; nothing for a range that does not parse.
std::optional<QStringList> HostRange(const QString& hosts);

// A device identification (function 43, MEI 14) as its objects 0 to 2.
struct DeviceIdentification {
    QString vendor, product, version;
};
// The objects of a device identification reply PDU (function code first);
// nothing when it is not one.
std::optional<DeviceIdentification> ParseIdentification(QByteArrayView pdu);
// The PDU of an RTU frame (unit first, CRC last; a trailing 0x00 filler
// allowed) from `unit`; nothing when it is not one.
std::optional<QByteArray> RtuPdu(QByteArrayView frame, int unit);
// The PDU of an MBAP frame of `transaction`; nothing when it is not one.
std::optional<QByteArray> TcpPdu(QByteArrayView frame, uint16_t transaction);
// What a device that is not a gateway answered to the device
// identification: "exception 1 to device identification", ...
QString AnsweredText(const QByteArray& pdu);

}  // namespace tarnel
