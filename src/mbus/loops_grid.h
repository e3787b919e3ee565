#pragma once

#include <QStringList>

#include "mbus/telegram_decoder.h"

namespace tarnel {

class GridModel;

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

}  // namespace tarnel
