#include "gateway/table_import.h"

#include <QBuffer>
#include <algorithm>
#include <array>

#include "base/csv_text.h"
#include "base/dialogs.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/table_files.h"

namespace tarnel {
namespace {

constexpr int kImportedColumns = 4;  // " ID ", "Addr ", "Mfr ", "Medium "
constexpr int kAddressColumn = 1;

// Text files carry no control characters other than tab and line ends.
bool isText(const QByteArray& line) {
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F;
    });
}

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A record's fields, quoted cells read back. With `trailing`, the text after
// the last separator is a field; otherwise only fields ended by the
// separator count.
QStringList splitFields(const QByteArray& line, char separator, bool trailing) {
    const csv::Record record =
        csv::SplitRecord({line.constData(), static_cast<size_t>(line.size())}, separator);
    QStringList fields;
    for (const std::string& cell : record.cells)
        fields << latin1(cell);
    if (trailing && (!record.rest.empty() || !fields.isEmpty())) fields << latin1(record.rest);
    return fields;
}

QString columnName(const QString& header) {
    return header.trimmed().toLower();
}

// For each imported column, the index of its field in a line; -1 when the
// file has none. Empty when the header names none of the grids' columns.
std::optional<std::array<int, kImportedColumns>> columnsByName(const QStringList& header) {
    QStringList known;
    for (const GridLayout* layout : {&loopsGridLayout(), &devicesGridLayout()})
        for (const QString& name : layout->headers)
            known << columnName(name);
    const bool named = std::any_of(header.begin(), header.end(), [&](const QString& field) {
        return known.contains(columnName(field));
    });
    if (!named) return std::nullopt;
    std::array<int, kImportedColumns> index{};
    for (int column = 0; column < kImportedColumns; ++column) {
        const QString name = columnName(devicesGridLayout().headers.at(column));
        index[column] = static_cast<int>(
            std::find_if(header.begin(), header.end(),
                         [&](const QString& field) { return columnName(field) == name; }) -
            header.begin());
        if (index[column] == header.size()) index[column] = -1;
    }
    return index;
}

}  // namespace

std::optional<QList<QStringList>> ParseDeviceImport(const QByteArray& content) {
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    QList<QByteArray> records;
    if (ReadTableRecords(buffer, records, kHeaderSeparator) != TableRead::Read) return std::nullopt;
    return ParseDeviceLines(std::move(records));
}

std::optional<QList<QStringList>> ParseDeviceLines(QList<QByteArray> lines) {
    if (!std::all_of(lines.begin(), lines.end(), isText)) return std::nullopt;
    if (lines.isEmpty()) return QList<QStringList>{};
    if (lines.first().startsWith(kByteOrderMark)) lines.first().remove(0, 3);
    const QByteArray& headerLine = lines.first();
    const char separator = TableSeparator(headerLine);
    const auto byName = columnsByName(splitFields(headerLine, separator, true));
    if (byName && byName->at(kAddressColumn) < 0) return std::nullopt;
    // A "," file has no separator after its last cell; nor has a file whose
    // named header ends without one ("ID;Mfr;Medium;Addr"): its lines are
    // read alike.
    const bool headerEndsOpen =
        !csv::SplitRecord({headerLine.constData(), static_cast<size_t>(headerLine.size())},
                          separator)
             .rest.empty();
    const bool trailing = separator == ',' || (byName && headerEndsOpen);
    // Lines none of which holds the separator (a tab-separated file) are not
    // this format.
    if (lines.size() > 1 && std::none_of(lines.begin() + 1, lines.end(), [&](const QByteArray& l) {
            return l.contains(separator);
        }))
        return std::nullopt;
    QList<QStringList> rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = splitFields(lines[i], separator, trailing);
        QStringList row;
        for (int column = 0; column < kImportedColumns; ++column) {
            const int at = byName ? byName->at(column) : column;
            if (at >= 0 && at < fields.size())
                row << fields.at(at);
            else if (byName)
                row << QString();
        }
        rows << row;
    }
    return rows;
}

TableLoad ImportDeviceGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs) {
    QList<QByteArray> lines;
    const TableRead read = ReadTableLines(fileName, lines, kHeaderSeparator);
    if (read == TableRead::TooManyRows) return TableLoad::TooManyRows;
    if (read == TableRead::TooLarge) return TableLoad::TooLarge;
    const auto rows = read == TableRead::Read ? ParseDeviceLines(std::move(lines)) : std::nullopt;
    if (!rows) {
        dialogs.message("File is not in correct format!");
        return TableLoad::Refused;
    }
    grid.clearData();
    // Line i of the file (the header is line 0) fills row i.
    for (qsizetype i = 0; i < rows->size(); ++i) {
        grid.setRowTexts(static_cast<int>(i) + 1, rows->at(i));
        grid.setRows(grid.rows() + 1);
    }
    // No empty row after the last line; and a last line without an ID or an
    // address (a file ending in ";8;") makes no row to activate.
    grid.setRows(grid.rows() - 1);
    const int last = grid.rows() - 1;
    if (last >= 1 && (grid.cell(last, 0).isEmpty() || grid.cell(last, 1).isEmpty()))
        grid.setRows(last);
    return TableLoad::Loaded;
}

}  // namespace tarnel
