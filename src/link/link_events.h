#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <variant>

namespace tarnel {

// What the link tells about its ports and the replies it judged; the
// presenter words it for the log, the status bar and the user.
namespace link_event {

// An operation asked for an exchange with neither link up.
struct NotOpen {};
// A parser's lines about a reply; `crcError` when the reply failed its CRC.
struct Reported {
    QStringList lines;
    bool crcError = false;
};
// Bytes that belonged to no request, dropped.
struct Ignored {
    enum class When { AfterTimeOut, WhileSending } when = When::AfterTimeOut;
    QByteArray bytes;
};
// The socket or the serial port failed with the system's words.
struct SocketError {
    int code = 0;
    QString reason;
};
struct SocketException {
    QString what;
};
struct PortFault {
    QString what;  // a byte the serial port refused, or RTS it could not set
};
// The serial port could not be opened: in use, missing or not allowed.
struct SerialRefused {
    QString port;
    QString reason;
};
struct SerialOpenFailed {
    QString message;
};
struct SerialOpened {
    QString caption;  // "COM1 - 19200,8,Even"
};
// The serial port closed, by the user or (with the system's `reason`) by itself.
struct SerialClosed {
    QString port;
    QString reason;
};
struct TcpNotSet {};
struct TcpConnecting {};
struct TcpConnectFault {};
struct TcpConnected {
    QDateTime at;
    QString host;
};
struct TcpDisconnected {
    QDateTime at;
};
struct ShutdownFault {
    QString what;
};

}  // namespace link_event

using LinkEvent =
    std::variant<link_event::NotOpen, link_event::Reported, link_event::Ignored,
                 link_event::SocketError, link_event::SocketException, link_event::PortFault,
                 link_event::SerialRefused, link_event::SerialOpenFailed, link_event::SerialOpened,
                 link_event::SerialClosed, link_event::TcpNotSet, link_event::TcpConnecting,
                 link_event::TcpConnectFault, link_event::TcpConnected, link_event::TcpDisconnected,
                 link_event::ShutdownFault>;

// The log's words for each event: the one table the presenter reads.
QStringList LinkEventLines(const LinkEvent& event);

}  // namespace tarnel
