#include <QDir>
#include <QAction>
#include <QTest>

#include "app/find_gateway_window.h"
#include "link/gateway_link.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

using LinkControls = test::WindowTest;

TEST_F(LinkControls, ConnectToPortTogglesTheControls) {
    start();
    control<QComboBox>("Combo_com2_name")->setCurrentText("COM7");
    QTest::mouseClick(control<QPushButton>("Butt_open_port2"), Qt::LeftButton);
    EXPECT_TRUE(serial->isOpen());
    EXPECT_EQ(serial->deviceName, "\\\\.\\COM7");
    EXPECT_EQ(control<QPushButton>("Butt_open_port2")->text(), "Disconnect");
    for (const char* name :
         {"Combo_com2_name", "Combo_com2_speed", "Combo_com2_parity", "Combo_com2_stop"})
        EXPECT_FALSE(control<QComboBox>(name)->isEnabled()) << name;
    EXPECT_FALSE(control<QPushButton>("Butt_connect_xport")->isEnabled());
    EXPECT_EQ(form->program().log().lines().last(), "COM7 - 19200,8,Even");

    QTest::mouseClick(control<QPushButton>("Butt_open_port2"), Qt::LeftButton);
    EXPECT_FALSE(serial->isOpen());
    EXPECT_EQ(control<QPushButton>("Butt_open_port2")->text(), "Connect to port");
    EXPECT_TRUE(control<QComboBox>("Combo_com2_name")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("Butt_connect_xport")->isEnabled());
}

TEST_F(LinkControls, FindGatewayOpensItsWindowAndUseConnectsToWhatItFound) {
    start();
    QTest::mouseClick(control<QPushButton>("Butt_find_gateway"), Qt::LeftButton);
    auto* finder = form->findChild<FindGatewayWindow*>("FindGatewayWindow");
    ASSERT_TRUE(finder);
    EXPECT_TRUE(finder->isVisible());
    FoundDevice gateway;
    gateway.port = "COM7";
    gateway.line = {9600, 0, 1};
    gateway.unit = 17;
    gateway.gateway = true;
    emit finder->use(gateway);
    EXPECT_EQ(control<QComboBox>("Combo_com2_name")->currentText(), "COM7");
    EXPECT_EQ(control<QComboBox>("Combo_com2_speed")->currentText(), "9600");
    EXPECT_EQ(control<QComboBox>("Combo_com2_parity")->currentText(), "None");
    EXPECT_EQ(control<QComboBox>("Combo_com2_stop")->currentText(), "1");
    EXPECT_EQ(control<QLineEdit>("EditAddressModbus")->text(), "17");
    EXPECT_TRUE(serial->isOpen());
    EXPECT_EQ(serial->deviceName, "\\\\.\\COM7");
}

TEST_F(LinkControls, AutoOpenWithABusyPortShowsTheBoxAndTheWindowStillOpens) {
    writeSettings("[Modbus]\nAutoOpen=1\n");
    busyReason = "Can't open specified device \\\\.\\COM1 (Error 16, Device or resource busy)";
    start();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "This serial port is already in use!");
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->program().link().SerialOpen());
}

TEST_F(LinkControls, AutoOpenOpensThePortAtStartAndCloseClosesIt) {
    writeSettings("[Modbus]\nAutoOpen=1\n");
    start();
    EXPECT_TRUE(serial->isOpen());
    closeWindow();
    EXPECT_FALSE(serial->isOpen());
}

TEST_F(LinkControls, TcpButtonsFollowTheSocketEvents) {
    start();
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText("1502");
    QTest::mouseClick(control<QPushButton>("Butt_connect_xport"), Qt::LeftButton);
    EXPECT_EQ(tcp->host, "127.0.0.1");
    EXPECT_EQ(tcp->port, 1502);
    tcp->accept();
    EXPECT_FALSE(control<QPushButton>("Butt_connect_xport")->isEnabled());
    clock.advance(1000);
    QTest::mouseClick(control<QPushButton>("BitBtn24"), Qt::LeftButton);
    EXPECT_TRUE(control<QPushButton>("Butt_connect_xport")->isEnabled());
    EXPECT_TRUE(
        form->program().log().lines().last().startsWith("Disconnected TCP/IP connection at "));
}

TEST_F(LinkControls, ConsoleModesStayExclusiveAndSendGoesToThePort) {
    start();
    auto* ascii = control<QCheckBox>("Check_ascii");
    auto* hex = control<QCheckBox>("Check_hex");
    QTest::mouseClick(ascii, Qt::LeftButton);
    EXPECT_TRUE(ascii->isChecked());
    EXPECT_FALSE(hex->isChecked());
    QTest::mouseClick(ascii, Qt::LeftButton);
    EXPECT_TRUE(hex->isChecked());
    QTest::mouseClick(hex, Qt::LeftButton);
    EXPECT_TRUE(ascii->isChecked());
    QTest::mouseClick(hex, Qt::LeftButton);
    EXPECT_TRUE(hex->isChecked());

    QTest::mouseClick(control<QPushButton>("Butt_open_port2"), Qt::LeftButton);
    control<QLineEdit>("Edit_command")->setText("01 04 00 01 00 7D 61 EB");
    QTest::mouseClick(control<QPushButton>("Butt_command_send"), Qt::LeftButton);
    EXPECT_EQ(serial->written, QByteArray::fromHex("0104000100 7D61EB"));
    serial->deliver(QByteArray::fromHex("0104020005"));
    clock.advance(600);
    EXPECT_EQ(form->program().log().lines().last(), "RCVD:01 04 02 00 05 ");
}

TEST_F(LinkControls, TheScanAndReadControlsAreWired) {
    start();
    control<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(form->program().log().lines().last(), "Serial or TCP port for modbus is not open...");
    control<QPushButton>("Butt_open_port2")->click();
    form->program().log().clear();
    control<QAction>("Read1")->trigger();
    EXPECT_EQ(form->program().log().lines(), QStringList{"Not a valid device selected..."});
    control<QPushButton>("BitBtn3")->click();
    EXPECT_EQ(form->program().log().lines().last(), "Reading free number of registers...");
}

TEST_F(LinkControls, SaveLogMakesItsFolderAndSaysWhereTheFileWent) {
    start();
    const QString path = folder.filePath("files/log.txt");
    EXPECT_TRUE(form->program().log().sessionFile().startsWith(folder.filePath("files/sessions/")));
    ASSERT_TRUE(QDir(folder.filePath("files")).removeRecursively());
    form->BitBtn6Click();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(form->program().log().lines().last(), "Log saved to " + path);
}

TEST_F(LinkControls, KeyFiltersLetOnlyTheListedCharactersThrough) {
    start();
    const struct {
        const char* name;
        const char* typed;
        const char* kept;
    } cases[] = {
        {"Edit_lanxp_port", "5a0-2", "502"}, {"Edit_lanxp_ip", "10.0.x0.1", "10.0.0.1"},
        {"editID", "12EF34FFx", "12F34FF"},  {"EditInputCount", "1 2 5", "125"},
        {"Edit_valuePulses", "12,5", "125"}, {"Edit_retry", "z2", "2"},
        {"Edit_eth_timeout", "5x0", "50"},
    };
    for (const auto& c : cases) {
        auto* edit = control<QLineEdit>(c.name);
        edit->clear();
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(edit->text(), c.kept) << c.name;
    }
    auto* speed = control<QComboBox>("Combo_com2_speed");
    speed->clearEditText();
    QTest::keyClicks(speed, "96k00");
    EXPECT_EQ(speed->currentText(), "9600");
}

}  // namespace
}  // namespace tarnel
