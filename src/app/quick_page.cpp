// The "Quick read/write" page: the M-Bus meters found on the bus on the left,
// the gateway's table of activated devices on the right.
#include <QPlainTextEdit>
#include <QStyle>

#include "app/form_builder.h"
#include "app/window_parts.h"
#include "gateway/control_ranges.h"
#include "gateway/program.h"

namespace tarnel {
namespace {

using namespace form;

QWidget* meterSide(Program& program) {
    auto* side = new QWidget;
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label("M-bus devices "));
    // Half the page whatever it holds, so that the device side never moves;
    // columns wider than that scroll.
    layout->addWidget(grid("gridLoops", &program.gridLoops(), program.clock(), true), 1);
    layout->addLayout(
        row({label("From:"), spin("editAddressFrom", "UDaddressFrom", 0, 250, 1, 1, 3).row,
             label("to"), spin("editAddressTo", "UDaddressTo", 0, 255, 5, 1, 3).row, nullptr}));
    const Spin scanTime =
        spin("Edit_timeout", "UD_timeout", kScanTimeRange.least, kScanTimeRange.most, 1000, 10, 4);
    const Spin retry = spin("Edit_retry", "UD_retry", kRetryRange.least, kRetryRange.most, 2, 1, 1);
    layout->addLayout(row({label("Scan time,"), scanTime.row, label("in ms"), label("Retry"),
                           retry.row, label("times"), nullptr}));
    layout->addLayout(
        row({button("BitBtn1", "Scan mbus"), button("BitBtn2", "STOP"),
             label("Selected: ", "Label16"), nullptr, hidden(button("Butt_clear_grid", "Clear")),
             hidden(button("Butt_save_data", "Save")), hidden(button("Butt_load_data", "Load"))}));
    layout->addLayout(row({label("Exact or FFFFFFFF"), edit("editID", 8),
                           button("BitBtn21", "Find by ID"), nullptr}));
    layout->addLayout(
        row({label("Set new address"), spin("Edit1", "UD_address", 1, 250, 1, 1, 3).row,
             button("BitBtn23", "Set"), hidden(button("BitBtn25", "Set all addresses")), nullptr}));
    layout->addLayout(row({edit("Edit_valuePulses", 8, "0"), checkBox("Check_valueHEX", "HEX"),
                           checkBox("Check_valueBCD", "BCD", true),
                           button("Button4", "Set new value"), nullptr}));
    return side;
}

QWidget* deviceSide(Program& program) {
    auto* side = new QWidget;
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(
        row({label("Activated Modbus devices"), nullptr, label("Selected: ", "Label11")}));
    layout->addWidget(grid("GridDevices", &program.gridDevices(), program.clock(), true), 1);
    layout->addLayout(row({button("buttonReadModbus", "Read modbus devices"),
                           button("BitBtn19", "Search and activate"),
                           button("BitBtn22", "Read real addresses"), nullptr}));
    auto* memo = new QPlainTextEdit;
    memo->setObjectName("Memo_export");
    layout->addLayout(row(
        {button("BitBtn16", "Export"), button("Butt_activateall", "Activate All from table"),
         button("Butt_import", "Import"), nullptr, hidden(button("BitBtn13", "Clear")),
         hidden(button("BitBtn14", "Write modbus")), hidden(checkBox("checkActivate", "Activate")),
         hidden(checkBox("checkDelete", "Delete")),
         hidden(checkBox("checkdeactivateInputs", "Delete inputs")), hidden(memo)}));
    return side;
}

QWidget* transferButton() {
    auto* copy = button("BitBtn15", QString());
    copy->setIcon(copy->style()->standardIcon(QStyle::SP_ArrowRight));
    copy->setToolTip("Copy the meters into the device table");
    copy->setFixedWidth(32);
    return copy;
}

}  // namespace

QWidget* buildQuickPage(Program& program) {
    auto* page = new QWidget;
    page->setObjectName("TabSheet1");
    auto* layout = new QHBoxLayout(page);
    layout->addWidget(meterSide(program), 1);
    layout->addWidget(transferButton());
    layout->addWidget(deviceSide(program), 1);
    return page;
}

}  // namespace tarnel
