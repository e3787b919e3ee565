#include "gateway/table_files.h"

#include <gtest/gtest.h>

#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/gateway_lines.h"
#include "gateway/table_import.h"
#include "mbus/loops_grid.h"
#include "support/fake_dialogs.h"
#include "support/python_csv.h"

namespace tarnel {
namespace {

struct TableFiles : ::testing::Test {
    QTemporaryDir folder;
    test::FakeDialogs dialogs;
    GridModel loops{loopsGridLayout().headers};

    QString exportTo(const GridModel& grid, const QString& name,
                     const QString& suggested = "x.csv") {
        const QString path = folder.filePath(name);
        dialogs.fileNames = {path};
        ExportGrid(grid, suggested, dialogs);
        return path;
    }
    void load(const QByteArray& content) {
        const QString path = folder.filePath("in.csv");
        ASSERT_TRUE(test::writeFile(path, content));
        loops.clearData();
        LoadMbusGrid(loops, path, dialogs);
    }
};

TEST_F(TableFiles, ExportWritesEveryCellWithItsSemicolonAndCrLf) {
    GridModel devices(devicesGridLayout().headers);
    devices.setRowTexts(1, {"12345678", "5", "ABC"});
    devices.setRows(3);
    const QString path = exportTo(devices, "mdb.csv", DeviceTableFileName());
    EXPECT_EQ(dialogs.fileRequests.at(0).fileName, "mdb_data.csv");
    EXPECT_EQ(dialogs.fileRequests.at(0).title, "Export file");
    const QByteArray expected =
        " ID ;Addr ;Mfr ;Medium ;Unit ;MValue ;T1 Value ;T2 Value ;T3 Value ;T4 Value ;Status "
        ";Main VIF ;"
        "Aux VIFs ;Tarriff Start1/2/3/4-End1/2/3/4 ;\r\n"
        "12345678;5;ABC;;;;;;;;;;;;\r\n"
        ";;;;;;;;;;;;;;\r\n";
    EXPECT_EQ(test::readFile(path), expected);
}

TEST_F(TableFiles, RegisterAndMeterGridsAndTheirNames) {
    GridModel registers(registersGridLayout().headers);
    EXPECT_EQ(
        test::readFile(exportTo(registers, "r.csv")),
        QByteArray("Addr. modbus;High ;Notes/Decode ;Low ;Notes/Decode ;Time ;\r\n;;;;;;\r\n"));
    EXPECT_EQ(RegisterTableFileName(), "modbusUR.csv");
    const QString name = MbusTableFileName(QDate(2026, 12, 7));
    EXPECT_TRUE(name.startsWith("mbus_data_"));
    EXPECT_TRUE(name.endsWith(".csv"));
    EXPECT_FALSE(name.contains('/')) << name.toStdString();
}

TEST_F(TableFiles, ACancelledDialogWritesNothing) {
    dialogs.fileNames = {QString()};
    ExportGrid(loops, "x.csv", dialogs);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(TableFiles, AReadOnlyTargetKeepsItsContentAndSaysSo) {
    const QString path = folder.filePath("locked.csv");
    ASSERT_TRUE(test::writeFile(path, "old"));
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
    exportTo(loops, "locked.csv");
    EXPECT_EQ(test::readFile(path), "old");
    ASSERT_EQ(dialogs.shown.back().kind, "error");
    EXPECT_EQ(dialogs.shown.back().caption, "Error saving file");
    EXPECT_EQ(dialogs.shown.back().text,
              "File cannot be written, no rights!\nContact administrator.\n" + path +
                  ": the file is read-only");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"locked.csv"})
        << "no temporary file left";
}

TEST_F(TableFiles, AFullDiskKeepsTheOldTableAndSaysWhy) {
    const QString path = folder.filePath("meters.csv");
    ASSERT_TRUE(test::writeFile(path, "old"));
    {
        const test::FileSizeLimit full(8);
        exportTo(loops, "meters.csv");
    }
    EXPECT_EQ(test::readFile(path), "old");
    ASSERT_EQ(dialogs.shown.back().kind, "error");
    EXPECT_EQ(
        dialogs.shown.back().text,
        "File cannot be written, no rights!\nContact administrator.\n" + path + ": File too large");
}

// No gateway and no bus holds more than 10,000 rows: a longer table is not
// read at all, by Load or by Import, and one log line says so.
TEST_F(TableFiles, ATableOfMoreRowsThanAGatewayHoldsIsRefused) {
    const QByteArray header = " ID ;Addr ;Mfr ;Medium ;\r\n";
    QByteArray rows;
    for (int i = 0; i < 10'000; ++i)
        rows += "12345678;5;ABC;Water;\r\n";
    const QString path = folder.filePath("table.csv");
    const QString refusal =
        path + " not read: it has more than 10000 rows, more than a gateway or a bus holds.";
    const struct {
        const char* name;
        QByteArray content;
        bool refused;
    } cases[] = {
        {"10,000 rows and the empty row of an export", header + rows + ";;;;\r\n", false},
        {"10,001 rows", header + rows + "87654321;6;ABC;Water;\r\n", true},
        {"10,000 rows of two lines each",
         header + QByteArray(rows).replace(";5;", ";\"5\r\n\";") + ";;;;\r\n", false},
        {"10,000 rows and two empty ones", header + rows + ";;;;\r\n;;;;\r\n", true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::writeFile(path, c.content));
        GridModel devices(devicesGridLayout().headers);
        GridModel meters(loopsGridLayout().headers);
        devices.setRowTexts(1, {"old"});
        meters.setRowTexts(1, {"old"});
        const TableLoad expected = c.refused ? TableLoad::TooManyRows : TableLoad::Loaded;
        EXPECT_EQ(LoadMbusGrid(meters, path, dialogs), expected) << c.name;
        EXPECT_EQ(ImportDeviceGrid(devices, path, dialogs), expected) << c.name;
        const QStringList refusals = c.refused ? QStringList{refusal} : QStringList{};
        EXPECT_EQ(TableLoadLines(expected, path), refusals) << c.name;
        EXPECT_EQ(meters.cell(1, 0), c.refused ? "old" : " ID ") << c.name;
        EXPECT_EQ(meters.cell(10'001, 0), c.refused ? "" : "12345678") << c.name;
        EXPECT_EQ(devices.cell(1, 0), c.refused ? "old" : "12345678") << c.name;
        EXPECT_EQ(devices.cell(10'000, 0), c.refused ? "" : "12345678") << c.name;
    }
}

// A file past 20 MB is not read, by Load or by Import; one of exactly 20 MB is.
TEST_F(TableFiles, ATableFileOverTwentyMegabytesIsRefused) {
    const QByteArray header = " ID ;Addr ;Mfr ;Medium ;\r\n";
    const QString path = folder.filePath("table.csv");
    for (const qint64 size : {kMaxTableBytes, kMaxTableBytes + 1}) {
        const qint64 row = (size - header.size()) / 10'000;
        const QByteArray line = "12345678;5;ABC;Water;" + QByteArray(row - 23, 'x') + "\r\n";
        QByteArray content = header + line.repeated(9'999);
        content += "12345678;5;ABC;Water;" + QByteArray(size - content.size() - 23, 'x') + "\r\n";
        ASSERT_EQ(content.size(), size);
        ASSERT_TRUE(test::writeFile(path, content));
        const bool over = size > kMaxTableBytes;
        const TableLoad expected = over ? TableLoad::TooLarge : TableLoad::Loaded;
        GridModel devices(devicesGridLayout().headers);
        EXPECT_EQ(LoadMbusGrid(loops, path, dialogs), expected) << size;
        EXPECT_EQ(ImportDeviceGrid(devices, path, dialogs), expected) << size;
        EXPECT_EQ(devices.cell(10'000, 0), over ? "" : "12345678") << size;
        EXPECT_EQ(TableLoadLines(expected, path),
                  over ? QStringList{path + " not read: it is larger than 20 MB, more than a "
                                            "gateway or a bus holds."}
                       : QStringList{});
    }
}

TEST_F(TableFiles, AnExportedMeterTableLoadsWithItsHeaderAsRowOne) {
    loops.setRowTexts(1, {"12345678", "5", "ABC", "10.000", "m3", "Water", "00", "10:00:00"});
    loops.setRows(3);
    const QString path = exportTo(loops, "meters.csv");
    loops.clearData();
    LoadMbusGrid(loops, path, dialogs);
    EXPECT_EQ(loops.rows(), 4);
    EXPECT_EQ(loops.cell(1, 0), " ID ");
    EXPECT_EQ(loops.cell(2, 3), "10.000");
    EXPECT_EQ(loops.cell(3, 0), "") << "the exported trailing empty row";
}

TEST_F(TableFiles, LoadRules) {
    load("a;b;c;d;e;f;g;h;\r\nx;y;\r\n");
    EXPECT_EQ(loops.rows(), 3);
    EXPECT_EQ(loops.rowTexts(2), (QStringList{"x", "y", "c", "d", "e", "f", "g", "h"}))
        << "fields a line does not reach keep the line before's values";
    load(QByteArray(60, 'L') + ";\r\n");
    EXPECT_EQ(loops.cell(1, 0), QString(50, 'L'));
    load("first;\r\nno semicolon here\r\n");
    EXPECT_EQ(loops.rowTexts(2).first(), "first");
    load("tail;text after the last is dropped");
    EXPECT_EQ(loops.cell(1, 0), "tail");
    EXPECT_EQ(loops.cell(1, 1), "");
}

// Cells a meter's plain-text unit or a file may bring: a formula, a row of
// its own, quotes, separators, control and 8-bit bytes.
TEST_F(TableFiles, HostileCellsComeBackThroughLoadImportAndPython) {
    const QStringList first = {";=HYPERLINK(\"http://x\");",
                               "a\r\nINJ;ROW;",
                               "Hot \"water\"",
                               "=1+2",
                               "-",
                               "@SUM(A1)",
                               "\t=1",
                               "'=1"};
    const QStringList second = {"-12.500",
                                QString::fromLatin1("W\xE4rme\xFF"),
                                QString(QChar(0)) + "\x01",
                                "\r",
                                "''-",
                                "\"",
                                ";",
                                "+49 30"};
    loops.setRows(4);
    loops.setRowTexts(1, first);
    loops.setRowTexts(2, second);
    const QString path = exportTo(loops, "hostile.csv");
    // What a spreadsheet sees: every row whole, formulas behind "'".
    const QList<QStringList> python = test::pythonCsvRows(path);
    ASSERT_EQ(python.size(), 4);
    EXPECT_EQ(python[1],
              (QStringList{";=HYPERLINK(\"http://x\");", "a\r\nINJ;ROW;", "Hot \"water\"", "'=1+2",
                           "'-", "'@SUM(A1)", "'\t=1", "''=1", ""}));
    EXPECT_EQ(python[2],
              (QStringList{"-12.500", QString::fromLatin1("W\xE4rme\xFF"),
                           QString(QChar(0)) + "\x01", "'\r", "'''-", "\"", ";", "'+49 30", ""}));
    loops.clearData();
    const size_t shown = dialogs.shown.size();
    LoadMbusGrid(loops, path, dialogs);
    EXPECT_EQ(dialogs.shown.size(), shown) << "no message";
    EXPECT_EQ(loops.rows(), 5);
    EXPECT_EQ(loops.rowTexts(2), first);
    EXPECT_EQ(loops.rowTexts(3), second);

    GridModel devices(devicesGridLayout().headers);
    devices.setRows(3);
    devices.setRowTexts(1, first);  // control bytes make no import file
    const QString devicesPath = exportTo(devices, "devices.csv");
    GridModel imported(devicesGridLayout().headers);
    EXPECT_EQ(ImportDeviceGrid(imported, devicesPath, dialogs), TableLoad::Loaded);
    EXPECT_EQ(imported.rows(), 2) << "the exported empty row is not imported";
    EXPECT_EQ(imported.rowTexts(1).mid(0, 4), first.mid(0, 4));
}

// Files as spreadsheets and other tools write them: what Import and Load
// read, and what they refuse with the grid unchanged.
TEST_F(TableFiles, ImportAndLoadReadTheSameFormats) {
    const struct {
        const char* name;
        QByteArray content;
        std::optional<QStringList> imported;  // row 1's ID and address; none: refused
    } imports[] = {
        {"named header without a last \";\"", "ID;Mfr;Medium;Addr\r\n12345678;ABC;Water;5\r\n",
         QStringList{"12345678", "5"}},
        {"commas", "ID,Addr,Mfr\r\n12345678,5,ABC\r\n", QStringList{"12345678", "5"}},
        {"tabs", "ID\tAddr\r\n12345678\t5\r\n", std::nullopt},
    };
    for (const auto& c : imports) {
        GridModel devices(devicesGridLayout().headers);
        devices.setRowTexts(1, {"99999999", "9"});
        devices.setRows(3);
        const QString path = folder.filePath("devices.csv");
        ASSERT_TRUE(test::writeFile(path, c.content));
        const TableLoad load = ImportDeviceGrid(devices, path, dialogs);
        EXPECT_EQ(load, c.imported ? TableLoad::Loaded : TableLoad::Refused) << c.name;
        EXPECT_EQ(devices.rowTexts(1).mid(0, 2), c.imported.value_or(QStringList{"99999999", "9"}))
            << c.name;
        if (!c.imported) {
            EXPECT_EQ(dialogs.shown.back().text, "File is not in correct format!");
        }
    }
    load("ID,Addr,Mfr\r\n12345678,5,ABC\r\n");
    EXPECT_EQ(loops.rows(), 3) << "the header and the meter, as from a \";\" file";
    EXPECT_EQ(loops.rowTexts(2).mid(0, 3), (QStringList{"12345678", "5", "ABC"}));
    // A meter found after a load goes below the loaded rows.
    LoopsRow found{};
    found[0] = "87654321";
    found[1] = "7";
    UpdateLoopsGrid(loops, found, LoopsUpdate::Append);
    EXPECT_EQ(loops.rowTexts(2).mid(0, 2), (QStringList{"12345678", "5"}));
    EXPECT_EQ(loops.rowTexts(3).mid(0, 2), (QStringList{"87654321", "7"}));
    EXPECT_EQ(loops.rows(), 5) << "and the grid ends in one empty row";
}

TEST_F(TableFiles, QuotedCellsInTheLoad) {
    load("\"a;b\";\"c\r\nd\";\r\nx;\r\n");
    EXPECT_EQ(loops.rows(), 3) << "a line end inside quotes is text";
    EXPECT_EQ(loops.rowTexts(1).mid(0, 2), (QStringList{"a;b", "c\r\nd"}));
    EXPECT_EQ(loops.rowTexts(2).mid(0, 2), (QStringList{"x", "c\r\nd"}));
    load("\"1;2;3;4;5;6;7;8;9\";\r\n");
    EXPECT_TRUE(dialogs.shown.empty()) << "a \";\" inside quotes ends no cell";
    EXPECT_EQ(loops.cell(1, 0), "1;2;3;4;5;6;7;8;9");
    load("\"" + QByteArray(60, 'Q') + "\";'=x;");
    EXPECT_EQ(loops.cell(1, 0), QString(50, 'Q')) << "the cut is of the cell's text";
    EXPECT_EQ(loops.cell(1, 1), "=x");
    load("\"" + QByteArray("x\r\n").repeated(22'000));
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().caption, "File Error") << "a record over 64 KiB";
}

TEST_F(TableFiles, ANinthSemicolonStopsTheLoad) {
    load("a;b;\r\n1;2;3;4;5;6;7;8;9;\r\nz;\r\n");
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text,
              "You are trying to import too many data!!!\nCorrect csv file and try again!");
    EXPECT_EQ(loops.rows(), 3) << "the rows already loaded stay, with the trailing empty row";
    EXPECT_EQ(loops.cell(1, 0), "a");
}

TEST_F(TableFiles, AFileThatCannotBeReadSaysSo) {
    LoadMbusGrid(loops, folder.filePath("missing.csv"), dialogs);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].caption, "File Error");
    EXPECT_EQ(dialogs.shown[0].text, "You chose wrong file for import!\nContact administrator!");
    load("");
    EXPECT_EQ(loops.rows(), 2) << "an empty file changes nothing";
}

}  // namespace
}  // namespace tarnel
