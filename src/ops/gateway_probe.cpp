#include "ops/gateway_probe.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <algorithm>

#include "link/crc.h"

namespace tarnel {
namespace {

constexpr int kFactoryBaud = 19200;
constexpr int kFactoryParity = 2;  // Even
constexpr int kLastUnit = 247;

bool sameLine(const SerialTransport::Line& a, const SerialTransport::Line& b) {
    return a.baudrate == b.baudrate && a.parity == b.parity && a.stopBits == b.stopBits;
}

}  // namespace

LineJudgement JudgeLine(QByteArrayView received) {
    if (received.isEmpty()) return LineJudgement::Silent;
    if (received.size() < kShortestRtuFrame) return LineJudgement::Wrong;
    const RtuForms forms = RtuFrameForms(received);
    return forms.plain || forms.filled ? LineJudgement::Right : LineJudgement::Wrong;
}

int SweepTimeoutMs(int baudrate) {
    constexpr int kBytes = 7 + 64;
    const int lineMs = (kBytes * 11 * 1000 + std::max(baudrate, 1) - 1) / std::max(baudrate, 1);
    return std::max(30, lineMs + 10);
}

int FrameGapMs(int baudrate) {
    return (35 * 11 * 1000 / 10 + std::max(baudrate, 1) - 1) / std::max(baudrate, 1) + 20;
}

bool IsFactoryLine(const SerialTransport::Line& line) {
    return sameLine(line, {kFactoryBaud, kFactoryParity, 1});
}

QList<int> FinderSpeeds() {
    return {19200, 9600, 38400, 115200, 57600, 4800, 2400, 1200, 300};
}

QList<SerialTransport::Line> SerialLineOrder(const SerialTransport::Line& current) {
    QList<SerialTransport::Line> lines{current, {kFactoryBaud, kFactoryParity, 1}};
    for (const int speed : FinderSpeeds())
        for (const int parity : {2, 0, 1}) {
            lines.append({speed, parity, 1});
            if (parity == 0) lines.append({speed, 0, 2});
        }
    QList<SerialTransport::Line> once;
    for (const SerialTransport::Line& line : lines)
        if (std::none_of(once.begin(), once.end(),
                         [&](const SerialTransport::Line& l) { return sameLine(l, line); }))
            once.append(line);
    return once;
}

QString LineName(const SerialTransport::Line& line) {
    static const char* const kParities[] = {"None", "Odd", "Even", "Mark", "Space"};
    const QString parity = line.parity >= 0 && line.parity <= 4 ? kParities[line.parity] : "?";
    return QStringLiteral("%1 %2 %3").arg(line.baudrate).arg(parity).arg(line.stopBits);
}

QList<int> TcpUnitOrder() {
    QList<int> units{1, 255, 0};
    for (int unit = 2; unit <= kLastUnit; ++unit)
        units.append(unit);
    return units;
}

QList<int> SerialUnitOrder(int first) {
    QList<int> units{first};
    for (int unit = 1; unit <= kLastUnit; ++unit)
        if (unit != first) units.append(unit);
    return units;
}

std::optional<QStringList> HostRange(const QString& hosts) {
    static const QRegularExpression kRange(R"(^(\d+\.\d+\.\d+\.)(\d+)-(\d+)$)");
    const QRegularExpressionMatch range = kRange.match(hosts);
    if (!range.hasMatch()) {
        static const QRegularExpression kBadRange(R"(^[\d.]+-)");
        if (hosts.isEmpty() || kBadRange.match(hosts).hasMatch()) return std::nullopt;
        return QStringList{hosts};
    }
    const int first = range.captured(2).toInt(), last = range.captured(3).toInt();
    if (first > last || last > 255 || QHostAddress(range.captured(1) + "0").isNull())
        return std::nullopt;
    QStringList list;
    for (int host = first; host <= last; ++host)
        list.append(range.captured(1) + QString::number(host));
    return list;
}

std::optional<DeviceIdentification> ParseIdentification(QByteArrayView pdu) {
    // 2B 0E code conformity more next count, then id, length, text a object.
    if (pdu.size() < 7 || uint8_t(pdu[0]) != 0x2B || uint8_t(pdu[1]) != 0x0E) return std::nullopt;
    DeviceIdentification id;
    qsizetype at = 7;
    for (int object = 0; object < uint8_t(pdu[6]); ++object) {
        if (at + 2 > pdu.size()) return std::nullopt;
        const int number = uint8_t(pdu[at]), length = uint8_t(pdu[at + 1]);
        if (at + 2 + length > pdu.size()) return std::nullopt;
        const QString text = QString::fromLatin1(pdu.sliced(at + 2, length));
        if (number == 0) id.vendor = text;
        if (number == 1) id.product = text;
        if (number == 2) id.version = text;
        at += 2 + length;
    }
    return id;
}

std::optional<QByteArray> RtuPdu(QByteArrayView frame, int unit) {
    const RtuForms forms = RtuFrameForms(frame);
    const qsizetype size = forms.plain ? frame.size() : forms.filled ? frame.size() - 1 : 0;
    if (size < kShortestRtuFrame || uint8_t(frame[0]) != unit) return std::nullopt;
    return frame.sliced(1, size - 3).toByteArray();
}

std::optional<QByteArray> TcpPdu(QByteArrayView frame, uint16_t transaction) {
    if (frame.size() < 9) return std::nullopt;
    const int length = uint8_t(frame[4]) << 8 | uint8_t(frame[5]);
    const int id = uint8_t(frame[0]) << 8 | uint8_t(frame[1]);
    if (id != transaction || frame.size() != 6 + length) return std::nullopt;
    return frame.sliced(7).toByteArray();
}

QString AnsweredText(const QByteArray& pdu) {
    if (pdu.size() >= 2 && (uint8_t(pdu[0]) & 0x80))
        return QStringLiteral("exception %1 to device identification").arg(uint8_t(pdu[1]));
    if (const auto id = ParseIdentification(pdu))
        return QStringLiteral("device identification %1 %2 %3")
            .arg(id->vendor, id->product, id->version);
    return QStringLiteral("%1 bytes to device identification").arg(pdu.size());
}

}  // namespace tarnel
