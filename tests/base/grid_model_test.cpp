#include "base/grid_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace tarnel {
namespace {

const QStringList kHeaders{"Addr. modbus", "High ",         "Notes/Decode ",
                           "Low ",         "Notes/Decode ", "Time "};

TEST(GridModel, StartsWithTheHeaderRowAndOneEmptyRow) {
    GridModel grid(kHeaders);
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.cols(), 6);
    EXPECT_EQ(grid.rowTexts(0), kHeaders);
    EXPECT_EQ(grid.rowTexts(1), QStringList(6, QString()));
    EXPECT_EQ(grid.currentRow(), 0);
}

TEST(GridModel, AppendingWritesTheLastRowThenAddsOne) {
    GridModel grid(kHeaders);
    for (int reg = 1; reg <= 3; ++reg) {
        const int last = grid.rows() - 1;
        grid.setCell(last, 0, QString::number(reg));
        grid.setRows(grid.rows() + 1);
    }
    EXPECT_EQ(grid.rows(), 5);
    EXPECT_EQ(grid.cell(3, 0), "3");
    EXPECT_EQ(grid.cell(4, 0), "");
}

TEST(GridModel, CellsOutsideTheGridReadEmptyAndIgnoreWrites) {
    GridModel grid(kHeaders);
    grid.setCell(2, 0, "x");
    grid.setCell(1, 6, "x");
    grid.setCell(-1, 0, "x");
    EXPECT_EQ(grid.cell(2, 0), "");
    EXPECT_EQ(grid.cell(1, 6), "");
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.rowTexts(7), QStringList(6, QString()));
}

TEST(GridModel, ShrinkingKeepsTheHeaderAndMovesTheCurrentRowBack) {
    GridModel grid(kHeaders);
    grid.setRows(10);
    grid.setCell(9, 1, "last");
    grid.setCurrentRow(9);
    grid.setRows(0);
    EXPECT_EQ(grid.rows(), 1);
    EXPECT_EQ(grid.rowTexts(0), kHeaders);
    EXPECT_EQ(grid.currentRow(), 0);
    grid.setRows(10);
    EXPECT_EQ(grid.cell(9, 1), "") << "rows cut off come back empty";
}

TEST(GridModel, ClearDataLeavesHeaderAndOneEmptyRow) {
    GridModel grid(kHeaders);
    grid.setRows(4);
    grid.setCell(1, 0, "1");
    grid.setCell(3, 5, "10:00:00");
    grid.clearData();
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.rowTexts(1), QStringList(6, QString()));
    EXPECT_EQ(grid.rowTexts(0), kHeaders);
}

TEST(GridModel, ViewsSeeTheHeaderRowAsHeaderAndDataRowsShiftedByOne) {
    GridModel grid(kHeaders);
    grid.setRows(3);
    grid.setCell(2, 3, "0A");
    EXPECT_EQ(grid.rowCount(), 2);
    EXPECT_EQ(grid.columnCount(), 6);
    EXPECT_EQ(grid.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "High ");
    EXPECT_EQ(grid.data(grid.index(1, 3), Qt::DisplayRole).toString(), "0A");

    QSignalSpy headerSpy(&grid, &GridModel::headerDataChanged);
    QSignalSpy dataSpy(&grid, &GridModel::dataChanged);
    grid.setCell(0, 2, "Decoded");
    grid.setCell(1, 2, "x");
    EXPECT_EQ(headerSpy.count(), 1);
    ASSERT_EQ(dataSpy.count(), 1);
    EXPECT_EQ(dataSpy.at(0).at(0).toModelIndex(), grid.index(0, 2));
}

}  // namespace
}  // namespace tarnel
