// The meter grid's highlighted row, the selected row and address, and the
// "Selected: " label always agree.
#include <QLabel>
#include <QTableView>

#include "window_fixture.h"

namespace tarnel {
namespace {

struct MeterSelection : test::WindowTest {
    QTableView* view() const { return control<QTableView>("gridLoops"); }
    QString label() const { return control<QLabel>("Label16")->text(); }
    void fill() {
        GridModel& grid = form->program().gridLoops();
        grid.setRows(4);
        grid.setRowTexts(1, {"11111111", "1"});
        grid.setRowTexts(2, {"22222222", "2"});
        grid.setRowTexts(3, {"33333333", "3"});
    }
    QPoint centreOfRow(int viewRow) const {
        return view()->visualRect(view()->model()->index(viewRow, 1)).center();
    }
};

TEST_F(MeterSelection, RemovingARowClearsTheSelectionEverywhere) {
    start();
    fill();
    view()->selectRow(1);
    EXPECT_EQ(label(), "Selected: 2");
    form->Removefromtable1Click();
    EXPECT_EQ(label(), "Selected: -1");
    EXPECT_FALSE(view()->selectionModel()->hasSelection());
    EXPECT_EQ(form->program().job().selectedAddress, -1);
    EXPECT_EQ(form->program().gridLoops().cell(2, 0), "33333333");
}

TEST_F(MeterSelection, ARightClickSelectsTheRowUnderTheMouseEvenTheCurrentOne) {
    start();
    fill();
    view()->selectRow(0);
    form->program().job().selectedAddress = 9;  // out of step, as after an older fault
    form->gridLoopsMouseDown(centreOfRow(0));
    EXPECT_EQ(label(), "Selected: 1");
    EXPECT_EQ(form->program().job().selectedAddress, 1);
    form->gridLoopsMouseDown(centreOfRow(2));
    EXPECT_EQ(label(), "Selected: 3");
    EXPECT_EQ(form->program().job().selectedRow, 3);
    EXPECT_EQ(view()->currentIndex().row(), 2);
}

}  // namespace
}  // namespace tarnel
