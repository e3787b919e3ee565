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
#include "gateway/presenter.h"
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
    GatewayLink link{serial, tcp, clock};
    Presenter presenter{log, status};
    bool linkWatched = (presenter.watch(link, dialogs), true);
    QObject owner;
    Timer* deadline = clock.createTimer(&owner);
    std::optional<ExchangeResult> result;

    void exchange(const ModbusRequest& request) {
        result.reset();
        link.exchange(&owner, request, *deadline, 5000,
                      [this](const ExchangeResult& ended) { result = ended; });
    }
};

TEST_F(RealLinks, SerialRequestAndReplyOverAPtyBothWays) {
    for (const bool fast : {true, false}) {
        test::PtyPair pty;
        link.setFastReplies(fast);
        link.openSerial(SerialSettingsFromTexts(pty.slavePath(), "19200", "Even", "1"));
        ASSERT_TRUE(link.SerialOpen()) << log.lines().join('\n').toStdString();
        exchange(WriteSingleRegisterRequest(1, 0, 0x00, 0x05));
        // Paced bytes go out from the event loop: read without blocking it.
        const QByteArray request = RtuFrame(bytes("01 06 00 00 00 05"));
        QByteArray got;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                got += pty.read(static_cast<int>(request.size() - got.size()), 20);
                return got.size() >= request.size();
            },
            5000))
            << fast << " " << got.toHex(' ').toStdString();
        EXPECT_EQ(got, request) << fast;
        pty.write(request);  // the gateway echoes a write
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
        EXPECT_EQ(result->end, ExchangeEnd::Reply);
        EXPECT_EQ(result->reply, request);
        link.closeSerial();
        EXPECT_EQ(log.lines().last(), "Serial port for modbus closed");
    }
}

TEST_F(RealLinks, AHungUpPtyEndsTheExchangeAsLinkLost) {
    test::PtyPair pty;
    link.openSerial(SerialSettingsFromTexts(pty.slavePath(), "19200", "Even", "1"));
    ASSERT_TRUE(link.SerialOpen());
    exchange(ReadInputRegistersRequest(1, 1, 1));
    pty.hangUp();  // the gateway's end of the line goes away
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
    EXPECT_EQ(result->end, ExchangeEnd::LinkLost);
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_TRUE(log.lines().contains("Serial device " + pty.slavePath() + " went away..."))
        << log.lines().join('|').toStdString();
}

TEST_F(RealLinks, ABusySerialPortGivesTheBoxAndTheSystemsReason) {
    test::PtyPair pty;
    TSerialPort other;
    other.SetDeviceName(pty.slavePath());
    other.Open();
    link.openSerial(SerialSettingsFromTexts(pty.slavePath(), "19200", "Even", "1"));
    EXPECT_FALSE(link.SerialOpen());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "This serial port is already in use!");
    EXPECT_TRUE(log.lines().last().endsWith("(Error 16, Device or resource busy)"))
        << log.lines().last().toStdString();
}

TEST_F(RealLinks, AMissingSerialDeviceSaysWhy) {
    link.openSerial(SerialSettingsFromTexts("/dev/tarnel-no-such-tty", "19200", "Even", "1"));
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_EQ(log.lines().last(),
              "Specified device not found (/dev/tarnel-no-such-tty: No such file or directory).");
}

TEST_F(RealLinks, TcpConnectRequestReplyAndPeerClose) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    link.connectTcp("127.0.0.1", server.serverPort(), 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
    QTcpSocket* peer = server.nextPendingConnection();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 12; }, 5000));
    EXPECT_EQ(peer->readAll(), bytes("03 E8 00 00 00 06 01 04 00 01 00 01"));
    peer->write(bytes("03 E8 00 00 00 05 01 04 02 00 0A"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
    EXPECT_EQ(result->reply, bytes("01 04 02 00 0A 39 37"));
    exchange(ReadInputRegistersRequest(1, 1, 1));
    peer->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
    EXPECT_EQ(result->end, ExchangeEnd::LinkLost);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !link.TcpMode(); }, 5000));
    EXPECT_TRUE(log.lines().last().startsWith("Disconnected TCP/IP connection at "));
}

TEST_F(RealLinks, ARefusedConnectionIsSocketError10061) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    server.close();
    link.connectTcp("127.0.0.1", port, 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().contains("Socket error #10061"); }, 5000));
    // The number, then the system's words for it.
    EXPECT_EQ(log.lines().last(), "Connection refused");
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
