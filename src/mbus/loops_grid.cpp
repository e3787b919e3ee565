#include "mbus/loops_grid.h"

#include <QLocale>

#include "base/grid_model.h"
#include "base/log.h"
#include "base/time_format.h"

namespace tarnel {
namespace {

int addressIn(const GridModel& grid, int row) {
    bool ok = false;
    const int address = grid.cell(row, 1).toInt(&ok);
    return ok ? address : -1;
}

void appendRow(GridModel& grid, const QStringList& texts) {
    grid.setRowTexts(grid.rows() - 1, texts);
    if (grid.rows() < kMaxLoopsRows) grid.setRows(grid.rows() + 1);
}

}  // namespace

QStringList LoopsRowTexts(const LoopsRow& row) {
    QStringList texts;
    for (const std::string& text : row)
        texts << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return texts;
}

void UpdateLoopsGrid(GridModel& grid, const LoopsRow& row, bool scanRunning, bool matchById,
                     int& selectedAddress) {
    const QStringList texts = LoopsRowTexts(row);
    if (scanRunning) {
        appendRow(grid, texts);
        return;
    }
    if (matchById) {
        bool matched = false;
        for (int r = 1; r < grid.rows(); ++r) {
            if (grid.cell(r, 0) != texts[0]) continue;
            grid.setRowTexts(r, texts);
            selectedAddress = addressIn(grid, r);
            grid.setCurrentRow(r);
            matched = true;
        }
        if (!matched) {
            const int last = grid.rows() - 1;
            appendRow(grid, texts);
            selectedAddress = addressIn(grid, last);
        }
        return;
    }
    for (int r = 1; r < grid.rows(); ++r)
        if (grid.cell(r, 1) == texts[1]) grid.setRowTexts(r, texts);
}

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.';
}

bool DecodeIntoLoopsGrid(QByteArrayView telegram, GridModel& grid, Log& log, const QDateTime& now,
                         bool scanRunning, bool matchById, int& selectedAddress) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(telegram.data());
    const DecodedTelegram decoded =
        DecodeMbusTelegram(std::span(bytes, static_cast<size_t>(telegram.size())),
                           LongTimeText(now).toStdString(), SystemDecimalSeparator());
    for (const std::string& line : decoded.lines)
        log.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    if (decoded.row) UpdateLoopsGrid(grid, *decoded.row, scanRunning, matchById, selectedAddress);
    return decoded.ok;
}

}  // namespace tarnel
