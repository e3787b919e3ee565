// The main menu and the pop-up menus of the two device grids.
#include <QMainWindow>
#include <QMenuBar>

#include "app/window_parts.h"

namespace tarnel {
namespace {

QAction* item(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

QMenu* popup(QMainWindow& window, const char* name) {
    auto* menu = new QMenu(&window);
    menu->setObjectName(name);
    return menu;
}

void buildMainMenu(QMainWindow& window) {
    QMenuBar* bar = window.menuBar();
    QMenu* file = bar->addMenu("File");
    item(file, "Open1", "Open mbus file");
    item(file, "Save1", "Save mbus file");
    item(file, "ExportPointsList1", "Export points list...");
    item(file, "CommissioningReport1", "Commissioning report...");
    item(file, "Exit1", "Exit");
    QMenu* language = bar->addMenu("Language");
    item(language, "English1", "English")->setCheckable(true);
    QMenu* help = bar->addMenu("Help");
    item(help, "About1", "About")->setVisible(false);
    item(help, "Usermanual1", "User manual");
}

void buildMeterMenu(QMainWindow& window) {
    QMenu* menu = popup(window, "ContextMbusMenu");
    item(menu, "Read1", "Read");
    item(menu, "ShowTelegram1", "Show telegram");
    item(menu, "Removefromtable1", "Remove from table");
    item(menu, "SetallPrimaryaddresses1", "Set all Primary addresses");
    item(menu, "ChangePrAddr1", "Change Primary");
    QMenu* medium = menu->addMenu("Change Medium");
    medium->setObjectName("ChangeMedium1Menu");
    medium->menuAction()->setObjectName("ChangeMedium1");
    item(medium, "Oil1", "Oil");
    item(medium, "HotWater1", "Hot water");
    item(medium, "ColdWater1", "Water");
    item(medium, "Electricity1", "Electricity");
    item(medium, "Heat1", "Heat");
    item(medium, "Gas1", "Gas");
    item(medium, "NA1", "N/A");
    item(menu, "Setbaud300bps1", "Set baud 300bps");
    item(menu, "Setbaud2400bps1", "Set baud 2400bps");
    item(menu, "Cleartable1", "Clear table");
    item(menu, "Loadfile1", "Load file");
    item(menu, "Savefile1", "Save file");
}

void buildDeviceMenu(QMainWindow& window) {
    QMenu* menu = popup(window, "ContextModbusMenu");
    item(menu, "Activate1", "Activate");
    item(menu, "ActivateAllintable1", "Activate All from table");
    item(menu, "Delete1", "Delete");
    item(menu, "DeleteAll1", "Delete All");
    item(menu, "Removefromtable2", "Remove from table");
    item(menu, "Exclude2inputs1", "Exclude 2 inputs");
    item(menu, "Export1", "Export");
    item(menu, "Import1", "Import");
    item(menu, "Cleartable2", "Clear table");
}

}  // namespace

void buildMenus(QMainWindow& window) {
    buildMainMenu(window);
    buildMeterMenu(window);
    buildDeviceMenu(window);
}

}  // namespace tarnel
