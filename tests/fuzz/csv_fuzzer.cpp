// libFuzzer target over the table files' CSV: the input becomes a table of
// cell texts (its first byte the column count, 1 to 8, then each cell a
// length byte, 0 to 63, and that many bytes), which is written with the
// writer and must come back from the reader cell for cell, row for row. The
// same table written as the meter grid and as the device grid must come back
// from the load and the import (cells cut to 50 characters by the load; the
// import takes the first four columns and refuses control bytes).
#include <QBuffer>
#include <algorithm>
#include <string>
#include <vector>

#include "base/csv_text.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "fuzz_input.h"
#include "gateway/table_files.h"
#include "gateway/table_import.h"
#include "support/fake_dialogs.h"

namespace {

using namespace tarnel;
using Table = std::vector<std::vector<std::string>>;

Table tableOf(const uint8_t* data, size_t size) {
    Table table;
    if (size == 0) return table;
    const size_t columns = data[0] % 8 + 1;
    for (size_t at = 1; at < size;) {
        const size_t wanted = data[at++] % 64;
        const size_t length = std::min(wanted, size - at);
        if (table.empty() || table.back().size() == columns) table.emplace_back();
        table.back().emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    if (!table.empty()) table.back().resize(columns);
    return table;
}

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The writer's text read back record by record must give the table again.
void checkRoundTrip(const Table& table) {
    std::string text;
    for (const auto& row : table)
        text += csv::Row(row);
    QBuffer buffer;
    buffer.setData(QByteArray::fromStdString(text));
    buffer.open(QIODevice::ReadOnly);
    QList<QByteArray> records;
    fuzz::Check(ReadTableRecords(buffer, records, ';') == TableRead::Read);
    fuzz::Check(records.size() == static_cast<qsizetype>(table.size()));
    for (size_t i = 0; i < table.size(); ++i) {
        const QByteArray& record = records[static_cast<qsizetype>(i)];
        const csv::Record read =
            csv::SplitRecord({record.constData(), static_cast<size_t>(record.size())});
        fuzz::Check(read.cells == table[i] && read.rest.empty());
    }
}

bool isText(const std::string& cell) {
    return std::none_of(cell.begin(), cell.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F;
    });
}

void checkRealReaders(const Table& table) {
    GridModel meters{loopsGridLayout().headers};
    GridModel devices{devicesGridLayout().headers};
    bool text = true;
    for (const auto& row : table) {
        QStringList cells;
        for (const std::string& cell : row) {
            cells << latin1(cell);
            text = text && isText(cell);
        }
        for (GridModel* grid : {&meters, &devices}) {
            grid->setRowTexts(grid->rows() - 1, cells);
            grid->setRows(grid->rows() + 1);
        }
    }
    test::FakeDialogs dialogs;
    const QString metersPath = fuzz::InputFile(GridCsv(meters), "meters.csv");
    GridModel loaded{loopsGridLayout().headers};
    LoadMbusGrid(loaded, metersPath, dialogs);
    fuzz::Check(dialogs.shown.empty() && loaded.rows() == meters.rows() + 1);
    for (int row = 1; row < meters.rows(); ++row)
        for (int col = 0; col < meters.cols(); ++col)
            fuzz::Check(loaded.cell(row + 1, col) == meters.cell(row, col).left(50));

    const QString devicesPath = fuzz::InputFile(GridCsv(devices), "devices.csv");
    GridModel imported{devicesGridLayout().headers};
    fuzz::Check((ImportDeviceGrid(imported, devicesPath, dialogs) == TableLoad::Loaded) == text);
    if (!text) return;
    for (int row = 1; row + 1 < devices.rows(); ++row)
        for (int col = 0; col < 4; ++col)
            fuzz::Check(imported.cell(row, col) == devices.cell(row, col));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Table table = tableOf(data, size);
    if (table.size() >= size_t{kMaxTableRows}) return 0;  // no table file holds it
    checkRoundTrip(table);
    checkRealReaders(table);
    return 0;
}
