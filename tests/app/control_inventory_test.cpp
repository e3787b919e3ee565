// Every control, menu entry, timer and dialog the tool's handlers, settings
// and operations refer to exists with its name, kind, caption, range and
// visibility.
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>

#include "app/about_box.h"
#include "serial/device_names.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

using Inventory = test::WindowTest;

struct Captioned {
    const char* name;
    const char* caption;
    bool visible = true;
};

TEST_F(Inventory, ButtonsWithTheirCaptionsAndVisibility) {
    start();
    const Captioned buttons[] = {
        {"Butt_open_port2", "Connect to port"},
        {"Butt_find_gateway", "Find gateway…"},
        {"Butt_connect_xport", "Connect TCP"},
        {"BitBtn24", "Disconnect TCP"},
        {"BitBtn3", "Read registers"},
        {"BitBtn4", "Clear grid"},
        {"BitBtn8", "Export"},
        {"BitBtn9", "Write Timeout Registers"},
        {"BitBtn10", "Set Date/Time of device"},
        {"BitBtn11", "Write baud and parity"},
        {"BitBtn17", "Update"},
        {"BitBtn20", "Set Universal Mbus Flags"},
        {"BitBtn12", "Set new modbus address"},
        {"BitBtn18", "Read Status of Corvane-64"},
        {"Button1", "Program IP"},
        {"Button2", "Save"},
        {"Button3", "Save", false},
        {"BitBtn1", "Scan mbus"},
        {"BitBtn2", "STOP"},
        {"BitBtn21", "Find by ID"},
        {"BitBtn23", "Set"},
        {"Button4", "Set new value"},
        {"buttonReadModbus", "Read modbus devices"},
        {"BitBtn19", "Search and activate"},
        {"BitBtn22", "Read real addresses"},
        {"BitBtn16", "Export"},
        {"Butt_activateall", "Activate All from table"},
        {"Butt_import", "Import"},
        {"BitBtn15", ""},
        {"Butt_clear_grid", "Clear table", false},
        {"Butt_load_data", "Load", false},
        {"Butt_save_data", "Save", false},
        {"BitBtn13", "Clear", false},
        {"BitBtn14", "Write modbus", false},
        {"BitBtn25", "Set all addresses", false},
        {"Butt_command_send", "Send"},
        {"BitBtn7", "Print"},
        {"BitBtn6", "Save log"},
        {"BitBtn5", "Clear log"},
    };
    for (const Captioned& b : buttons) {
        SCOPED_TRACE(b.name);
        auto* button = control<QPushButton>(b.name);
        EXPECT_EQ(button->text(), b.caption);
        EXPECT_EQ(shownOnItsPage(button), b.visible);
    }
    EXPECT_FALSE(control<QPushButton>("BitBtn7")->isEnabled()) << "Print stays disabled";
    EXPECT_FALSE(control<QPushButton>("BitBtn15")->icon().isNull()) << "a glyph, no caption";
}

TEST_F(Inventory, CheckBoxesWithTheirCaptionsAndStartStates) {
    start();
    const struct {
        const char* name;
        const char* caption;
        bool checked;
        bool visible = true;
    } boxes[] = {
        {"CB_open_port2", "Automatically open on startup", false},
        {"CheckFastReplies", "Fast replies", true},
        {"checkInput", "Input", true},
        {"checkHolding", "Holding", false},
        {"CheckBox1", "Automatic read", false},
        {"checkBetween", "between 2 readings", false},
        {"checkRespond", "wait respond for", false},
        {"checkFPbaud", "m-bus port", false},
        {"checkModbusPort", "Modbus port", true},
        {"check5B", "0x7B", false},
        {"checkNKE", "SND_NKE", false},
        {"checkStopMbus", "Start Mbus", false},
        {"check01", "0/1", false},
        {"checkSort", "Sort", false},
        {"checkDHCP", "DHCP", false},
        {"checkReset", "Reset", false},
        {"checkFactoryDefault", "Factory default", false},
        {"Check_v2", "v 0.2", false},
        {"Check_v3", "v 0.3", true},
        {"Check_valueHEX", "HEX", false},
        {"Check_valueBCD", "BCD", true},
        {"checkActivate", "Activate", false, false},
        {"checkDelete", "Delete", false, false},
        {"checkdeactivateInputs", "Delete inputs", false, false},
        {"Check_ascii", "ASCII", false},
        {"Check_hex", "Hex", true},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.name);
        auto* box = control<QCheckBox>(b.name);
        EXPECT_EQ(box->text(), b.caption);
        EXPECT_EQ(box->isChecked(), b.checked);
        EXPECT_EQ(shownOnItsPage(box), b.visible);
    }
}

