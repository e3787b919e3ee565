// The main window's side of the M-Bus meter grid: scan, read, selection,
// and the table files of all three grids.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include "app/main_window.h"
#include "app/telegram_window.h"
#include "app/up_down.h"
#include "base/grid_selection.h"
#include "gateway/presenter.h"
#include "gateway/table_files.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "ops/meter_telegrams.h"
#include "ops/primary_scan.h"

namespace tarnel {

void TForm1::wireMbusHandlers() {
    onClick("BitBtn1", &TForm1::BitBtn1Click);
    onClick("BitBtn2", &TForm1::BitBtn2Click);
    onMenu("Read1", &TForm1::Read1Click);
    onMenu("ShowTelegram1", &TForm1::ShowTelegram1Click);
    connect(control<QTableView>("gridLoops"), &QAbstractItemView::doubleClicked, this,
            [this] { guarded([this] { gridLoopsDblClick(); }); });
    onMenu("Removefromtable1", &TForm1::Removefromtable1Click);
    onMenu("Cleartable1", &TForm1::Butt_clear_gridClick);
    onClick("Butt_clear_grid", &TForm1::Butt_clear_gridClick);
    for (const char* name : {"Save1", "Savefile1"})
        onMenu(name, &TForm1::Butt_save_dataClick);
    onClick("Butt_save_data", &TForm1::Butt_save_dataClick);
    for (const char* name : {"Open1", "Loadfile1"})
        onMenu(name, &TForm1::Butt_load_dataClick);
    onClick("Butt_load_data", &TForm1::Butt_load_dataClick);
    onClick("BitBtn16", &TForm1::BitBtn16Click);
    onMenu("Export1", &TForm1::BitBtn16Click);
    onClick("BitBtn8", &TForm1::BitBtn8Click);
    connect(&program_->meterSelection(), &GridSelection::changed, control<QLabel>("Label16"),
            &QLabel::setText);
}

// A right-click selects the row under the mouse, also the current one, before
// the pop-up menu opens; the menu opens only while no scan or search runs.
void TForm1::gridLoopsMouseDown(const QPoint& at) {
    auto* view = control<QTableView>("gridLoops");
    const QModelIndex index = view->indexAt(at);
    if (index.isValid()) program_->meterSelection().select(index.row() + 1);
    if (meterMenuAllowed())
        control<QMenu>("ContextMbusMenu")->popup(view->viewport()->mapToGlobal(at));
}

PrimaryScan::Settings TForm1::scanSettings() const {
    return {slaveAddress(),
            control<UpDown>("UDaddressFrom")->position(),
            control<UpDown>("UDaddressTo")->position(),
            control<UpDown>("UD_timeout")->position(),
            modbusTimeout(),
            control<UpDown>("UD_retry")->position()};
}

bool TForm1::meterMenuAllowed() const {
    return program_->busy().allows(Operation::MeterRequest);
}

bool TForm1::clearTableAsked(Operation operation) const {
    return program_->link().linkUp() && program_->busy().allows(operation) &&
           program_->dialogs().confirm("Clear table", "Do you want to clear the table?");
}

void TForm1::BitBtn1Click() {
    const PrimaryScan::Start range =
        program_->scan().start(scanSettings(), clearTableAsked(Operation::Scan));
    control<UpDown>("UDaddressFrom")->setPosition(range.from);
    control<UpDown>("UDaddressTo")->setPosition(range.to);
}

void TForm1::BitBtn2Click() {
    program_->stopMbus();
}

void TForm1::Read1Click() {
    program_->scan().readMeter(program_->meterSelection().target(), scanSettings());
}

void TForm1::ShowTelegram1Click() {
    showTelegramOf(program_->meterSelection().target());
}

void TForm1::gridLoopsDblClick() {
    showTelegramOf(program_->meterSelection().target());
}

// The meter's last telegram, every record of it; a meter that has not
// answered yet is read first.
void TForm1::showTelegramOf(const MeterTarget& meter) {
    if (meter.row < 1 || meter.id.isEmpty()) return;
    if (!telegramWindow_) {
        telegramWindow_ = new TelegramWindow(this);
        connect(telegramWindow_, &TelegramWindow::readAgain, this,
                [this](const QString& id) { guarded([this, id] { readTelegramAgain(id); }); });
        connect(&program_->telegrams(), &MeterTelegrams::kept, telegramWindow_,
                [this](const QString& id) {
                    if (id == telegramWindow_->meterId())
                        telegramWindow_->showTelegram(id, *program_->telegrams().lastOf(id));
                });
    }
    const auto telegram = program_->telegrams().lastOf(meter.id);
    telegramWindow_->showTelegram(meter.id, telegram.value_or(QByteArray()));
    telegramWindow_->show();
    telegramWindow_->raise();
    if (!telegram) readTelegramAgain(meter.id);
}

// The meter is read at the address its grid row gives now.
void TForm1::readTelegramAgain(const QString& id) {
    const GridModel& grid = program_->gridLoops();
    for (int row = 1; row < grid.rows(); ++row) {
        if (grid.cell(row, 0) != id) continue;
        bool isNumber = false;
        const int address = grid.cell(row, 1).toInt(&isNumber);
        program_->scan().readMeter({row, isNumber ? address : -1, id}, scanSettings());
        return;
    }
}

void TForm1::Removefromtable1Click() {
    program_->gridLoops().removeDataRow(program_->meterSelection().row());
}

void TForm1::Butt_clear_gridClick() {
    try {
        program_->gridLoops().clearData();
    } catch (const std::exception& error) {
        program_->presenter().tell(face_event::TableFault{false, QString::fromUtf8(error.what())});
    }
}

void TForm1::Butt_save_dataClick() {
    ExportGrid(program_->gridLoops(), MbusTableFileName(program_->clock().now().date()),
               program_->dialogs());
}

void TForm1::Butt_load_dataClick() {
    FileDialogRequest request = openDialog1();
    request.folder = program_->dataFolder();
    const QString path = program_->dialogs().openFileName(request);
    if (path.isEmpty()) return;
    Butt_clear_gridClick();
    program_->loadMeterTable(path);
    program_->meterSelection().clear();
}

void TForm1::BitBtn16Click() {
    ExportGrid(program_->gridDevices(), DeviceTableFileName(), program_->dialogs());
}

void TForm1::BitBtn8Click() {
    ExportGrid(program_->gridInputRegisters(), RegisterTableFileName(), program_->dialogs());
}

}  // namespace tarnel
