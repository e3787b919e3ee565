#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace tarnel {

class Dialogs;
class GridModel;

// The most rows a table file may hold besides its header: more than any
// gateway's device table or any bus holds.
constexpr int kMaxTableRows = 10'000;
// The most bytes a table file may hold: a full table of long rows takes a
// few megabytes.
constexpr qint64 kMaxTableBytes = 20 * 1024 * 1024;

enum class TableRead { Read, Unreadable, TooManyRows, TooLarge };

// How a table file went into a grid.
enum class TableLoad {
    Loaded,
    Refused,      // a message box said why
    TooManyRows,  // not read at all: the caller says so (TableLoadLines)
    TooLarge,     // likewise
};

// A separator for the table readers: ';' or ',' as the header line says
// (TableSeparator).
inline constexpr char kHeaderSeparator = '\0';
inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";  // as spreadsheets start a file

// ',' for a header line with commas and no semicolons (what spreadsheets
// save), else ';'.
char TableSeparator(const QByteArray& header);

// A table file's records without their ends (LF or CR LF), read line by line
// and no further than the header and kMaxTableRows rows: past them, but for
// one last empty row as an export ends with, TooManyRows and no records. A
// record is a line, joined with the next ones (and the line ends between
// them) while a quoted cell (one starting with '"' after `separator`) is
// open. Unreadable for a file that cannot be opened or has a line or record
// over 64 KiB.
TableRead ReadTableLines(const QString& path, QList<QByteArray>& records, char separator = ';');
// The same from a device open for reading.
TableRead ReadTableRecords(QIODevice& device, QList<QByteArray>& records, char separator);

// A grid as a table file: one line a row, the header first and a trailing
// empty row included, every cell followed by ";", lines ended by CR LF, 8-bit
// text; cells quoted and guarded as csv::Cell says.
QByteArray GridCsv(const GridModel& grid);
// One line of a table file: the cells as 8-bit text through csv::Row.
QByteArray TableRow(const QStringList& cells);

// The suggested names of the table files.
QString MbusTableFileName(const QDate& today);  // "mbus_data_" + short date + ".csv"
inline QString DeviceTableFileName() {
    return QStringLiteral("mdb_data.csv");
}
inline QString RegisterTableFileName() {
    return QStringLiteral("modbusUR.csv");
}

// Writes `grid` to a file the user picks, proposing `suggestedName`, with
// WriteWholeFile: the file is replaced whole or not at all; a file that may
// not be written is left as it is. Failures are shown in a message box with
// the system's reason.
void ExportGrid(const GridModel& grid, const QString& suggestedName, Dialogs& dialogs);

// Fills the meter grid from a table file: up to eight ";"-terminated fields a
// record (a ";" inside a quoted cell is text), each cut to 50 characters; a field a line does not
// reach keeps the value of the line before; a ninth ";" stops the load with a message (Refused,
// the rows before it loaded). A file of too many rows is not read (TooManyRows).
TableLoad LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs);

}  // namespace tarnel
