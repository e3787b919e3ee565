// The grids' columns are as wide as their header and their cells need,
// also in the window at its first size, and a column the user dragged keeps
// its width; they are measured at most every 100 ms of the clock.
#include <QCoreApplication>
#include <QHeaderView>
#include <QTest>

#include "base/grid_model.h"
#include "base/virtual_clock.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

// The columns are fitted once the event loop has run and, after a fit,
// 100 ms have passed.
void settle(VirtualClock& clock) {
    QCoreApplication::processEvents();
    clock.advance(100);
    QCoreApplication::processEvents();
}

// Every header reads whole and every cell's text fits its column.
void expectEverythingFits(const QTableView& view) {
    const GridModel& grid = *static_cast<const GridModel*>(view.model());
    for (int col = 0; col < grid.cols(); ++col) {
        SCOPED_TRACE(grid.cell(0, col).toStdString());
        EXPECT_GE(view.columnWidth(col), view.horizontalHeader()->sectionSizeHint(col));
        for (int row = 1; row < grid.rows(); ++row)
            EXPECT_GT(view.columnWidth(col),
                      view.fontMetrics().horizontalAdvance(grid.cell(row, col)))
                << "row " << row;
    }
}

struct GridColumns : ::testing::Test {
    VirtualClock clock;
    GridModel model{{"Addr. modbus", "High ", "Notes/Decode ", "Time "}};
    std::unique_ptr<QTableView> view{form::grid("gridTest", &model, clock, false)};

    void fill(int rows, const QStringList& texts) {
        for (int row = 1; row <= rows; ++row) {
            model.setRowTexts(row, texts);
            model.setRows(row + 2);
        }
    }
};

TEST_F(GridColumns, FitHeadersAndCellsAndNarrowAgainWhenCleared) {
    view->resize(900, 300);
    view->show();
    settle(clock);
    expectEverythingFits(*view);
    QList<int> empty;
    for (int col = 0; col < model.cols(); ++col)
        empty << view->columnWidth(col);

    fill(30,
         {"59500 (0xE86C)", "0x1F", "Manufacturer: KAM, medium: heat, version 0x34", "12:00:01"});
    settle(clock);
    expectEverythingFits(*view);
    EXPECT_GT(view->columnWidth(2), empty[2]) << "the long decode widened its column";

    model.clearData();
    settle(clock);
    for (int col = 0; col < model.cols(); ++col)
        EXPECT_EQ(view->columnWidth(col), empty[col]);
}

// Cells that change within 100 ms of a fit are measured when the 100 ms
// are up, not before.
TEST_F(GridColumns, AreMeasuredAtMostOnceIn100Milliseconds) {
    view->resize(900, 300);
    view->show();
    settle(clock);
    fill(1, {"1", "2", "3", "4"});
    QCoreApplication::processEvents();  // 100 ms after the last fit: fitted at once
    const int before = view->columnWidth(2);
    const QString wide = "a cell far wider than its column was";
    model.setRowTexts(2, {"1", "2", wide, "4"});
    model.setRows(4);
    QCoreApplication::processEvents();
    clock.advance(99);
    EXPECT_EQ(view->columnWidth(2), before);
    clock.advance(1);
    EXPECT_GT(view->columnWidth(2), view->fontMetrics().horizontalAdvance(wide));
}

TEST_F(GridColumns, AHiddenGridFitsToo) {
    fill(3, {"1", "2", "a longer text than the header", "4"});
    settle(clock);
    expectEverythingFits(*view);
}

TEST_F(GridColumns, AColumnTheUserDraggedKeepsItsWidth) {
    view->resize(900, 300);
    view->show();
    settle(clock);
    QHeaderView* header = view->horizontalHeader();
    const int edge = header->sectionViewportPosition(1) + header->sectionSize(1) - 1;
    const int middle = header->height() / 2;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, {edge, middle});
    QTest::mouseMove(header->viewport(), {edge + 60, middle});
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, {edge + 60, middle});
    const int dragged = view->columnWidth(1);
    ASSERT_GT(dragged, header->sectionSizeHint(1) + 30) << "the drag reached the header";

    fill(5, {"a cell far wider than its column was", "2", "3", "4"});
    settle(clock);
    EXPECT_EQ(view->columnWidth(1), dragged);
    EXPECT_GT(view->columnWidth(0),
              view->fontMetrics().horizontalAdvance("a cell far wider than its column was"))
        << "the others still fit";
    model.clearData();
    settle(clock);
    EXPECT_EQ(view->columnWidth(1), dragged);
    EXPECT_EQ(view->columnWidth(0), header->sectionSizeHint(0));
}

using WindowGrids = test::WindowTest;

TEST_F(WindowGrids, NoHeaderIsCutAtTheWindowsFirstSize) {
    start();
    settle(clock);
    for (const char* name : {"gridLoops", "GridDevices", "gridInputRegisters"}) {
        SCOPED_TRACE(name);
        expectEverythingFits(*control<QTableView>(name));
    }
}

}  // namespace
}  // namespace tarnel
