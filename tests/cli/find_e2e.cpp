// tarnel-cli find against tarnel-sim gateways set away from the defaults, on
// pseudo-terminals and on loopback addresses.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <memory>

#include "cli_process.h"

namespace tarnel {
namespace {

using test::cli;

// A tarnel-sim with `args`; the endpoint it printed ("/dev/pts/N" or
// "HOST:PORT").
struct Sim {
    QProcess process;
    QString endpoint;

    explicit Sim(const QStringList& args) {
        process.start(TARNEL_SIM, args);
        if (QTest::qWaitFor([this] { return process.canReadLine(); }, 5000))
            endpoint = QString::fromLatin1(process.readLine()).trimmed().section(' ', 1);
    }
    ~Sim() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// tarnel-sim activates the first three meters of its bus unless told
// otherwise: the active-device count is 3.
constexpr const char* kHeader =
    "Link;Port;Speed;Parity;Stop bits;Address;Vendor;Product;Version;Active devices;\n";

TEST(FindCli, TheGatewayOnAPseudoTerminalAwayFromTheDefaults) {
    const struct {
        QStringList sim;
        QString row;  // after "RTU;<pty>;"
    } cases[] = {
        {{"--baud", "9600", "--parity", "none", "--unit", "17"},
         "9600;None;1;17;Velgate;Corvane-64;0.3.1;3;"},
        {{"--baud", "115200", "--parity", "odd", "--unit", "247"},
         "115200;Odd;1;247;Velgate;Corvane-64;0.3.1;3;"},
    };
    for (const auto& c : cases) {
        Sim sim(QStringList{"--pty"} + c.sim);
        ASSERT_FALSE(sim.endpoint.isEmpty());
        const test::CliRun run = cli({"find", "--serial", sim.endpoint, "-q"});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, kHeader + ("RTU;" + sim.endpoint + ";" + c.row + "\n"));
    }
}

TEST(FindCli, APlainModbusDeviceIsNamedButNotFound) {
    Sim plain({"--pty", "--plain", "--baud", "38400", "--parity", "even", "--unit", "1"});
    const test::CliRun run = cli({"find", "--serial", plain.endpoint});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kHeader);
    EXPECT_TRUE(run.err.contains("Modbus device, not a Corvane-64: " + plain.endpoint +
                                 " 38400 Even 1, address 1: exception 1 to device "
                                 "identification"))
        << run.err.toStdString();
}

TEST(FindCli, GatewaysOnLoopbackAddressesOnePort) {
    // 127.0.0.5: a gateway at unit 17; 127.0.0.3: a plain device at 1;
    // 127.0.0.7: a gateway at 2; the others listen on nothing.
    Sim gateway({"--host", "127.0.0.5", "--tcp", "0", "--unit", "17"});
    const QString port = gateway.endpoint.section(':', 1);
    if (port.isEmpty()) GTEST_SKIP() << "cannot listen on 127.0.0.5";
    Sim plain({"--host", "127.0.0.3", "--tcp", port, "--plain"});
    Sim second({"--host", "127.0.0.7", "--tcp", port, "--unit", "2"});
    const test::CliRun all =
        cli({"find", "--tcp", "127.0.0.2-9:" + port, "--all", "--json", "--timeout", "20"});
    EXPECT_EQ(all.status, 0) << all.err.toStdString();
    const QString tail = ",\"product\":\"Corvane-64\",\"tcpPort\":" + port +
                         ",\"vendor\":\"Velgate\",\"version\":\"0.3.1\"}\n";
    EXPECT_EQ(all.out,
              "{\"activeDevices\":3,\"address\":17,\"link\":\"tcp\",\"port\":\"127.0.0.5\"" + tail +
                  "{\"activeDevices\":3,\"address\":2,\"link\":\"tcp\",\"port\":"
                  "\"127.0.0.7\"" +
                  tail);
    EXPECT_TRUE(all.err.contains("Modbus device, not a Corvane-64: 127.0.0.3:" + port +
                                 ", address 1: exception 1 to device identification"));
    // Without --all: the first gateway only.
    const test::CliRun first = cli({"find", "--tcp", "127.0.0.4-9:" + port, "-q"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out,
              kHeader + ("TCP;127.0.0.5:" + port + ";;;;17;Velgate;Corvane-64;0.3.1;3;\n"));
}

TEST(FindCli, RefusalsAndNoLink) {
    EXPECT_EQ(cli({"find", "--tcp", "127.0.0.9-2:502"}).status, 2);
    EXPECT_EQ(cli({"find", "--serial", "/dev/pts/1", "--parity", "mark"}).status, 2);
    EXPECT_EQ(cli({"find", "--serial", "/nonexistent/tty"}).status, 3);
}

}  // namespace
}  // namespace tarnel
