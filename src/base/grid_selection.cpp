#include "base/grid_selection.h"

#include "base/grid_model.h"

namespace tarnel {

GridSelection::GridSelection(GridModel& grid, QObject* parent) : QObject(parent), grid_(grid) {
    connect(&grid_, &GridModel::currentRowChanged, this, &GridSelection::tell);
    // A row rewritten under the highlight (a read, a decoder, a load) changes
    // what is selected: the label follows its cells.
    connect(&grid_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                const int viewRow = row() - 1;
                if (viewRow >= from.row() && viewRow <= to.row()) tell();
            });
}

int GridSelection::row() const {
    return grid_.currentRow();
}

MeterTarget GridSelection::target() const {
    MeterTarget target;
    target.row = row();
    if (target.row < 1) return target;
    bool ok = false;
    const int address = grid_.cell(target.row, 1).toInt(&ok);
    target.address = ok ? address : -1;
    target.id = grid_.cell(target.row, 0);
    return target;
}

QString GridSelection::label() const {
    return QStringLiteral("Selected: %1").arg(address());
}

void GridSelection::select(int row) {
    if (row < 0 || row >= grid_.rows()) row = 0;
    if (row == grid_.currentRow())
        tell();
    else
        grid_.setCurrentRow(row);  // tells through currentRowChanged
}

void GridSelection::tell() {
    emit changed(label());
}

}  // namespace tarnel
