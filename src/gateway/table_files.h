#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

namespace tarnel {

class Dialogs;
class GridModel;

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

// Writes `grid` to a file the user picks, proposing `suggestedName`. The file
// is replaced whole or not at all (a temporary file beside it is renamed over
// it); a file that may not be written is left as it is. Failures are shown in
// a message box.
void ExportGrid(const GridModel& grid, const QString& suggestedName, Dialogs& dialogs);

// Fills the meter grid from a table file: up to eight ";"-terminated fields a
// line, each cut to 50 characters; a field a line does not reach keeps the
// value of the line before; a ninth ";" stops the load with a message.
void LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs);

}  // namespace tarnel
