#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

namespace tarnel {

class Dialogs;
class GridModel;
class Log;

// The most rows a table file may hold besides its header: more than any
// gateway's device table or any bus holds.
constexpr int kMaxTableRows = 10'000;

enum class TableRead { Read, Unreadable, TooManyRows };

// A table file's lines without their ends (LF or CR LF), read line by line
// and no further than the header and kMaxTableRows rows: past them, but for
// one last empty row as an export ends with, TooManyRows and no lines.
// Unreadable for a file that cannot be opened or has a line over 64 KiB.
TableRead ReadTableLines(const QString& path, QList<QByteArray>& lines);

// The one log line of a file refused for TooManyRows.
QString TooManyRowsLine(const QString& path);

// A grid as a table file: one line a row, the header first and a trailing
// empty row included, every cell followed by ";", lines ended by CR LF, 8-bit
// text, no quoting.
QByteArray GridCsv(const GridModel& grid);

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
// line, each cut to 50 characters; a field a line does not reach keeps the
// value of the line before; a ninth ";" stops the load with a message. A file
// of too many rows is refused with one line in `log`.
void LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs, Log& log);

}  // namespace tarnel
