#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include "mbus/telegram_decoder.h"

namespace tarnel {

class GridModel;
class Log;

// The most rows the M-Bus meter grid has, its header included.
constexpr int kMaxLoopsRows = 250;

// A decoded row's texts for the grid (8-bit characters as Latin-1).
QStringList LoopsRowTexts(const LoopsRow& row);

// Writes a decoded meter row into the M-Bus meter grid:
//  - during a scan, into the last row, then a new empty row (up to 250 rows);
//  - in the secondary search (matchById), into every row with the same
//    identification number, the last of them made current and its address
//    taken as selectedAddress; a new meter goes into the last row;
//  - on a single read, into every row with the same primary address; no row
//    is added.
void UpdateLoopsGrid(GridModel& grid, const LoopsRow& row, bool scanRunning, bool matchById,
                     int& selectedAddress);

// The system's decimal separator, as value texts show it.
char SystemDecimalSeparator();

// Decodes a meter's reply as the M-Bus operations do: its lines go to the
// log, its row into the grid by the rules above, with `now` as the time of
// the read-out. Returns whether the telegram was decoded.
bool DecodeIntoLoopsGrid(QByteArrayView telegram, GridModel& grid, Log& log, const QDateTime& now,
                         bool scanRunning, bool matchById, int& selectedAddress);

}  // namespace tarnel
