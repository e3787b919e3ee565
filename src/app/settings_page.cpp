// The "Settings" page: the link settings, the register view, the gateway's
// Modbus time-out and address, its setting commands, its status and its
// network settings.
#include <QGridLayout>
#include <QGroupBox>
#include <QProgressBar>

#include "app/form_builder.h"
#include "app/window_parts.h"
#include "gateway/control_ranges.h"
#include "gateway/program.h"
#include "serial/device_names.h"

namespace tarnel {
namespace {

using namespace form;

QStringList numbered(const QString& prefix, int first, int last) {
    QStringList items;
    for (int n = first; n <= last; ++n)
        items << prefix + QString::number(n);
    return items;
}

QGroupBox* serialPortGroup() {
    auto* group = new QGroupBox("   Serial port settings   ");
    auto* grid = new QGridLayout(group);
    grid->addWidget(label("Port"), 0, 0);
    // The serial devices present on this machine first, then the COM names.
    grid->addWidget(combo("Combo_com2_name", listSerialDevices() + numbered("COM", 1, 20), "COM1"),
                    0, 1);
    grid->addWidget(label("Speed"), 0, 2);
    grid->addWidget(
        combo("Combo_com2_speed",
              {"300", "1200", "2400", "4800", "9600", "19200", "38400", "115200"}, "19200"),
        0, 3);
    grid->addWidget(label("Parity"), 1, 0);
    grid->addWidget(combo("Combo_com2_parity", {"None", "Odd", "Even", "Mark", "Space"}, "Even"), 1,
                    1);
    grid->addWidget(label("Stop bits"), 1, 2);
    grid->addWidget(combo("Combo_com2_stop", {"1", "2"}, "1"), 1, 3);
    grid->addWidget(button("Butt_open_port2", "Connect to port"), 2, 0);
    grid->addWidget(button("Butt_find_gateway", "Find gateway…"), 2, 1);
    grid->addWidget(checkBox("CB_open_port2", "Automatically open on startup"), 2, 2, 1, 2);
    grid->addWidget(label("Remote IP"), 3, 0);
    grid->addWidget(edit("Edit_lanxp_ip", 15, "192.168.1.3"), 3, 1);
    grid->addWidget(label("Remote port"), 3, 2);
    grid->addWidget(edit("Edit_lanxp_port", 5, "502"), 3, 3);
    grid->addWidget(label("Connect timeout"), 4, 0);
    const Spin timeout = spin("Edit_eth_timeout", "UD_eth_timeout", 30, 9999, 50, 1, 4);
    grid->addLayout(row({timeout.row, label("x10ms")}), 4, 1);
    grid->addWidget(button("Butt_connect_xport", "Connect TCP"), 4, 2);
    grid->addWidget(button("BitBtn24", "Disconnect TCP"), 4, 3);
    return group;
}

QWidget* registerView(Program& program) {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(
        row({label("Address"), edit("EditInputAddress", 5, "1"), label("Count"),
             edit("EditInputCount", 3, "125"), checkBox("checkInput", "Input", true),
             checkBox("checkHolding", "Holding"), button("BitBtn3", "Read registers")}));
    const Spin period = spin("Edit_auto", "UD_auto", 1, 60, 1, 1, 2);
    period.edit->setReadOnly(true);
    auto* progress = new QProgressBar;
    layout->addLayout(row({checkBox("CheckBox1", "Automatic read"), period.row, label("s"),
                           button("BitBtn4", "Clear grid"), button("BitBtn8", "Export"),
                           hidden(progress), nullptr}));
    layout->addWidget(
        grid("gridInputRegisters", &program.gridInputRegisters(), program.clock(), false), 1);
    return view;
}

QLayout* modbusTimeoutAndAddress() {
    const Spin timeout = spin("EditTimeoutModbus", "UD_modbusTimeout", kModbusTimeoutRange.least,
                              kModbusTimeoutRange.most, 600, 50, 5);
    timeout.edit->setReadOnly(true);
    const Spin address = spin("EditAddressModbus", "UDmodbusAddress", kModbusAddressRange.least,
                              kModbusAddressRange.most, 1, 1, 3);
    return row({label("Timeout, ms"), timeout.row,
                checkBox("CheckFastReplies", "Fast replies", true), label("Address"), address.row,
                nullptr});
}

QGroupBox* commandsGroup() {
    auto* group = new QGroupBox("   Commands   ");
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(3);
    layout->addLayout(row({button("BitBtn9", "Write Timeout Registers"),
                           checkBox("checkBetween", "between 2 readings"),
                           checkBox("checkRespond", "wait respond for"), nullptr}));
    layout->addLayout(row({label("Times for mbus network, in 0.0 seconds"),
                           spin("editTimeouts", "UD_variousTimes", 0, 99, 0, 1, 2).row, nullptr}));
    layout->addLayout(row({button("BitBtn10", "Set Date/Time of device"), nullptr}));
    layout->addLayout(row(
        {combo("Combo_baud",
               {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}, ""),
         combo("Combo_parity", {"None", "Even", "Odd"}, ""), nullptr,
         checkBox("checkFPbaud", "m-bus port"), checkBox("checkModbusPort", "Modbus port", true)}));
    layout->addLayout(row({button("BitBtn11", "Write baud and parity"), nullptr}));
    layout->addLayout(row({label("Readout/update time (in minutes):"),
                           spin("editReadoutMinutes", "UDminutes", 1, 720, 1, 1, 3).row,
                           button("BitBtn17", "Update"), nullptr}));
    layout->addLayout(row({checkBox("check5B", "0x7B"), checkBox("checkNKE", "SND_NKE"),
                           checkBox("checkStopMbus", "Start Mbus"), checkBox("check01", "0/1"),
                           checkBox("checkSort", "Sort"), nullptr}));
    layout->addLayout(row({checkBox("checkDHCP", "DHCP"), checkBox("checkReset", "Reset"),
                           checkBox("checkFactoryDefault", "Factory default"), nullptr,
                           button("BitBtn20", "Set Universal Mbus Flags")}));
    layout->addLayout(row({label("New address"), edit("Edit_address", 3, "1"),
                           button("BitBtn12", "Set new modbus address"), nullptr}));
    layout->addLayout(row({label("Modbus version"), checkBox("Check_v2", "v 0.2"),
                           checkBox("Check_v3", "v 0.3", true), nullptr}));
    return group;
}

QGroupBox* tcpSettingsGroup() {
    auto* group = new QGroupBox("   TCP settings   ");
    auto* grid = new QGridLayout(group);
    grid->addWidget(label("Select IP setting type:"), 0, 0);
    grid->addWidget(
        combo("Combo_tcpCommand",
              {"IP address", "Gateway", "Mask", "Control IP #1", "Control IP #2", "Operator IP #1",
               "Operator IP #2", "Operator IP #3", "Operator IP #4", "Net number (optional)"},
              ""),
        0, 1, 1, 2);
    grid->addWidget(label("IP to save in device:"), 1, 0);
    grid->addWidget(edit("Edit_ip", 15), 1, 1);
    grid->addWidget(button("Button1", "Program IP"), 1, 2);
    grid->addWidget(label("Listen on port:"), 2, 0);
    grid->addWidget(edit("Edit_tcpPort", 5), 2, 1);
    grid->addWidget(button("Button2", "Save"), 2, 2);
    grid->addWidget(hidden(label("Serial #", "Label36")), 3, 0);
    grid->addWidget(hidden(edit("Edit_id", 8)), 3, 1);
    grid->addWidget(hidden(button("Button3", "Save")), 3, 2);
    return group;
}

}  // namespace

QWidget* buildSettingsPage(Program& program) {
    auto* page = new QWidget;
    page->setObjectName("TabSheet2");

    auto* left = new QVBoxLayout;
    left->addWidget(serialPortGroup());
    left->addWidget(registerView(program), 1);

    auto* right = new QVBoxLayout;
    right->addLayout(modbusTimeoutAndAddress());
    right->addWidget(commandsGroup());
    right->addLayout(row({button("BitBtn18", "Read Status of Corvane-64"), nullptr}));
    right->addWidget(tcpSettingsGroup());
    right->addStretch(1);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);
    return page;
}

}  // namespace tarnel
