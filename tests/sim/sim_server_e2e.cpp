// The simulated gateway on real wires: loopback TCP and a pseudo-terminal,
// driven by the tool's own link and by mbpoll, an independent Modbus client.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "gateway/presenter.h"
#include "gateway_test_support.h"
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
    GatewayLink link{serial, tcp, clock};
    Presenter presenter{log, status};
    bool linkWatched = (presenter.watch(link, dialogs), true);

    QObject owner;
    Timer* deadline = clock.createTimer(&owner);

    // Sends `request` and waits until its exchange ended; the reply taken.
    QByteArray exchange(const ModbusRequest& request) {
        std::optional<ExchangeResult> result;
        link.exchange(&owner, request, *deadline, 2000,
                      [&](const ExchangeResult& ended) { result = ended; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 5000));
        if (!result) return {};
        link.logReception(*result);
        log.append(RcvdLine(result->reply));
        return result->reply;
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

// Reads from `socket` until `size` bytes came or 5 s passed.
QByteArray ReadReply(QTcpSocket& socket, qsizetype size) {
    QByteArray reply;
    while (reply.size() < size && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    return reply;
}

// An activation on a raw socket: the echo comes once the meter is read on
// the 2400 Bd bus (REQ_UD2 23 ms, 30 ms, RSP_UD of 27 bytes 124 ms), and a
// read sent right behind it waits for it and counts the new entry.
TEST_F(SimServer, ActivationEchoedOnceTheMeterIsReadOverTcp) {
    bus.meters() = test_support::TwoMeters();
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", static_cast<quint16>(port));
    ASSERT_TRUE(socket.waitForConnected(5000));
    QElapsedTimer elapsed;
    elapsed.start();
    socket.write(
        test::bytes("00 01 00 00 00 06 01 06 00 00 00 05"
                    "00 02 00 00 00 06 01 04 80 00 00 01"));
    const QByteArray echo = ReadReply(socket, 12);
    EXPECT_GE(elapsed.elapsed(), 177);
    EXPECT_EQ(echo + ReadReply(socket, 23 - echo.size()),
              test::bytes("00 01 00 00 00 06 01 06 00 00 00 05"
                          "00 02 00 00 00 05 01 04 02 40 01"));
}

// tarnel-sim with the built-in 64-meter scenario's file from the source tree:
// a bit map of 64 ones (four registers of 0xFFFF) and 64 active devices.
TEST(TarnelSim, StartsWithSixtyFourActivatedMeters) {
    QProcess sim;
    sim.start(TARNEL_SIM, {"--tcp", "0", "--scenario",
                           QStringLiteral(TARNEL_SOURCE_DIR "/sim/scenario64.json")});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000))
        << sim.readAllStandardError().toStdString();
    const QString port = QString::fromLatin1(sim.readLine()).trimmed().section(':', -1);
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port.toUShort());
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write(test::bytes("00 01 00 00 00 06 01 04 E8 6C 00 10"));
    QByteArray bitMap = test::bytes("00 01 00 00 00 23 01 04 20 FF FF FF FF FF FF FF FF");
    bitMap.append(24, '\0');
    EXPECT_EQ(ReadReply(socket, bitMap.size()), bitMap);
    socket.write(test::bytes("00 02 00 00 00 06 01 04 80 00 00 01"));
    EXPECT_EQ(ReadReply(socket, 11), test::bytes("00 02 00 00 00 05 01 04 02 40 40"));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
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
