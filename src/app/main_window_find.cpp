// The main window's "Find gateway..." and the use of what it found.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/find_gateway_window.h"
#include "app/main_window.h"
#include "app/up_down.h"
#include "link/gateway_link.h"

namespace tarnel {

void TForm1::wireFindHandlers() {
    onClick("Butt_find_gateway", &TForm1::Butt_find_gatewayClick);
}

// The search starts from the line and the address the window holds; the
// serial port in use is closed first, so that it is searched too.
void TForm1::Butt_find_gatewayClick() {
    if (!findWindow_) {
        findWindow_ = new FindGatewayWindow(*program_, this);
        connect(findWindow_, &FindGatewayWindow::use, this, [this](const FoundDevice& gateway) {
            guarded([this, gateway] { useFoundGateway(gateway); });
        });
    }
    if (program_->link().SerialOpen()) program_->link().closeSerial();
    const SerialSettings current =
        SerialSettingsFromTexts(control<QComboBox>("Combo_com2_name")->currentText(),
                                control<QComboBox>("Combo_com2_speed")->currentText(),
                                control<QComboBox>("Combo_com2_parity")->currentText(),
                                control<QComboBox>("Combo_com2_stop")->currentText());
    findWindow_->show();
    findWindow_->raise();
    findWindow_->find({.serialPorts = {current.portName},
                       .currentLine = current.line,
                       .currentUnit = control<UpDown>("UDmodbusAddress")->position(),
                       .connectTimeoutMs = 10 * control<UpDown>("UD_eth_timeout")->position()});
}

// "Use": the found gateway's link settings and address into the controls,
// then connected.
void TForm1::useFoundGateway(const FoundDevice& gateway) {
    control<UpDown>("UDmodbusAddress")->setPosition(gateway.unit);
    GatewayLink& link = program_->link();
    if (gateway.tcp) {
        control<QLineEdit>("Edit_lanxp_ip")->setText(gateway.port);
        control<QLineEdit>("Edit_lanxp_port")->setText(QString::number(gateway.tcpPort));
        if (link.SerialOpen()) link.closeSerial();
        if (!link.TcpMode()) Butt_connect_xportClick();
        return;
    }
    const QStringList line = LineName(gateway.line).split(' ');  // speed, parity, stop bits
    if (link.SerialOpen()) link.closeSerial();
    control<QComboBox>("Combo_com2_name")->setCurrentText(gateway.port);
    control<QComboBox>("Combo_com2_speed")->setCurrentText(line.value(0));
    control<QComboBox>("Combo_com2_parity")->setCurrentText(line.value(1));
    control<QComboBox>("Combo_com2_stop")->setCurrentText(line.value(2));
    Butt_open_port2Click();
}

}  // namespace tarnel
