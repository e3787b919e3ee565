// The simulated gateway on real wires: loopback TCP and a pseudo-terminal,
// driven by the tool's own link and by mbpoll, an independent Modbus client.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "link/register_map.h"
#include "sim/modbus_server.h"
#include "support/fake_dialogs.h"
#include "support/hex.h"

namespace tarnel::sim {
namespace {

struct SimServer : ::testing::Test {
    RealClock clock;
    SimBus bus{SimBus::DefaultMeters()};
    SimGateway gateway{bus, clock};
    SimEndpoint tcpEndpoint{gateway, clock, Framing::Tcp};
    SimEndpoint rtuEndpoint{gateway, clock, Framing::Rtu};
    ModbusServer server{tcpEndpoint, rtuEndpoint};

    Log log;
    StatusPanels status;
    test::FakeDialogs dialogs;
    CommTransport serial;
    SocketTransport tcp;
    GatewayLink link{serial, tcp, clock, log, status, dialogs};

    QObject owner;
    Timer* deadline = clock.createTimer(&owner);

    // Sends `request` and waits until its exchange ended; the reply taken.
    QByteArray exchange(const ModbusRequest& request) {
        link.prepareRequest();
        std::optional<ExchangeResult> result;
        link.exchange(&owner, request, *deadline, 2000,
                      [&](const ExchangeResult& ended) { result = ended; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
        return result ? link.takeReply(*result) : QByteArray();
    }
};

TEST_F(SimServer, WriteAndReadBackASettingOverTcp) {
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    link.connectTcp("127.0.0.1", port, 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    const QByteArray written =
        exchange(WriteSingleRegisterRequest(1, reg::kReadoutMinutes, 0x0E, 0x10));
    EXPECT_EQ(written, RtuFrame(test::bytes("01 06 00 03 0E 10")));
    const QByteArray read = exchange(ReadHoldingRegistersRequest(1, reg::kReadoutMinutes, 1));
    EXPECT_EQ(read, RtuFrame(test::bytes("01 03 02 0E 10")));
    const auto records = tcpEndpoint.Records();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0].bytes, (Bytes{0x03, 0xE8, 0, 0, 0, 6, 1, 6, 0, 3, 0x0E, 0x10}));
}

TEST_F(SimServer, ReadOverAPseudoTerminal) {
    const std::string path = server.ServePty();
    server.Start();
    link.openSerial(SerialSettingsFromTexts(QString::fromStdString(path), "19200", "Even", "1"));
    ASSERT_TRUE(link.SerialOpen()) << log.lines().join('\n').toStdString();
    const QByteArray written =
        exchange(WriteSingleRegisterRequest(1, reg::kReadoutMinutes, 0x00, 0x3C));
    EXPECT_EQ(written, RtuFrame(test::bytes("01 06 00 03 00 3C")));
    const QByteArray read = exchange(ReadHoldingRegistersRequest(1, reg::kReadoutMinutes, 1));
    EXPECT_EQ(read, RtuFrame(test::bytes("01 03 02 00 3C")));
}

TEST_F(SimServer, FaultsReachTheWire) {
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    link.connectTcp("127.0.0.1", port, 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    Fault shortAnswer;
    shortAnswer.kind = FaultKind::ShortTcp;
    tcpEndpoint.faults().Add(shortAnswer);
    EXPECT_TRUE(exchange(ReadHoldingRegistersRequest(1, reg::kReadoutMinutes, 1)).isEmpty());
    EXPECT_EQ(
        log.lines().filter(QRegularExpression("^Error, raw TCP data: 03 E8 00 00 00 $")).size(), 1)
        << log.lines().join("|").toStdString();
    Fault close;
    close.kind = FaultKind::Close;
    tcpEndpoint.faults().Add(close);
    EXPECT_TRUE(exchange(ReadHoldingRegistersRequest(1, reg::kReadoutMinutes, 1)).isEmpty());
    EXPECT_FALSE(link.TcpMode());
}

// Raw frames over loopback TCP, without the tool's link: 32768 reads 0x4000
// (64 slots, none active), framed by libmodbus unless a fault is planned.
TEST_F(SimServer, AddressZeroAndReplyFaultsOnARawSocket) {
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", static_cast<quint16>(port));
    ASSERT_TRUE(socket.waitForConnected(5000));
    const auto plan = [this](FaultKind kind) {
        Fault fault;
        fault.kind = kind;
        tcpEndpoint.faults().Add(fault);
    };
    const auto roundTrip = [&socket](const char* request, qsizetype size) {
        socket.write(test::bytes(request));
        QByteArray reply;
        while (reply.size() < size && socket.waitForReadyRead(5000))
            reply += socket.readAll();
        return reply;
    };
    gateway.SetUnitAddress(0);
    EXPECT_EQ(roundTrip("00 01 00 00 00 06 05 04 80 00 00 01", 11),
              test::bytes("00 01 00 00 00 05 05 04 02 40 00"));
    plan(FaultKind::Double);
    EXPECT_EQ(roundTrip("00 02 00 00 00 06 01 04 80 00 00 01", 22),
              test::bytes("00 02 00 00 00 05 01 04 02 40 00 00 02 00 00 00 05 01 04 02 40 00"));
    plan(FaultKind::WrongTid);
    EXPECT_EQ(roundTrip("00 03 00 00 00 06 01 04 80 00 00 01", 11),
              test::bytes("00 04 00 00 00 05 01 04 02 40 00"));
}

QString mbpoll() {
    return QStandardPaths::findExecutable("mbpoll");
}

QString runMbpoll(const QStringList& arguments) {
    QProcess process;
    process.start(mbpoll(), arguments);
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput());
}

TEST_F(SimServer, MbpollReadsAndWritesOverTcpAndRtu) {
    if (mbpoll().isEmpty()) GTEST_SKIP() << "mbpoll is not installed";
    const int port = server.ListenTcp("127.0.0.1", 0);
    const std::string path = server.ServePty();
    server.Start();
    const QStringList tcpArgs = {"-m", "tcp", "-p", QString::number(port), "-a", "1", "-0", "-1"};
    runMbpoll(tcpArgs + QStringList{"-r", "3", "-t", "4", "127.0.0.1", "720"});
    EXPECT_TRUE(
        runMbpoll(tcpArgs + QStringList{"-r", "3", "-t", "4", "127.0.0.1"}).contains("[3]: \t720"));
    const QStringList rtuArgs = {"-m", "rtu", "-b", "19200", "-P", "even", "-a", "1", "-0", "-1"};
    EXPECT_TRUE(runMbpoll(rtuArgs + QStringList{"-r", "3", "-t", "4", QString::fromStdString(path)})
                    .contains("[3]: \t720"));
}

}  // namespace
}  // namespace tarnel::sim
