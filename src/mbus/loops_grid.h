#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include "mbus/telegram_decoder.h"

namespace tarnel {

class GridModel;

// The most rows the M-Bus meter grid has, its header included.
constexpr int kMaxLoopsRows = 250;

// A decoded row's texts for the grid (8-bit characters as Latin-1).
QStringList LoopsRowTexts(const LoopsRow& row);

// How a decoded meter row goes into the M-Bus meter grid:
enum class LoopsUpdate {
    Append,     // the scan: into the last row, then a new empty row (up to 250 rows)
    ById,       // the secondary search: into every row with the same
                // identification number, or a new last row for a new meter; the
                // last row written becomes the selected one
    ByAddress,  // a single read: into every row with the same primary address;
                // no row is added
};
void UpdateLoopsGrid(GridModel& grid, const LoopsRow& row, LoopsUpdate update);

// The ID of a meter of the grid at primary `address` other than `id`; empty
// when there is none. Two meters at one address collide on the bus.
QString OtherMeterAt(const GridModel& grid, int address, const QString& id);

// The system's decimal separator, as value texts show it.
char SystemDecimalSeparator();

// Decodes a meter's reply with `now` as the time of the read-out (any thread).
DecodedTelegram DecodeLoopsTelegram(QByteArrayView telegram, const QDateTime& now);
// The decoder's lines as the log shows them (8-bit characters as Latin-1).
QStringList DecoderLines(const DecodedTelegram& decoded);

}  // namespace tarnel
