#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <optional>

#include "gateway/table_files.h"

namespace tarnel {

class Dialogs;
class GridModel;

// The rows a table file gives the device grid: " ID ", "Addr ", "Mfr " and
// "Medium " of every line after the header. The header says how to read the
// lines:
//  - separated by ";", or by "," when it has commas and no semicolons (what
//    spreadsheets save; there the text after the last comma is a field too);
//    a field may be quoted (a quoted field may hold separators, quotes and
//    line ends) and loses the writer's formula guard (csv::SplitRecord);
//  - a header that names the grids' columns (either table's export, any case,
//    blanks ignored) maps them by name, and must name "Addr";
//  - any other header is skipped and the first four ";"-terminated fields of
//    each line are taken in order.
// Nothing for a file that is not text (control bytes), whose header names
// columns but not the address, or that ReadTableRecords does not read.
std::optional<QList<QStringList>> ParseDeviceImport(const QByteArray& content);
// The same from the file's records (ReadTableLines with kHeaderSeparator).
std::optional<QList<QStringList>> ParseDeviceLines(QList<QByteArray> lines);

// "Import": the device grid from a table file. A file that cannot be read or
// is not a table file leaves the grid as it is and says "File is not in
// correct format!" (Refused); one of more than kMaxTableRows rows is not read
// at all (TooManyRows).
TableLoad ImportDeviceGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs);

}  // namespace tarnel
