// The main window's side of the link: the port buttons, the console, and the
// controls that follow the link's state.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "app/up_down.h"
#include "link/gateway_link.h"
#include "ops/command_console.h"
#include "serial/serial_types.h"

namespace tarnel {
namespace {

const char* const kSerialCombos[] = {"Combo_com2_name", "Combo_com2_speed", "Combo_com2_parity",
                                     "Combo_com2_stop"};

}  // namespace

void TForm1::wireLinkHandlers() {
    onClick("Butt_open_port2", &TForm1::Butt_open_port2Click);
    onClick("Butt_connect_xport", &TForm1::Butt_connect_xportClick);
    onClick("BitBtn24", &TForm1::BitBtn24Click);
    onClick("Butt_command_send", &TForm1::Butt_command_sendClick);
    connect(control<QCheckBox>("Check_ascii"), &QCheckBox::clicked, this,
            &TForm1::Check_asciiClick);
    connect(control<QCheckBox>("Check_hex"), &QCheckBox::clicked, this, &TForm1::Check_hexClick);
    connect(&program_->link(), &GatewayLink::stateChanged, this, &TForm1::updateLinkControls);
    auto* fast = control<QCheckBox>("CheckFastReplies");
    connect(fast, &QCheckBox::toggled, &program_->link(), &GatewayLink::setFastReplies);
}

void TForm1::onClick(const char* name, void (TForm1::*handler)()) {
    connect(control<QPushButton>(name), &QPushButton::clicked, this,
            [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
}

void TForm1::onMenu(const char* name, void (TForm1::*handler)()) {
    connect(control<QAction>(name), &QAction::triggered, this,
            [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
}

void TForm1::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        program_->dialogs().message(QString::fromUtf8(error.what()));
    }
}

void TForm1::updateLinkControls() {
    const GatewayLink& link = program_->link();
    for (const char* name : kSerialCombos)
        control<QComboBox>(name)->setEnabled(!link.SerialOpen());
    control<QPushButton>("Butt_open_port2")
        ->setText(link.SerialOpen() ? "Disconnect" : "Connect to port");
    control<QPushButton>("Butt_connect_xport")->setEnabled(!link.SerialOpen() && !link.TcpMode());
}

void TForm1::Butt_open_port2Click() {
    GatewayLink& link = program_->link();
    if (link.SerialOpen()) {
        link.closeSerial();
        return;
    }
    link.openSerial(SerialSettingsFromTexts(control<QComboBox>("Combo_com2_name")->currentText(),
                                            control<QComboBox>("Combo_com2_speed")->currentText(),
                                            control<QComboBox>("Combo_com2_parity")->currentText(),
                                            control<QComboBox>("Combo_com2_stop")->currentText()));
}

void TForm1::Butt_connect_xportClick() {
    program_->link().connectTcp(control<QLineEdit>("Edit_lanxp_ip")->text(),
                                TcpPortFromText(control<QLineEdit>("Edit_lanxp_port")->text()),
                                control<UpDown>("UD_eth_timeout")->position());
}

void TForm1::BitBtn24Click() {
    program_->link().disconnectTcp();
}

// Exactly one of "ASCII" and "Hex" is checked.
void TForm1::Check_asciiClick(bool checked) {
    control<QCheckBox>("Check_hex")->setChecked(!checked);
}

void TForm1::Check_hexClick(bool checked) {
    control<QCheckBox>("Check_ascii")->setChecked(!checked);
}

void TForm1::Butt_command_sendClick() {
    program_->console().send(control<QCheckBox>("Check_ascii")->isChecked(),
                             control<QLineEdit>("Edit_command")->text(),
                             control<UpDown>("UD_modbusTimeout")->position());
}

}  // namespace tarnel
