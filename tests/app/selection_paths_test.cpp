// Both grids' selection through the window: whatever moves the highlight
// (a click, the current row clicked again, the keyboard, a right-click, the
// search's decoder, a transfer, Import, Load, Remove, Clear), the label, the
// highlighted row and the target a change is sent to stay equal.
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "base/grid_selection.h"
#include "mbus/loops_grid.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

struct Grid {
    const char* view;
    const char* label;
    GridSelection& (Program::*selection)();
    GridModel& (Program::*model)();
};
const Grid kMeters{"gridLoops", "Label16", &Program::meterSelection, &Program::gridLoops};
const Grid kDevices{"GridDevices", "Label11", &Program::deviceSelection, &Program::gridDevices};

struct SelectionPaths : test::WindowTest {
    QTableView* view(const Grid& grid) const { return control<QTableView>(grid.view); }
    void fill(const Grid& grid) {
        GridModel& model = (form->program().*grid.model)();
        model.setRows(5);
        for (int row = 1; row <= 3; ++row)
            model.setRowTexts(row, {QString::number(11111111 * row), QString::number(row)});
    }
    QPoint centre(const Grid& grid, int viewRow) const {
        return view(grid)->visualRect(view(grid)->model()->index(viewRow, 1)).center();
    }
    void click(const Grid& grid, int viewRow) {
        QTest::mouseClick(view(grid)->viewport(), Qt::LeftButton, Qt::NoModifier,
                          centre(grid, viewRow));
    }
    QString csv(const char* name, const QByteArray& content) const {
        const QString path = folder.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return path;
    }
    // The label, the highlight and the target all name `address` (-1: none).
    void expectSelected(const Grid& grid, int address, const char* path) {
        SCOPED_TRACE(path);
        const MeterTarget target = (form->program().*grid.selection)().target();
        EXPECT_EQ(control<QLabel>(grid.label)->text(), QStringLiteral("Selected: %1").arg(address));
        EXPECT_EQ(target.address, address);
        const QModelIndexList rows = view(grid)->selectionModel()->selectedRows();
        if (address < 0) {
            EXPECT_TRUE(rows.isEmpty() || target.row == rows.front().row() + 1);
            return;
        }
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows.front().row() + 1, target.row);
        EXPECT_EQ(target.id, QString::number(11111111 * address));
    }
};

TEST_F(SelectionPaths, TheLabelTheHighlightAndTheTargetStayEqual) {
    start();
    for (const Grid* grid : {&kMeters, &kDevices}) {
        GridModel& model = (form->program().*grid->model)();
        fill(*grid);
        click(*grid, 1);
        expectSelected(*grid, 2, "a click");
        QTest::keyClick(view(*grid), Qt::Key_Down);
        expectSelected(*grid, 3, "the keyboard");
        model.setCurrentRow(0);  // a decoder or a load moved the model's row away
        click(*grid, 2);
        expectSelected(*grid, 3, "the current row clicked again");
        model.setRowTexts(3, {"33333333", "x"});
        expectSelected(*grid, -1, "the row rewritten under the highlight");
        model.setRowTexts(3, {"33333333", "3"});
        expectSelected(*grid, 3, "the row rewritten back");
        (grid == &kMeters ? form->Removefromtable1Click() : form->Removefromtable2Click());
        expectSelected(*grid, -1, "Remove");
        EXPECT_EQ(model.cell(3, 0), "");
        click(*grid, 0);
        (grid == &kMeters ? form->Butt_clear_gridClick() : form->BitBtn13Click());
        expectSelected(*grid, -1, "Clear");
    }
    fill(kMeters);
    form->gridLoopsMouseDown(centre(kMeters, 0));
    expectSelected(kMeters, 1, "a right-click");
}

TEST_F(SelectionPaths, FilesTransfersAndTheDecoderSelectWhatTheyShow) {
    start();
    fill(kMeters);
    click(kMeters, 2);
    // A meter the search lists for the first time becomes the selected row.
    LoopsRow found{"44444444", "4", "ABC", "1.000", "m3", "Water", "00", "10:00:00"};
    UpdateLoopsGrid(form->program().gridLoops(), found, LoopsUpdate::ById);
    EXPECT_EQ(control<QLabel>("Label16")->text(), "Selected: 4");
    EXPECT_EQ(view(kMeters)->selectionModel()->selectedRows().value(0).row(), 3);

    click(kDevices, 0);
    form->BitBtn15Click();
    expectSelected(kDevices, -1, "the transfer");
    click(kDevices, 0);
    expectSelected(kDevices, 1, "a click after the transfer");

    dialogs.fileNames = {csv("import.csv", "ID;Addr;\n22222222;2;\n")};
    form->Butt_importClick();
    expectSelected(kDevices, -1, "Import");
    click(kDevices, 0);
    expectSelected(kDevices, 2, "a click after Import");

    dialogs.fileNames = {csv("load.csv", "33333333;3;;;;;;;\n")};
    form->Butt_load_dataClick();
    expectSelected(kMeters, -1, "Load");
    click(kMeters, 0);
    expectSelected(kMeters, 3, "a click after Load");
}

}  // namespace
}  // namespace tarnel
