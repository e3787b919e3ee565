#include "base/csv_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnel {
namespace {

using namespace std::string_literals;

// Each cell as RFC 4180 quotes it (a cell holding ";", '"', CR or LF in
// quotes, its quotes doubled), a text a spreadsheet would run as a formula
// behind "'", and back again from the bytes.
TEST(CsvText, CellsWrittenAndReadBack) {
    const struct {
        std::string text, written;
    } cases[] = {
        // What the tables hold today goes out as it is.
        {"", ""},
        {" ID ", " ID "},
        {"12345678", "12345678"},
        {"-12.500", "-12.500"},
        {"+3", "+3"},
        {"-0,25", "-0,25"},
        {"1E-3", "1E-3"},
        {"-.5", "-.5"},
        {"12:30:05", "12:30:05"},
        {"0A 1B", "0A 1B"},
        {"n/a", "n/a"},
        {"6/22/0/0-22/6/0/0", "6/22/0/0-22/6/0/0"},
        {"Main=0000, Device=20", "Main=0000, Device=20"},
        // Separators, quotes and line ends: quoted.
        {"a;b", "\"a;b\""},
        {"Hot \"water\"", "\"Hot \"\"water\"\"\""},
        {"\"", "\"\"\"\""},
        {"a\r\nINJ;ROW;", "\"a\r\nINJ;ROW;\""},
        {";=HYPERLINK(\"http://x\")", "\";=HYPERLINK(\"\"http://x\"\")\""},
        // Formulas: guarded, inside the quotes when also quoted.
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"=1+2", "'=1+2"},
        {"-", "'-"},
        {"+", "'+"},
        {"-2-3", "'-2-3"},
        {"+49 30 1234", "'+49 30 1234"},
        {"-12.5.0", "'-12.5.0"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "\"'\r=1\""},
        {"-x;y", "\"'-x;y\""},
        // A "'" before what would be guarded gets one more; else none.
        {"'=1", "''=1"},
        {"''-", "'''-"},
        {"'-5", "'-5"},
        {"'abc", "'abc"},
        // Bytes as they are: NUL, Latin-1, not UTF-8.
        {"a\0b"s, "a\0b"s},
        {"W\xE4rme", "W\xE4rme"},
        {"\xFF\xFE\x80", "\xFF\xFE\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(csv::Cell(c.text), c.written) << c.text;
        const csv::Record read = csv::SplitRecord(c.written + ";");
        EXPECT_EQ(read.cells, std::vector<std::string>{c.text}) << c.written;
        EXPECT_EQ(read.rest, "") << c.written;
    }
    EXPECT_EQ(csv::Row(std::vector<std::string>{"a", "=b", ""}), "a;'=b;;\r\n");
    EXPECT_EQ(csv::Row(std::vector<std::string>{"a;b"}, "\n"), "\"a;b\";\n");
    EXPECT_EQ(csv::Row(std::vector<std::string>{}), "\r\n");
}

// Records that no writer of ours made: spreadsheets' and hand-made files.
TEST(CsvText, RecordsReadLeniently) {
    using Cells = std::vector<std::string>;
    const struct {
        std::string record;
        char separator;
        Cells cells;
        std::string rest;
    } cases[] = {
        {"a;b;c", ';', {"a", "b"}, "c"},
        {";;", ';', {"", ""}, ""},
        {"", ';', {}, ""},
        {"12\" pipe;x\"y;", ';', {"12\" pipe", "x\"y"}, ""},  // a quote inside a cell is text
        {"\"a\"b;c", ';', {"ab"}, "c"},                       // text after the closing quote
        {"\"open;x", ';', {}, "open;x"},                      // unclosed: to the end
        {"'=x;'-5;''=x;'';", ';', {"=x", "'-5", "'=x", "''"}, ""},
        {"a,\"b,c\"", ',', {"a"}, "b,c"},
        {"a,b;c,", ',', {"a", "b;c"}, ""},
    };
    for (const auto& c : cases) {
        const csv::Record read = csv::SplitRecord(c.record, c.separator);
        EXPECT_EQ(read.cells, c.cells) << c.record;
        EXPECT_EQ(read.rest, c.rest) << c.record;
    }
}

}  // namespace
}  // namespace tarnel
