// libFuzzer target over the readers of table files: the load of the M-Bus
// meter grid and the import of the device grid, both from the input as a
// file. The load keeps at most 50 characters a field; the import fills no
// column past the fourth.
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "fuzz_input.h"
#include "gateway/table_files.h"
#include "gateway/table_import.h"
#include "support/fake_dialogs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    const QString path = fuzz::InputFile(fuzz::Bytes(data, size), "table.csv");
    test::FakeDialogs dialogs;
    GridModel meters{loopsGridLayout().headers};
    LoadMbusGrid(meters, path, dialogs);
    for (int row = 1; row < meters.rows(); ++row)
        for (const QString& cell : meters.rowTexts(row))
            fuzz::Check(cell.size() <= 50);
    GridModel devices{devicesGridLayout().headers};
    ImportDeviceGrid(devices, path, dialogs);
    for (int row = 1; row < devices.rows(); ++row)
        for (int col = 4; col < devices.cols(); ++col)
            fuzz::Check(devices.cell(row, col).isEmpty());
    return 0;
}