TEST_F(Inventory, UpDownControlsWithTheirEditsRangesStepsAndPositions) {
    start();
    const struct {
        const char* upDown;
        const char* edit;
        int minimum, maximum, increment, position;
        bool readOnly = false;
    } spins[] = {
        {"UD_eth_timeout", "Edit_eth_timeout", 30, 9999, 1, 50},
        {"UD_auto", "Edit_auto", 1, 60, 1, 1, true},
        {"UD_modbusTimeout", "EditTimeoutModbus", 50, 20000, 50, 600, true},
        {"UDmodbusAddress", "EditAddressModbus", 1, 255, 1, 1},
        {"UD_variousTimes", "editTimeouts", 0, 99, 1, 0},
        {"UDminutes", "editReadoutMinutes", 1, 720, 1, 1},
        {"UDaddressFrom", "editAddressFrom", 0, 250, 1, 1},
        {"UDaddressTo", "editAddressTo", 0, 255, 1, 5},
        {"UD_timeout", "Edit_timeout", 300, 9900, 10, 1000},
        {"UD_retry", "Edit_retry", 0, 9, 1, 2},
        {"UD_address", "Edit1", 1, 250, 1, 1},
    };
    for (const auto& s : spins) {
        SCOPED_TRACE(s.upDown);
        auto* upDown = control<UpDown>(s.upDown);
        EXPECT_EQ(upDown->minimum(), s.minimum);
        EXPECT_EQ(upDown->maximum(), s.maximum);
        EXPECT_EQ(upDown->increment(), s.increment);
        EXPECT_EQ(upDown->position(), s.position);
        ASSERT_NE(upDown->associate(), nullptr);
        EXPECT_EQ(upDown->associate()->objectName(), s.edit);
        EXPECT_EQ(upDown->associate()->text(), QString::number(s.position));
        EXPECT_EQ(upDown->associate()->isReadOnly(), s.readOnly);
    }
}

TEST_F(Inventory, EditBoxesWithTheirMaximumLengthsAndTexts) {
    start();
    const struct {
        const char* name;
        int maxLength;
        const char* text;
        bool visible = true;
    } edits[] = {
        {"Edit_lanxp_ip", 15, "192.168.1.3"},
        {"Edit_ip", 15, ""},
        {"Edit_lanxp_port", 5, "502"},
        {"Edit_tcpPort", 5, ""},
        {"EditInputAddress", 5, "1"},
        {"EditInputCount", 3, "125"},
        {"EditTimeoutModbus", 5, "600"},
        {"EditAddressModbus", 3, "1"},
        {"Edit_address", 3, "1"},
        {"editReadoutMinutes", 3, "1"},
        {"editAddressFrom", 3, "1"},
        {"editAddressTo", 3, "5"},
        {"Edit1", 3, "1"},
        {"editTimeouts", 2, "0"},
        {"Edit_timeout", 4, "1000"},
        {"Edit_id", 8, "", false},
        {"Edit_valuePulses", 8, "0"},
        {"editID", 8, ""},
        {"Edit_command", 250, ""},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.name);
        auto* edit = control<QLineEdit>(e.name);
        EXPECT_EQ(edit->maxLength(), e.maxLength);
        EXPECT_EQ(edit->text(), e.text);
        EXPECT_EQ(shownOnItsPage(edit), e.visible);
    }
}

