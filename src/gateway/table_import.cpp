#include "gateway/table_import.h"

#include <QFile>
#include <algorithm>
#include <array>

#include "base/dialogs.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
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

// A line's fields. With `trailing`, the text after the last separator is a
// field; otherwise only fields ended by the separator count. Quotes are read
// only in comma-separated files.
QStringList splitFields(const QByteArray& line, char separator, bool trailing) {
    const bool quoting = separator == ',';
    QStringList fields;
    QString gathered;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoting && c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                gathered += QLatin1Char('"');
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == separator && !quoted) {
            fields << gathered;
            gathered.clear();
        } else {
            gathered += QChar(QLatin1Char(c));
        }
    }
    if (trailing && (!gathered.isEmpty() || !fields.isEmpty())) fields << gathered;
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

QList<QByteArray> textLines(const QByteArray& content) {
    QList<QByteArray> lines = content.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the final line end
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    return lines;
}

}  // namespace

std::optional<QList<QStringList>> ParseDeviceImport(const QByteArray& content) {
    return ParseDeviceLines(textLines(content));
}

std::optional<QList<QStringList>> ParseDeviceLines(QList<QByteArray> lines) {
    if (!std::all_of(lines.begin(), lines.end(), isText)) return std::nullopt;
    if (lines.isEmpty()) return QList<QStringList>{};
    if (lines.first().startsWith("\xEF\xBB\xBF"))
        lines.first().remove(0, 3);  // a spreadsheet's byte order mark
    const QByteArray& headerLine = lines.first();
    const char separator = headerLine.contains(',') && !headerLine.contains(';') ? ',' : ';';
    const bool trailing = separator == ',';
    const auto byName = columnsByName(splitFields(headerLine, separator, true));
    if (byName && byName->at(kAddressColumn) < 0) return std::nullopt;
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

bool ImportDeviceGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs, Log& log) {
    QList<QByteArray> lines;
    const TableRead read = ReadTableLines(fileName, lines);
    if (read == TableRead::TooManyRows) {
        log.append(TooManyRowsLine(fileName));
        return false;
    }
    const auto rows = read == TableRead::Read ? ParseDeviceLines(std::move(lines)) : std::nullopt;
    if (!rows) {
        dialogs.message("File is not in correct format!");
        return false;
    }
    grid.clearData();
    // Line i of the file (the header is line 0) fills row i.
    for (qsizetype i = 0; i < rows->size(); ++i) {
        grid.setRowTexts(static_cast<int>(i) + 1, rows->at(i));
        grid.setRows(grid.rows() + 1);
    }
    const int last = grid.rows() - 1;
    if (last >= 1 && (grid.cell(last, 0).isEmpty() || grid.cell(last, 1).isEmpty()))
        grid.setRows(grid.rows() - 1);
    return true;
}

}  // namespace tarnel
