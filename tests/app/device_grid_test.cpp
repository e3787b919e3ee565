// The device grid's selection: the row clicked gives "Selected: " and is the
// one row highlighted, Ctrl-click and double-click included: what is
// highlighted is what is acted on.
#include <QCoreApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "base/grid_model.h"
#include "base/grid_selection.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

struct DeviceGrid : test::WindowTest {
    QTableView* view() const { return control<QTableView>("GridDevices"); }
    void fill(int rows) {
        GridModel& grid = form->program().gridDevices();
        grid.setRows(rows + 2);
        for (int row = 1; row <= rows; ++row)
            grid.setRowTexts(row, {QString::number(10000000 + row), QString::number(row)});
    }
    void click(int viewRow, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPoint at = view()->visualRect(view()->model()->index(viewRow, 1)).center();
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, modifiers, at);
    }
    int highlighted() const {
        return static_cast<int>(view()->selectionModel()->selectedRows().size());
    }
};

TEST_F(DeviceGrid, ClickCtrlClickAndDoubleClick) {
    start();
    fill(3);
    click(1);
    EXPECT_EQ(control<QLabel>("Label11")->text(), "Selected: 2");
    EXPECT_EQ(form->program().deviceSelection().address(), 2);
    click(2, Qt::ControlModifier);
    EXPECT_EQ(highlighted(), 1);
    EXPECT_EQ(form->program().deviceSelection().address(), 3);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier,
                       view()->visualRect(view()->model()->index(0, 1)).center());
    EXPECT_EQ(highlighted(), 1);
    EXPECT_EQ(form->program().deviceSelection().address(), 1);
    form->Delete1Click();  // answered No
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, "Delete device 1 (ID 10000001) from the gateway's table?");
}

// The meter grid's content never moves the device side of the page.
TEST_F(DeviceGrid, TheDeviceSideStaysPutWhateverTheMeterGridHolds) {
    start();
    const auto left = [this] {
        QCoreApplication::processEvents();
        clock.advance(100);
        QCoreApplication::processEvents();
        return control<QWidget>("BitBtn15")->mapTo(form.get(), QPoint()).x();
    };
    const int empty = left();
    GridModel& meters = form->program().gridLoops();
    meters.setRows(3);
    meters.setRowTexts(1, {"12345678", "1", "ABC", QString(40, '9'), "m3", "Water", "00", "12:00"});
    EXPECT_EQ(left(), empty);
    meters.clearData();
    EXPECT_EQ(left(), empty);
}

TEST_F(DeviceGrid, RemovingWithoutASelectionKeepsEveryRow) {
    start();
    fill(2);
    form->Removefromtable2Click();
    EXPECT_EQ(form->program().gridDevices().rows(), 4);
    click(0);
    form->Removefromtable2Click();
    EXPECT_EQ(form->program().gridDevices().rows(), 3);
    EXPECT_EQ(form->program().gridDevices().cell(1, 1), "2");
    EXPECT_EQ(control<QLabel>("Label11")->text(), "Selected: -1");
}

}  // namespace
}  // namespace tarnel
