#include "mbus/loops_grid.h"

#include <gtest/gtest.h>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "support.h"
#include "telegrams.h"

namespace tarnel {
namespace {

LoopsRow meter(const char* id, const char* address, const char* value = "1.000") {
    return {id, address, "ABC", value, "m3", "Water", "00", "10:00:00"};
}

struct LoopsGrid : ::testing::Test {
    GridModel grid{loopsGridLayout().headers};
};

TEST_F(LoopsGrid, DuringAScanEveryReplyBecomesANewRow) {
    UpdateLoopsGrid(grid, meter("11111111", "1"), LoopsUpdate::Append);
    UpdateLoopsGrid(grid, meter("22222222", "2"), LoopsUpdate::Append);
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.cell(1, 0), "11111111");
    EXPECT_EQ(grid.cell(2, 1), "2");
    EXPECT_EQ(grid.cell(3, 0), "") << "the grid ends in one empty row";
    EXPECT_EQ(grid.currentRow(), 0) << "a scan leaves the selection alone";
}

TEST_F(LoopsGrid, AFullGridOverwritesItsLastRow) {
    grid.setRows(kMaxLoopsRows);
    UpdateLoopsGrid(grid, meter("33333333", "3"), LoopsUpdate::Append);
    UpdateLoopsGrid(grid, meter("44444444", "4"), LoopsUpdate::Append);
    EXPECT_EQ(grid.rows(), 250);
    EXPECT_EQ(grid.cell(249, 0), "44444444");
}

TEST_F(LoopsGrid, TheSearchUpdatesEveryRowWithTheSameId) {
    for (const char* address : {"7", "8"})
        UpdateLoopsGrid(grid, meter("12345678", address), LoopsUpdate::Append);
    UpdateLoopsGrid(grid, meter("12345678", "9", "2.000"), LoopsUpdate::ById);
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.cell(1, 3), "2.000");
    EXPECT_EQ(grid.cell(2, 3), "2.000");
    EXPECT_EQ(grid.currentRow(), 2) << "the row further down is selected";
}

TEST_F(LoopsGrid, TheSearchAddsANewMeterAtTheEnd) {
    UpdateLoopsGrid(grid, meter("12345678", "x"), LoopsUpdate::ById);
    EXPECT_EQ(grid.currentRow(), 1);
    UpdateLoopsGrid(grid, meter("87654321", "12"), LoopsUpdate::ById);
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.cell(2, 0), "87654321");
    EXPECT_EQ(grid.currentRow(), 2) << "the new meter's row is the selected one";
}

TEST_F(LoopsGrid, ASingleReadUpdatesTheRowsOfItsAddressOnly) {
    UpdateLoopsGrid(grid, meter("11111111", "1"), LoopsUpdate::Append);
    UpdateLoopsGrid(grid, meter("22222222", "2"), LoopsUpdate::Append);
    UpdateLoopsGrid(grid, meter("11111111", "1", "5.000"), LoopsUpdate::ByAddress);
    EXPECT_EQ(grid.cell(1, 3), "5.000");
    EXPECT_EQ(grid.cell(2, 3), "1.000");
    UpdateLoopsGrid(grid, meter("99999999", "9"), LoopsUpdate::ByAddress);
    EXPECT_EQ(grid.rows(), 4) << "an address that is not listed changes nothing";
}

TEST_F(LoopsGrid, ADecodedReplyGivesItsLinesAndItsRow) {
    const DecodedTelegram decoded =
        DecodeLoopsTelegram(test::bytes(test::kFabricationThenVolume),
                            QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5)));
    ASSERT_TRUE(decoded.ok && decoded.row);
    const QStringList lines = DecoderLines(decoded);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Respond: 68 1B 1B 68 "));
    EXPECT_EQ(lines[1], "Fabr. No. first...");
    EXPECT_EQ(LoopsRowTexts(*decoded.row),
              (QStringList{"12345678", "5", "ABC", "10.000", "m3", "Water", "00", "09:30:05"}));
    const DecodedTelegram failed = DecodeLoopsTelegram(test::bytes("E5"), QDateTime());
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.row) << "a failed reply gives no row";
}

TEST(LoopsRowTexts, EightBitCharactersAreLatin1) {
    LoopsRow row = meter("12345678", "1");
    row[4] =
        "VIF is user ASCII string: \xB0"
        "C";
    EXPECT_EQ(LoopsRowTexts(row)[4], QString::fromUtf8("VIF is user ASCII string: °C"));
}

}  // namespace
}  // namespace tarnel
