// The main window's side of the gateway chores: the register view, the
// setting commands, the status read and the network settings.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "app/up_down.h"
#include "base/box_number.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_status.h"
#include "gateway/register_view.h"

namespace tarnel {

void TForm1::wireGatewayHandlers() {
    onClick("BitBtn3", &TForm1::BitBtn3Click);
    onClick("BitBtn4", &TForm1::BitBtn4Click);
    onClick("BitBtn9", &TForm1::BitBtn9Click);
    onClick("BitBtn10", &TForm1::BitBtn10Click);
    onClick("BitBtn11", &TForm1::BitBtn11Click);
    onClick("BitBtn12", &TForm1::BitBtn12Click);
    onClick("BitBtn17", &TForm1::BitBtn17Click);
    onClick("BitBtn20", &TForm1::BitBtn20Click);
    onClick("BitBtn18", &TForm1::BitBtn18Click);
    onClick("Button1", &TForm1::Button1Click);
    onClick("Button2", &TForm1::Button2Click);
    onClick("Button3", &TForm1::Button3Click);

    RegisterView& view = program_->registerView();
    connect(control<QCheckBox>("CheckBox1"), &QCheckBox::clicked, &view,
            &RegisterView::setAutomatic);
    connect(&view, &RegisterView::automaticReadEnded, this,
            [this] { control<QCheckBox>("CheckBox1")->setChecked(false); });
    connect(control<QLineEdit>("Edit_auto"), &QLineEdit::textChanged, this, [this] {
        program_->registerView().setAutomaticPeriod(control<UpDown>("UD_auto")->position());
    });
    connect(&view, &RegisterView::automaticRead, this,
            [this] { guarded([this] { BitBtn3Click(); }); });
    program_->gatewayStatus().setVersion = [this](bool version3) {
        control<QCheckBox>("Check_v3")->setChecked(version3);
        control<QCheckBox>("Check_v2")->setChecked(!version3);
    };

    // Pairs of which exactly one is checked.
    for (const auto& [first, second] :
         {std::pair{"checkInput", "checkHolding"}, std::pair{"checkModbusPort", "checkFPbaud"},
          std::pair{"Check_v3", "Check_v2"}}) {
        auto* a = control<QCheckBox>(first);
        auto* b = control<QCheckBox>(second);
        connect(a, &QCheckBox::clicked, b, [b](bool checked) { b->setChecked(!checked); });
        connect(b, &QCheckBox::clicked, a, [a](bool checked) { a->setChecked(!checked); });
    }
    // Groups of which at most one is checked.
    const QList<QStringList> groups = {{"checkBetween", "checkRespond"},
                                       {"checkNKE", "check5B", "checkStopMbus", "checkSort",
                                        "checkDHCP", "checkReset", "checkFactoryDefault"}};
    for (const QStringList& group : groups) {
        for (const QString& name : group) {
            auto* box = control<QCheckBox>(name);
            connect(box, &QCheckBox::clicked, this, [this, group, name](bool checked) {
                if (!checked) return;
                for (const QString& other : group)
                    if (other != name) control<QCheckBox>(other)->setChecked(false);
            });
        }
    }
}

int TForm1::slaveAddress() const {
    return control<UpDown>("UDmodbusAddress")->position();
}

int TForm1::modbusTimeout() const {
    return control<UpDown>("UD_modbusTimeout")->position();
}

void TForm1::BitBtn3Click() {
    program_->registerView().read({slaveAddress(),
                                   BoxNumber(control<QLineEdit>("EditInputAddress")->text(), 0),
                                   BoxNumber(control<QLineEdit>("EditInputCount")->text(), 0),
                                   control<QCheckBox>("checkInput")->isChecked(), modbusTimeout()});
}

void TForm1::BitBtn4Click() {
    program_->registerView().clearGrid();
}

void TForm1::BitBtn9Click() {
    // A time that is not a number counts as 30.
    if (const auto corrected = program_->commands().writeTimeouts(
            slaveAddress(), BoxNumber(control<QLineEdit>("editTimeouts")->text(), 30),
            control<QCheckBox>("checkBetween")->isChecked(),
            control<QCheckBox>("checkRespond")->isChecked()))
        control<QLineEdit>("editTimeouts")->setText(QString::number(*corrected));
}

void TForm1::BitBtn10Click() {
    program_->commands().setClock(slaveAddress());
}

void TForm1::BitBtn11Click() {
    if (const auto corrected = program_->commands().writeBaudAndParity(
            slaveAddress(), control<QComboBox>("Combo_baud")->currentText(),
            control<QComboBox>("Combo_parity")->currentText(),
            control<QCheckBox>("checkFPbaud")->isChecked()))
        control<QComboBox>("Combo_baud")->setCurrentText(*corrected);
}

void TForm1::BitBtn12Click() {
    // An address that is not a number counts as 255, which is refused.
    program_->commands().setModbusAddress(
        slaveAddress(), BoxNumber(control<QLineEdit>("Edit_address")->text(), 255));
}

void TForm1::BitBtn17Click() {
    // Minutes that are not a number count as 720.
    if (const auto corrected = program_->commands().setReadoutPeriod(
            slaveAddress(), BoxNumber(control<QLineEdit>("editReadoutMinutes")->text(), 720)))
        control<QLineEdit>("editReadoutMinutes")->setText(QString::number(*corrected));
}

void TForm1::BitBtn20Click() {
    const auto checked = [this](const char* name) { return control<QCheckBox>(name)->isChecked(); };
    GatewayCommands::Flags flags;
    flags.nke = checked("checkNKE");
    flags.x7b = checked("check5B");
    flags.startMbus = checked("checkStopMbus");
    flags.sort = checked("checkSort");
    flags.dhcp = checked("checkDHCP");
    flags.reset = checked("checkReset");
    flags.factoryDefault = checked("checkFactoryDefault");
    flags.set = checked("check01");
    program_->commands().setFlags(slaveAddress(), flags);
}

void TForm1::BitBtn18Click() {
    program_->gatewayStatus().readStatus(slaveAddress(), modbusTimeout());
}

void TForm1::Button1Click() {
    program_->gatewayStatus().programIp(slaveAddress(),
                                        control<QComboBox>("Combo_tcpCommand")->currentText(),
                                        ParseDottedAddress(control<QLineEdit>("Edit_ip")->text()));
}

void TForm1::Button2Click() {
    // A port that is not a number counts as 49, which is refused.
    program_->gatewayStatus().setListenPort(
        slaveAddress(), BoxNumber(control<QLineEdit>("Edit_tcpPort")->text(), 49));
}

void TForm1::Button3Click() {
    program_->gatewayStatus().setSerialNumber(slaveAddress(),
                                              control<QLineEdit>("Edit_id")->text());
}

}  // namespace tarnel