TEST_F(Inventory, ComboBoxesShowAnyTextAndOfferTheirItems) {
    start();
    QStringList ports = listSerialDevices();
    for (int n = 1; n <= 20; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    const struct {
        const char* name;
        QStringList items;
        const char* text;
    } combos[] = {
        {"Combo_com2_name", ports, "COM1"},
        {"Combo_com2_speed",
         {"300", "1200", "2400", "4800", "9600", "19200", "38400", "115200"},
         "19200"},
        {"Combo_baud",
         {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
         ""},
        {"Combo_parity", {"None", "Even", "Odd"}, ""},
        {"Combo_tcpCommand",
         {"IP address", "Gateway", "Mask", "Control IP #1", "Control IP #2", "Operator IP #1",
          "Operator IP #2", "Operator IP #3", "Operator IP #4", "Net number (optional)"},
         ""},
    };
    for (const auto& c : combos) {
        SCOPED_TRACE(c.name);
        auto* combo = control<QComboBox>(c.name);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(combo->currentText(), c.text);
        EXPECT_TRUE(combo->isEditable());
    }
    EXPECT_EQ(control<QComboBox>("Combo_com2_parity")->currentText(), "Even");
    EXPECT_EQ(control<QComboBox>("Combo_com2_stop")->currentText(), "1");
}

TEST_F(Inventory, PagesInOrderAndTheWindowsCaption) {
    start();
    EXPECT_EQ(form->windowTitle(), "   M-bus/modbus configuration Velgate");
    auto* pages = control<QTabWidget>("PageControl1");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->widget(0)->objectName(), "TabSheet2");
    EXPECT_EQ(pages->tabText(0), "   Settings     ");
    EXPECT_EQ(pages->widget(1)->objectName(), "TabSheet1");
    EXPECT_EQ(pages->tabText(1), "   Quick read/write   ");
    EXPECT_EQ(control<QLabel>("Label4")->text(), "Send custom command");
    EXPECT_EQ(control<QLabel>("Label16")->text(), "Selected: ");
    EXPECT_EQ(control<QLabel>("Label11")->text(), "Selected: ");
    EXPECT_FALSE(shownOnItsPage(control<QLabel>("Label36")));
    EXPECT_FALSE(shownOnItsPage(control<QPlainTextEdit>("Memo_export")));
    auto* progress = control<QWidget>("TabSheet2")->findChild<QProgressBar*>();
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(shownOnItsPage(progress));
}

TEST_F(Inventory, GridsWithHeadersAndWholeRowSelection) {
    start();
    const struct {
        const char* name;
        QStringList headers;
        bool wholeRows;
    } grids[] = {
        {"gridLoops",
         {" ID ", "Addr ", "Mfr ", "Value ", "Unit ", "Medium ", "Status ", "Time "},
         true},
        {"GridDevices",
         {" ID ", "Addr ", "Mfr ", "Medium ", "Unit ", "MValue ", "T1 Value ", "T2 Value ",
          "T3 Value ", "T4 Value ", "Status ", "Main VIF ", "Aux VIFs ",
          "Tarriff Start1/2/3/4-End1/2/3/4 "},
         true},
        {"gridInputRegisters",
         {"Addr. modbus", "High ", "Notes/Decode ", "Low ", "Notes/Decode ", "Time "},
         false},
    };
    for (const auto& g : grids) {
        SCOPED_TRACE(g.name);
        auto* view = control<QTableView>(g.name);
        auto* model = view->model();
        ASSERT_EQ(model->columnCount(), g.headers.size());
        EXPECT_EQ(model->rowCount(), 1) << "one empty row below the header";
        for (int col = 0; col < g.headers.size(); ++col) {
            EXPECT_EQ(model->headerData(col, Qt::Horizontal).toString(), g.headers[col]);
        }
        EXPECT_EQ(view->selectionBehavior() == QAbstractItemView::SelectRows, g.wholeRows);
        EXPECT_FALSE(view->verticalHeader()->isVisible()) << "no fixed column";
    }
}

QStringList entries(const QMenu* menu) {
    QStringList names;
    for (const QAction* action : menu->actions())
        names << action->objectName() + "=" + action->text();
    return names;
}

TEST_F(Inventory, MainMenuAndPopupMenusInOrder) {
    start();
    EXPECT_EQ(control<QAction>("Open1")->text(), "Open mbus file");
    EXPECT_EQ(control<QAction>("Save1")->text(), "Save mbus file");
    EXPECT_EQ(control<QAction>("Exit1")->text(), "Exit");
    EXPECT_EQ(control<QAction>("English1")->text(), "English");
    EXPECT_TRUE(control<QAction>("English1")->isCheckable());
    EXPECT_EQ(control<QAction>("Usermanual1")->text(), "User manual");
    EXPECT_FALSE(control<QAction>("About1")->isVisible());

    EXPECT_EQ(entries(control<QMenu>("ContextMbusMenu")),
              (QStringList{
                  "Read1=Read", "ShowTelegram1=Show telegram", "Removefromtable1=Remove from table",
                  "SetallPrimaryaddresses1=Set all Primary addresses",
                  "ChangePrAddr1=Change Primary", "ChangeMedium1=Change Medium",
                  "Setbaud300bps1=Set baud 300bps", "Setbaud2400bps1=Set baud 2400bps",
                  "Cleartable1=Clear table", "Loadfile1=Load file", "Savefile1=Save file"}));
    EXPECT_EQ(entries(control<QAction>("ChangeMedium1")->menu()),
              (QStringList{"Oil1=Oil", "HotWater1=Hot water", "ColdWater1=Water",
                           "Electricity1=Electricity", "Heat1=Heat", "Gas1=Gas", "NA1=N/A"}));
    EXPECT_EQ(entries(control<QMenu>("ContextModbusMenu")),
              (QStringList{"Activate1=Activate", "ActivateAllintable1=Activate All from table",
                           "Delete1=Delete", "DeleteAll1=Delete All",
                           "Removefromtable2=Remove from table", "Exclude2inputs1=Exclude 2 inputs",
                           "Export1=Export", "Import1=Import", "Cleartable2=Clear table"}));
}

TEST_F(Inventory, TimersAllStoppedWithTheirFirstIntervals) {
    start();
    const struct {
        const char* name;
        int interval;
        bool periodic;
    } timers[] = {
        {"Timer_free_command", 1000, false}, {"Timer_modbus", 1000, false},
        {"Timer_auto", 1000, true},          {"Timer_status", 1000, false},
        {"TimerReadDevices", 1000, false},   {"Timer_mbus", 1000, false},
        {"Timer_mbusRespond", 1000, false},  {"Timer_activateAll", 1000, false},
    };
    for (const auto& t : timers) {
        SCOPED_TRACE(t.name);
        Timer* timer = form->program().timer(t.name);
        ASSERT_NE(timer, nullptr);
        EXPECT_FALSE(timer->isActive());
        EXPECT_EQ(timer->interval(), t.interval);
        EXPECT_EQ(timer->isSingleShot(), !t.periodic);
    }
    EXPECT_EQ(clock.armedTimers(), 0);
}

TEST_F(Inventory, FileDialogsForTableFiles) {
    const FileDialogRequest save = saveDialog1();
    EXPECT_EQ(save.title, "Export file");
    EXPECT_EQ(save.filter, "CSV files (*.csv)");
    EXPECT_EQ(save.defaultSuffix, "csv");
    EXPECT_EQ(openDialog1().filter, "CSV (*.csv)");
}

TEST_F(Inventory, NewAddressDialogHasItsAddressAndButtons) {
    TForm2 dialog;
    EXPECT_FALSE(dialog.isVisible());
    auto* upDown = dialog.findChild<UpDown*>("UD_newAddress");
    ASSERT_NE(upDown, nullptr);
    EXPECT_EQ(upDown->minimum(), 1);
    EXPECT_EQ(upDown->maximum(), 250);
    EXPECT_EQ(upDown->position(), 1);
    EXPECT_EQ(upDown->associate()->objectName(), "Edit1");
    EXPECT_EQ(dialog.findChild<QPushButton*>("ButtonGo")->text(), "Go");
    EXPECT_EQ(dialog.findChild<QPushButton*>("ButtonCancel")->text(), "Cancel");
}

}  // namespace
}  // namespace tarnel
