// The link over the real serial port (on a pseudo-terminal) and a real TCP
// socket (to a server in the test).
#include "link/real_transports.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "../serial/pty_pair.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "link/gateway_link.h"
#include "support/fake_dialogs.h"
#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

struct RealLinks : ::testing::Test {
    RealClock clock;
    Log log;
    StatusPanels status;
    test::FakeDialogs dialogs;
    CommTransport serial;
    SocketTransport tcp;
    GatewayLink link{serial, tcp, clock, log, status, dialogs};
};

TEST_F(RealLinks, SerialRequestAndReplyOverAPty) {
    test::PtyPair pty;
    link.openSerial({pty.slavePath(), "19200", "Even", "1"});
    ASSERT_TRUE(link.SerialOpen()) << log.lines().join('\n').toStdString();
    bool sent = false;
    link.SendWriteSingleRegister(1, 0, 0x00, 0x05, [&] { sent = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent; }, 5000));
    EXPECT_EQ(pty.read(8), RtuFrame(bytes("01 06 00 00 00 05")));
    pty.write(bytes("01 06 00 00 00 05 48 09"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.SerialRxBuffer().size() == 8; }, 5000));
    EXPECT_EQ(link.takeReply(), bytes("01 06 00 00 00 05 48 09"));
    link.closeSerial();
    EXPECT_EQ(log.lines().last(), "Serial port for modbus closed");
}

TEST_F(RealLinks, ABusySerialPortGivesTheBoxAndTheSystemsReason) {
    test::PtyPair pty;
    TSerialPort other;
    other.SetDeviceName(pty.slavePath());
    other.Open();
    link.openSerial({pty.slavePath(), "19200", "Even", "1"});
    EXPECT_FALSE(link.SerialOpen());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "This serial port is already in use!");
    EXPECT_TRUE(log.lines().last().endsWith("(Error 16, Device or resource busy)"))
        << log.lines().last().toStdString();
}

TEST_F(RealLinks, AMissingSerialDeviceSaysWhy) {
    link.openSerial({"/dev/tarnel-no-such-tty", "19200", "Even", "1"});
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_EQ(
        log.lines().last(),
        "Specified device not found (\\\\.\\/dev/tarnel-no-such-tty as /dev/tarnel-no-such-tty: No "
        "such file or directory).");
}

TEST_F(RealLinks, TcpConnectRequestReplyAndPeerClose) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    link.Butt_connect_xportClick("127.0.0.1", QString::number(server.serverPort()), 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
    QTcpSocket* peer = server.nextPendingConnection();
    link.SendReadInputRegisters(1, 1, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 12; }, 5000));
    EXPECT_EQ(peer->readAll(), bytes("03 E8 00 00 00 06 01 04 00 01 00 01"));
    peer->write(bytes("03 E8 00 00 00 05 01 04 02 00 0A"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpRxBuffer().size() == 11; }, 5000));
    EXPECT_EQ(link.takeReply(), bytes("01 04 02 00 0A 39 37"));
    peer->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !link.TcpMode(); }, 5000));
    EXPECT_TRUE(log.lines().last().startsWith("Disconnected TCP/IP connection at "));
}

TEST_F(RealLinks, ARefusedConnectionIsSocketError10061) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    server.close();
    link.Butt_connect_xportClick("127.0.0.1", QString::number(port), 30);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.lines().last().startsWith("Socket error"); }, 5000));
    EXPECT_EQ(log.lines().last(), "Socket error #10061");
    EXPECT_FALSE(link.TcpMode());
}

TEST(WinsockCodes, CommonErrorsKeepTheirNumbers) {
    EXPECT_EQ(SocketTransport::winsockCode(QAbstractSocket::ConnectionRefusedError, {}), 10061);
    EXPECT_EQ(SocketTransport::winsockCode(QAbstractSocket::SocketTimeoutError, {}), 10060);
    EXPECT_EQ(SocketTransport::winsockCode(QAbstractSocket::NetworkError, "Host unreachable"),
              10065);
    EXPECT_EQ(SocketTransport::winsockCode(QAbstractSocket::NetworkError, "Network unreachable"),
              10051);
    EXPECT_EQ(SocketTransport::winsockCode(QAbstractSocket::HostNotFoundError, {}), 11001);
}

}  // namespace
}  // namespace tarnel
