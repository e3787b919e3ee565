#include "base/time_format.h"
#include "link/link_events.h"
#include "link/response_parsers.h"

namespace tarnel {
namespace {

using namespace link_event;

struct Words {
    QStringList operator()(const NotOpen&) const {
        return {QStringLiteral("Serial or TCP port for modbus is not open...")};
    }
    QStringList operator()(const Reported& e) const { return e.lines; }
    QStringList operator()(const Ignored& e) const {
        const QString why =
            e.when == Ignored::When::AfterTimeOut
                ? QStringLiteral("Ignored bytes that came after a time-out: ")
                : QStringLiteral("Ignored bytes that came while the request went out: ");
        return {why + HexBytesText(e.bytes)};
    }
    QStringList operator()(const SocketError& e) const {
        QStringList lines{QStringLiteral("Socket error #%1").arg(e.code)};
        if (!e.reason.isEmpty()) lines << e.reason;
        return lines;
    }
    QStringList operator()(const SocketException& e) const {
        return {QStringLiteral("Exception socket - ") + e.what};
    }
    QStringList operator()(const PortFault& e) const { return {e.what}; }
    QStringList operator()(const SerialRefused& e) const {
        QStringList lines{e.reason};
        if (e.reason.contains("Permission denied"))
            lines << QStringLiteral(
                         "No rights to open %1: add your user to the group that owns "
                         "it (usually dialout: sudo usermod -aG dialout $USER) and "
                         "log in again.")
                         .arg(e.port);
        return lines;
    }
    QStringList operator()(const SerialOpenFailed& e) const { return {e.message}; }
    QStringList operator()(const SerialOpened& e) const { return {e.caption}; }
    QStringList operator()(const SerialClosed& e) const {
        QStringList lines;
        if (!e.reason.isEmpty()) lines << e.reason;
        return lines << QStringLiteral("Serial port for modbus closed");
    }
    QStringList operator()(const TcpNotSet&) const {
        return {QStringLiteral("Remote IP and Port are not properly set...")};
    }
    QStringList operator()(const TcpConnecting&) const {
        return {QStringLiteral("Trying to connect to remote TCP server...")};
    }
    QStringList operator()(const TcpConnectFault&) const {
        return {QStringLiteral("Unexpected exception when connecting to KVD ethernet...")};
    }
    QStringList operator()(const TcpConnected& e) const {
        return {QStringLiteral("Connected TCP/IP, at ") + LongTimeText(e.at)};
    }
    QStringList operator()(const TcpDisconnected& e) const {
        return {QStringLiteral("Disconnected TCP/IP connection at ") + LongTimeText(e.at)};
    }
    QStringList operator()(const ShutdownFault& e) const {
        return {QStringLiteral("Unknown socket exception - ") + e.what};
    }
};

}  // namespace

QStringList LinkEventLines(const LinkEvent& event) {
    return std::visit(Words{}, event);
}

}  // namespace tarnel
