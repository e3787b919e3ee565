#include "link_fixture.h"

namespace tarnel {
namespace {

using Ports = test::LinkTest;

TEST_F(Ports, OpeningShowsTheSettingsAndClosingSaysSo) {
    int changes = 0;
    QObject::connect(&link, &GatewayLink::stateChanged, [&] { ++changes; });
    link.openSerial(SerialSettingsFromTexts("COM12", "57600", "None", "2"));
    EXPECT_TRUE(link.SerialOpen());
    EXPECT_EQ(serial.deviceName, "\\\\.\\COM12");
    EXPECT_EQ(serial.line.baudrate, 57600);
    EXPECT_EQ(serial.line.parity, 0);
    EXPECT_EQ(serial.line.stopBits, 2);
    EXPECT_EQ(status.text(StatusPanels::Serial), "COM12 - 57600,8,None");
    EXPECT_EQ(log.lines(), QStringList{"COM12 - 57600,8,None"});
    EXPECT_EQ(changes, 1);

    link.closeSerial();
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_FALSE(serial.isOpen());
    EXPECT_EQ(status.text(StatusPanels::Serial), "COM12 is closed");
    EXPECT_EQ(log.lines().last(), "Serial port for modbus closed");
    EXPECT_EQ(changes, 2);
}

TEST_F(Ports, LineSettingsFallBackOnTextsThatAreNotKnown) {
    const struct {
        const char *speed, *parity, *stop;
        int baudrate, parityCode, stopBits;
    } cases[] = {
        {"abc", "even", "1.5", 19200, 2, 1}, {"1000", "none", "2", 19200, 2, 2},
        {"300", "Odd", "1", 300, 1, 1},      {"115200", "Mark", "2", 115200, 3, 2},
        {"4800", "Space", "", 4800, 4, 1},
    };
    for (const auto& c : cases) {
        link.openSerial(SerialSettingsFromTexts("COM1", c.speed, c.parity, c.stop));
        EXPECT_EQ(serial.line.baudrate, c.baudrate) << c.speed;
        EXPECT_EQ(serial.line.parity, c.parityCode) << c.parity;
        EXPECT_EQ(serial.line.stopBits, c.stopBits) << c.stop;
        EXPECT_EQ(log.lines().last(), QStringLiteral("COM1 - %1,8,%2").arg(c.speed, c.parity))
            << "the texts as typed";
        link.closeSerial();
    }
}

TEST_F(Ports, ABusyPortGivesTheBoxAndTheReasonInTheLog) {
    serial.probeReason =
        "Can't open specified device \\\\.\\COM3 as /dev/ttyS2 (Error 13, Permission denied)";
    link.openSerial(SerialSettingsFromTexts("COM3", "19200", "Even", "1"));
    EXPECT_FALSE(link.SerialOpen());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "warning");
    EXPECT_EQ(dialogs.shown[0].caption, "Connect to port");
    EXPECT_EQ(dialogs.shown[0].text, "This serial port is already in use!");
    EXPECT_EQ(log.lines(),
              (QStringList{serial.probeReason,
                           "No rights to open COM3: add your user to the group that owns it "
                           "(usually dialout: sudo usermod -aG dialout $USER) and log in again."}));
    EXPECT_EQ(status.text(StatusPanels::Serial), "COM3 is closed");
}

TEST_F(Ports, AnOpenErrorIsShownAndLeavesThePortClosed) {
    serial.openError = "Error writing dcb (22), Invalid argument";
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    EXPECT_FALSE(link.SerialOpen());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, serial.openError);
}

TEST_F(Ports, ADeviceThatGoesAwayEndsTheSerialLink) {
    openSerial();
    serial.unplug();
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_EQ(log.lines(),
              (QStringList{"Serial device went away...", "Serial port for modbus closed"}));
    EXPECT_FALSE(link.requireLink());
}

TEST_F(Ports, TcpConnectAndDisconnectEvents) {
    link.connectTcp("192.168.1.3", TcpPortFromText(""), 50);
    EXPECT_EQ(tcp.host, "192.168.1.3");
    EXPECT_EQ(tcp.port, 502) << "an empty port box means 502";
    EXPECT_EQ(log.lines(), QStringList{"Trying to connect to remote TCP server..."});
    EXPECT_TRUE(link.connectWaiting());
    clock.advance(20);
    tcp.accept();
    EXPECT_TRUE(link.TcpMode());
    EXPECT_EQ(link.TransactionId(), 1000);
    EXPECT_EQ(log.lines().last(), "Connected TCP/IP, at 10:00:00");
    EXPECT_EQ(status.text(StatusPanels::Tcp), "Connected to 192.168.1.3");
    EXPECT_TRUE(link.connectWaiting()) << "the wait runs its full length";
    clock.advance(489);
    EXPECT_TRUE(link.connectWaiting());
    clock.advance(1);
    EXPECT_FALSE(link.connectWaiting()) << "(50 + 1) x 10 ms";

    clock.advance(61'000);
    link.disconnectTcp();
    EXPECT_FALSE(link.TcpMode());
    EXPECT_EQ(log.lines().last(), "Disconnected TCP/IP connection at 10:01:01");
    EXPECT_EQ(status.text(StatusPanels::Tcp), "Disconnected TCP ");
}

TEST_F(Ports, BadPortTextsAreRefused) {
    for (const char* port : {"abc", "70000", "-1"}) {
        log.clear();
        link.connectTcp("192.168.1.3", TcpPortFromText(port), 30);
        EXPECT_EQ(log.lines(), QStringList{"Remote IP and Port are not properly set..."}) << port;
        EXPECT_FALSE(link.TcpMode());
    }
    EXPECT_TRUE(tcp.host.isEmpty()) << "no connect was attempted";
}

TEST_F(Ports, ASecondConnectWhileConnectedOrWaitingDoesNothing) {
    link.connectTcp("10.0.0.9", 502, 30);
    link.connectTcp("10.0.0.8", 502, 30);
    EXPECT_EQ(tcp.host, "10.0.0.9");
    tcp.accept();
    clock.advance(400);
    link.connectTcp("10.0.0.7", 502, 30);
    EXPECT_EQ(tcp.host, "10.0.0.9");
    EXPECT_EQ(log.lines().filter("Trying").size(), 1);
}

TEST_F(Ports, SocketErrorsAreLoggedByNumber) {
    link.connectTcp("192.168.1.3", 502, 30);
    tcp.fail(10061, "Connection refused");
    EXPECT_EQ(log.lines().mid(log.lines().size() - 2),
              (QStringList{"Socket error #10061", "Connection refused"}));
    EXPECT_FALSE(link.TcpMode());
}

TEST_F(Ports, OpeningTheSerialPortClosesTcp) {
    connectTcp();
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    EXPECT_TRUE(link.SerialOpen());
    EXPECT_FALSE(link.TcpMode());
    EXPECT_EQ(log.lines(),
              (QStringList{"COM1 - 19200,8,Even", "Disconnected TCP/IP connection at 10:00:00"}));
}

TEST_F(Ports, ShutdownClosesBothLinks) {
    openSerial();
    link.shutdown();
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_FALSE(serial.isOpen());
    connectTcp();
    link.shutdown();
    EXPECT_FALSE(link.TcpMode());
}

}  // namespace
}  // namespace tarnel
