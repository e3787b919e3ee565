#include "mbus/loops_grid.h"

#include <QLocale>

#include "base/grid_model.h"
#include "base/time_format.h"

namespace tarnel {
namespace {

// Writes `texts` into the grid's last, empty row and adds the next empty
// one; returns the row written. A grid that ends in a filled row (a loaded
// table) gets the new row below it, never over it.
int appendRow(GridModel& grid, const QStringList& texts) {
    const bool lastFilled = !grid.rowTexts(grid.rows() - 1).join(QString()).isEmpty();
    if ((lastFilled || grid.rows() < 2) && grid.rows() < kMaxLoopsRows)
        grid.setRows(grid.rows() + 1);
    const int row = grid.rows() - 1;
    grid.setRowTexts(row, texts);
    if (grid.rows() < kMaxLoopsRows) grid.setRows(grid.rows() + 1);
    return row;
}

}  // namespace

QStringList LoopsRowTexts(const LoopsRow& row) {
    QStringList texts;
    for (const std::string& text : row)
        texts << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return texts;
}

void UpdateLoopsGrid(GridModel& grid, const LoopsRow& row, LoopsUpdate update) {
    const QStringList texts = LoopsRowTexts(row);
    if (update == LoopsUpdate::Append) {
        appendRow(grid, texts);
        return;
    }
    if (update == LoopsUpdate::ById) {
        int written = 0;
        for (int r = 1; r < grid.rows(); ++r) {
            if (grid.cell(r, 0) != texts[0]) continue;
            grid.setRowTexts(r, texts);
            written = r;
        }
        if (written == 0) written = appendRow(grid, texts);
        grid.setCurrentRow(written);
        return;
    }
    for (int r = 1; r < grid.rows(); ++r)
        if (grid.cell(r, 1) == texts[1]) grid.setRowTexts(r, texts);
}

QString OtherMeterAt(const GridModel& grid, int address, const QString& id) {
    for (int r = 1; r < grid.rows(); ++r) {
        bool number = false;
        const QString other = grid.cell(r, 0).trimmed();
        if (grid.cell(r, 1).trimmed().toInt(&number) == address && number && !other.isEmpty() &&
            other != id.trimmed())
            return other;
    }
    return {};
}

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.';
}

DecodedTelegram DecodeLoopsTelegram(QByteArrayView telegram, const QDateTime& now) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(telegram.data());
    return DecodeMbusTelegram(std::span(bytes, static_cast<size_t>(telegram.size())),
                              LongTimeText(now).toStdString(), SystemDecimalSeparator());
}

QStringList DecoderLines(const DecodedTelegram& decoded) {
    QStringList lines;
    for (const std::string& line : decoded.lines)
        lines << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    return lines;
}

}  // namespace tarnel
