#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/table_import.h"
#include "support/fake_dialogs.h"
#include "support/files.h"

namespace tarnel {
namespace {

using Rows = QList<QStringList>;

// Each table's own export, spreadsheets' separators and what is refused.
TEST(TableImport, HeadersAndSeparators) {
    const struct {
        const char* name;
        QByteArray content;
        std::optional<Rows> rows;
    } cases[] = {
        {"the device table's export",
         " ID ;Addr ;Mfr ;Medium ;Unit ;MValue ;\r\n12345678;5;ABC;Water;kWh;10.000;\r\n",
         Rows{{"12345678", "5", "ABC", "Water"}}},
        {"the meter list's export: Medium is its sixth column",
         " ID ;Addr ;Mfr ;Value ;Unit ;Medium ;Status ;Time ;\r\n"
         "45000012;4;ZPA;10.000;kWh;Heat;00;12:00;\r\n",
         Rows{{"45000012", "4", "ZPA", "Heat"}}},
        {"names in another order and case", "medium;ADDR;id;\n Water;7;30201567;\n",
         Rows{{"30201567", "7", "", " Water"}}},
        {"comma-separated with quotes and no trailing comma",
         "ID,Addr,Mfr,Medium\r\n\"12345678\",5,\"A,B\",\"Hot \"\"water\"\"\"\r\n",
         Rows{{"12345678", "5", "A,B", "Hot \"water\""}}},
        {"quoted cells of a semicolon file",
         "ID;Addr;Mfr;Medium;\r\n\"1;2\";5;\"A\"\"B\";\"Hot\r\nwater\";\r\n",
         Rows{{"1;2", "5", "A\"B", "Hot\r\nwater"}}},
        {"the formula guard comes off", "ID;Addr;\n'=1;'-5;\n", Rows{{"=1", "'-5", "", ""}}},
        {"a spreadsheet's byte order mark", "\xEF\xBB\xBFID,Addr\r\n1,2\r\n",
         Rows{{"1", "2", "", ""}}},
        {"commas in a semicolon file are text", "ID;Addr;\n1,5;2;\n", Rows{{"1,5", "2", "", ""}}},
        {"an unnamed header: the first four terminated fields",
         "header;\n12345678;5;ABC;Water;kWh;\n87654321;6\n",
         Rows{{"12345678", "5", "ABC", "Water"}, {"87654321"}}},
        {"8-bit text", "h;\n1;2;W\xE4rme;\n", Rows{{"1", "2", "W\xC3\xA4rme"}}},
        {"a header only", "ID;Addr;\r\n", Rows{}},
        {"empty", "", Rows{}},
        {"a binary file", QByteArray("\x68\x1F\x1F\x68\x08\x00\x72;5;", 10), std::nullopt},
        {"a NUL byte", QByteArray("ID;Addr;\n1;\0;\n", 14), std::nullopt},
        {"named columns without the address", "ID;Mfr;Medium;\n1;ABC;Water;\n", std::nullopt},
        {"the register table's export",
         "Addr. modbus;High ;Notes/Decode ;Low ;Notes/Decode ;Time ;\n1;0;;5;;12:00;\n",
         std::nullopt},
    };
    for (const auto& c : cases) {
        const auto rows = ParseDeviceImport(c.content);
        ASSERT_EQ(rows.has_value(), c.rows.has_value()) << c.name;
        if (rows) {
            EXPECT_EQ(*rows, *c.rows) << c.name;
        }
    }
}

TEST(TableImport, ARefusedFileLeavesTheGridAsItWas) {
    QTemporaryDir dir;
    const QString path = dir.filePath("devices.csv");
    ASSERT_TRUE(test::writeFile(path, QByteArray("\x00\x01\x02;", 4)));
    GridModel grid(devicesGridLayout().headers);
    grid.setRowTexts(1, {"12345678", "5"});
    grid.setRows(3);
    test::FakeDialogs dialogs;
    EXPECT_EQ(ImportDeviceGrid(grid, path, dialogs), TableLoad::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown.back().text, "File is not in correct format!");
    EXPECT_EQ(grid.rows(), 3);
    EXPECT_EQ(grid.cell(1, 0), "12345678");
}

}  // namespace
}  // namespace tarnel
