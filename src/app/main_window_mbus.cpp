// The main window's side of the M-Bus meter grid: scan, read, selection,
// and the table files of all three grids.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include "app/main_window.h"
#include "app/up_down.h"
#include "gateway/table_files.h"
#include "ops/primary_scan.h"

namespace tarnel {
namespace {

// The buttons a running scan keeps from starting another operation.
const char* const kScanExclusive[] = {"BitBtn1",  "BitBtn19",        "buttonReadModbus",
                                      "BitBtn22", "BitBtn21",        "BitBtn23",
                                      "Button4",  "Butt_activateall"};

}  // namespace

void TForm1::wireMbusHandlers() {
    PrimaryScan& scan = program_->scan();
    onClick("BitBtn1", &TForm1::BitBtn1Click);
    onClick("BitBtn2", &TForm1::BitBtn2Click);
    onMenu("Read1", &TForm1::Read1Click);
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

    connect(&scan, &PrimaryScan::scanControlsEnabled, this, [this](bool enabled) {
        for (const char* name : kScanExclusive)
            control<QPushButton>(name)->setEnabled(enabled);
        if (enabled) control<QLineEdit>("editID")->setEnabled(true);
    });
    connect(&scan, &PrimaryScan::selectionChanged, control<QLabel>("Label16"), &QLabel::setText);
    // The highlighted row is the grid's current row, whoever moved it (the
    // keyboard, the mouse, the search's decoder): the selection follows it.
    connect(&program_->gridLoops(), &GridModel::currentRowChanged, this, [this](int row) {
        if (row >= 1) program_->scan().selectRow(row);
    });
}

// A right-click selects the row under the mouse, also the current one, before
// the pop-up menu opens; the menu opens only while no scan or search runs.
void TForm1::gridLoopsMouseDown(const QPoint& at) {
    auto* view = control<QTableView>("gridLoops");
    const QModelIndex index = view->indexAt(at);
    if (index.isValid()) {
        view->selectRow(index.row());
        program_->scan().selectRow(index.row() + 1);
    }
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
    return program_->job().searchIdle && !program_->job().scanRunning;
}

void TForm1::BitBtn1Click() {
    const auto [from, to] = program_->scan().start(scanSettings());
    control<UpDown>("UDaddressFrom")->setPosition(from);
    control<UpDown>("UDaddressTo")->setPosition(to);
}

void TForm1::BitBtn2Click() {
    program_->scan().stop();
    program_->search().stop();
}

void TForm1::Read1Click() {
    program_->scan().readSelected(scanSettings());
}

void TForm1::Removefromtable1Click() {
    program_->scan().removeSelectedRow();
}

void TForm1::Butt_clear_gridClick() {
    try {
        program_->scan().clearGrid();
    } catch (const std::exception& error) {
        program_->log().append(QStringLiteral("Exception - ") + QString::fromUtf8(error.what()));
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
    LoadMbusGrid(program_->gridLoops(), path, program_->dialogs());
    program_->scan().clearSelection();
}

void TForm1::BitBtn16Click() {
    ExportGrid(program_->gridDevices(), DeviceTableFileName(), program_->dialogs());
}

void TForm1::BitBtn8Click() {
    ExportGrid(program_->gridInputRegisters(), RegisterTableFileName(), program_->dialogs());
}

}  // namespace tarnel
