// The main window's side of the gateway's device table: the read-out, the
// single commands and their selector boxes, the grid's pop-up menu and
// selection, the transfer from the meter grid, import and bulk activation.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include "app/main_window.h"
#include "app/up_down.h"
#include "base/box_number.h"
#include "base/grid_selection.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/presenter.h"
#include "gateway/table_files.h"
#include "link/gateway_link.h"

namespace tarnel {
namespace {

const char* const kSelectorBoxes[] = {"checkActivate", "checkDelete", "checkdeactivateInputs"};

// New rows are seen from their first columns (ID, address), wherever the
// grid was scrolled to before.
void showFromTheStart(QTableView* grid) {
    grid->scrollToTop();
    grid->horizontalScrollBar()->setValue(0);
}

}  // namespace

void TForm1::wireDeviceHandlers() {
    onClick("buttonReadModbus", &TForm1::buttonReadModbusClick);
    onClick("BitBtn14", &TForm1::BitBtn14Click);
    onClick("BitBtn22", &TForm1::BitBtn22Click);
    onClick("BitBtn19", &TForm1::BitBtn19Click);
    onClick("BitBtn15", &TForm1::BitBtn15Click);
    onClick("BitBtn13", &TForm1::BitBtn13Click);
    onClick("Butt_import", &TForm1::Butt_importClick);
    onClick("Butt_activateall", &TForm1::Butt_activateallClick);
    onMenu("Activate1", &TForm1::Activate1Click);
    onMenu("ActivateAllintable1", &TForm1::Butt_activateallClick);
    onMenu("Delete1", &TForm1::Delete1Click);
    onMenu("DeleteAll1", &TForm1::DeleteAll1Click);
    onMenu("Removefromtable2", &TForm1::Removefromtable2Click);
    onMenu("Exclude2inputs1", &TForm1::Exclude2inputs1Click);
    onMenu("Import1", &TForm1::Butt_importClick);
    onMenu("ExportPointsList1", &TForm1::ExportPointsList1Click);
    onMenu("CommissioningReport1", &TForm1::CommissioningReport1Click);
    onMenu("Cleartable2", &TForm1::BitBtn13Click);

    // At most one selector box is checked.
    for (const char* name : kSelectorBoxes)
        connect(control<QCheckBox>(name), &QCheckBox::toggled, this, [this, name](bool checked) {
            if (!checked) return;
            for (const char* other : kSelectorBoxes)
                if (QLatin1String(other) != QLatin1String(name))
                    control<QCheckBox>(other)->setChecked(false);
        });

    DeviceTable& table = program_->deviceTable();
    connect(control<QCheckBox>("Check_v2"), &QCheckBox::toggled, &table, &DeviceTable::setVersion2);
    table.setVersion2(control<QCheckBox>("Check_v2")->isChecked());
    connect(&program_->deviceSelection(), &GridSelection::changed, control<QLabel>("Label11"),
            &QLabel::setText);
    connect(&program_->bulkActivation(), &BulkActivation::captionChanged,
            control<QPushButton>("Butt_activateall"), &QPushButton::setText);
}

DeviceTable::Settings TForm1::deviceSettings() const {
    return {slaveAddress(), modbusTimeout(), control<UpDown>("UD_timeout")->position()};
}

void TForm1::buttonReadModbusClick() {
    program_->deviceTable().readDevices(deviceSettings());
}

void TForm1::BitBtn14Click() {
    program_->deviceTable().write({control<QCheckBox>("checkActivate")->isChecked(),
                                   control<QCheckBox>("checkDelete")->isChecked(),
                                   control<QCheckBox>("checkdeactivateInputs")->isChecked()},
                                  program_->deviceSelection().target(), deviceSettings());
}

void TForm1::Activate1Click() {
    control<QCheckBox>("checkActivate")->setChecked(true);
    BitBtn14Click();
}

// The grid highlights one row, the one deleted; the question names it.
void TForm1::Delete1Click() {
    control<QCheckBox>("checkDelete")->setChecked(true);
    control<QCheckBox>("checkActivate")->setChecked(false);
    const MeterTarget device = program_->deviceSelection().target();
    const QString question =
        device.address < 0 ? QStringLiteral("Are you sure you want to DELETE Device?")
                           : QStringLiteral("Delete device %1 (ID %2) from the gateway's table?")
                                 .arg(device.address)
                                 .arg(device.id);
    if (!program_->dialogs().confirm("Delete Confirmation", question)) return;
    program_->deviceTable().deleteMeter(program_->deviceSelection().target(), deviceSettings());
}

// Asked only over a link that is up; else the delete says the port is closed.
void TForm1::DeleteAll1Click() {
    if (program_->link().linkUp() &&
        !program_->dialogs().confirm("Delete Confirmation", "Are you sure you want to DELETE ALL?"))
        return;
    program_->deviceTable().deleteAll(deviceSettings());
}

void TForm1::Exclude2inputs1Click() {
    control<QCheckBox>("checkDelete")->setChecked(false);
    control<QCheckBox>("checkActivate")->setChecked(false);
    control<QCheckBox>("checkdeactivateInputs")->setChecked(true);
    BitBtn14Click();
}

void TForm1::Removefromtable2Click() {
    program_->gridDevices().removeDataRow(program_->deviceSelection().row());
}

void TForm1::BitBtn13Click() {
    program_->gridDevices().clearData();
}

void TForm1::BitBtn15Click() {
    try {
        program_->deviceTable().copyFromMeterGrid();
        showFromTheStart(control<QTableView>("GridDevices"));
    } catch (const std::exception& error) {
        program_->presenter().tell(face_event::TableFault{true, QString::fromUtf8(error.what())});
    }
}

void TForm1::BitBtn22Click() {
    program_->deviceTable().readRealAddresses(deviceSettings());
}

// "Search and activate": the new-address box must hold a number below 255.
void TForm1::BitBtn19Click() {
    program_->deviceTable().searchAndActivate(
        slaveAddress(), BoxNumber(control<QLineEdit>("Edit_address")->text(), 255));
}

void TForm1::Butt_importClick() {
    FileDialogRequest request = openDialog1();
    request.folder = program_->dataFolder();
    const QString path = program_->dialogs().openFileName(request);
    if (path.isEmpty()) return;
    if (program_->importDeviceTable(path) == TableLoad::Loaded)
        showFromTheStart(control<QTableView>("GridDevices"));
    program_->deviceSelection().clear();
}

// The same button starts a run and stops the one that runs.
void TForm1::Butt_activateallClick() {
    BulkActivation& bulk = program_->bulkActivation();
    if (bulk.running()) return bulk.stop();
    bulk.start({.slave = slaveAddress(),
                .scanTimeMs = control<UpDown>("UD_timeout")->position(),
                .retries = control<UpDown>("UD_retry")->position()});
}

}  // namespace tarnel
