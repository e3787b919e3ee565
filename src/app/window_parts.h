#pragma once

class QMainWindow;
class QWidget;

namespace tarnel {

class Program;

// The parts of the main window, each built with its named controls.
QWidget* buildSettingsPage(Program& program);
QWidget* buildQuickPage(Program& program);
QWidget* buildConsoleAndLog();
// The main menu and the two pop-up menus (owned by the window).
void buildMenus(QMainWindow& window);

}  // namespace tarnel
