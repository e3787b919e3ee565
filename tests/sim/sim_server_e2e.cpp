// The simulated gateway on real wires: loopback TCP and a pseudo-terminal,
// driven by the tool's own link and by mbpoll, an independent Modbus client.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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

    // Sends through `send`, waits until `size` reply bytes came, takes them.
    QByteArray exchange(const std::function<void()>& send, qsizetype size) {
        link.prepareRequest();
        send();
        const auto buffered = [&] { return link.TcpMode() ? link.TcpRxBuffer() : link.SerialRxBuffer(); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return buffered().size() >= size; }, 5000));
        return link.takeReply();
    }
};

TEST_F(SimServer, WriteAndReadBackASettingOverTcp) {
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    link.Butt_connect_xportClick("127.0.0.1", QString::number(port), 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    const QByteArray written =
        exchange([&] { link.SendWriteSingleRegister(1, reg::kReadoutMinutes, 0x0E, 0x10); }, 12);
    EXPECT_EQ(written, RtuFrame(test::bytes("01 06 00 03 0E 10")));
    const QByteArray read = exchange([&] { link.SendReadHoldingRegisters(1, reg::kReadoutMinutes, 1); }, 11);
    EXPECT_EQ(read, RtuFrame(test::bytes("01 03 02 0E 10")));
    const auto records = tcpEndpoint.Records();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0].bytes, (Bytes{0x03, 0xE8, 0, 0, 0, 6, 1, 6, 0, 3, 0x0E, 0x10}));
}

TEST_F(SimServer, ReadOverAPseudoTerminal) {
    const std::string path = server.ServePty();
    server.Start();
    link.openSerial({QString::fromStdString(path), "19200", "Even", "1"});
    ASSERT_TRUE(link.SerialOpen()) << log.lines().join('\n').toStdString();
    const QByteArray written =
        exchange([&] { link.SendWriteSingleRegister(1, reg::kReadoutMinutes, 0x00, 0x3C); }, 8);
    EXPECT_EQ(written, RtuFrame(test::bytes("01 06 00 03 00 3C")));
    const QByteArray read = exchange([&] { link.SendReadHoldingRegisters(1, reg::kReadoutMinutes, 1); }, 7);
    EXPECT_EQ(read, RtuFrame(test::bytes("01 03 02 00 3C")));
}

TEST_F(SimServer, FaultsReachTheWire) {
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();
    link.Butt_connect_xportClick("127.0.0.1", QString::number(port), 30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpMode(); }, 5000));
    Fault shortAnswer;
    shortAnswer.kind = FaultKind::ShortTcp;
    tcpEndpoint.faults().Add(shortAnswer);
    link.prepareRequest();
    link.SendReadHoldingRegisters(1, reg::kReadoutMinutes, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.TcpRxBuffer().size() == 5; }, 5000));
    EXPECT_TRUE(link.takeReply().isEmpty());
    EXPECT_EQ(log.lines().filter(QRegularExpression("^Error, raw TCP data: 03 E8 00 00 00 $")).size(), 1)
        << log.lines().join("|").toStdString();
    Fault close;
    close.kind = FaultKind::Close;
    tcpEndpoint.faults().Add(close);
    link.SendReadHoldingRegisters(1, reg::kReadoutMinutes, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !link.TcpMode(); }, 5000));
}

QString mbpoll() { return QStandardPaths::findExecutable("mbpoll"); }

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
    EXPECT_TRUE(runMbpoll(tcpArgs + QStringList{"-r", "3", "-t", "4", "127.0.0.1"}).contains("[3]: \t720"));
    const QStringList rtuArgs = {"-m", "rtu", "-b", "19200", "-P", "even", "-a", "1", "-0", "-1"};
    EXPECT_TRUE(runMbpoll(rtuArgs + QStringList{"-r", "3", "-t", "4", QString::fromStdString(path)})
                    .contains("[3]: \t720"));
}

}  // namespace
}  // namespace tarnel::sim
