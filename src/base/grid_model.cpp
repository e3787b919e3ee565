#include "base/grid_model.h"

#include "base/owner_thread.h"

namespace tarnel {

bool GridModel::forwarded(std::function<void()> change) {
    if (QThread::currentThread() == thread()) return false;
    RunOnOwner(this, std::move(change));
    return true;
}

GridModel::GridModel(const QStringList& headers, QObject* parent)
    : QAbstractTableModel(parent), cols_(static_cast<int>(headers.size())) {
    cells_.append(headers);
    cells_.append(QStringList(cols_, QString()));
}

bool GridModel::contains(int row, int col) const {
    return row >= 0 && row < rows() && col >= 0 && col < cols_;
}

QString GridModel::cell(int row, int col) const {
    return contains(row, col) ? cells_[row][col] : QString();
}

void GridModel::setCell(int row, int col, const QString& text) {
    if (forwarded([=, this] { setCell(row, col, text); })) return;
    if (!contains(row, col)) return;
    cells_[row][col] = text;
    if (row == 0)
        emit headerDataChanged(Qt::Horizontal, col, col);
    else
        emit dataChanged(index(row - 1, col), index(row - 1, col));
}

QStringList GridModel::rowTexts(int row) const {
    return row >= 0 && row < rows() ? cells_[row] : QStringList(cols_, QString());
}

void GridModel::setRowTexts(int row, const QStringList& texts) {
    if (forwarded([=, this] { setRowTexts(row, texts); })) return;
    for (int col = 0; col < cols_; ++col)
        setCell(row, col, texts.value(col));
}

void GridModel::setRows(int count) {
    if (forwarded([=, this] { setRows(count); })) return;
    count = std::max(count, 1);
    const int dataRows = rows() - 1;
    const int newDataRows = count - 1;
    if (newDataRows > dataRows) {
        beginInsertRows({}, dataRows, newDataRows - 1);
        while (rows() < count)
            cells_.append(QStringList(cols_, QString()));
        endInsertRows();
    } else if (newDataRows < dataRows) {
        beginRemoveRows({}, newDataRows, dataRows - 1);
        cells_.resize(count);
        endRemoveRows();
        if (currentRow_ >= count) setCurrentRow(count - 1);
    }
}

void GridModel::clearData() {
    if (forwarded([this] { clearData(); })) return;
    // Cutting first and emptying the one data row left is the same as emptying
    // every row and then cutting, with far fewer change signals.
    setRows(2);
    setRowTexts(1, {});
    setCurrentRow(0);
}

void GridModel::removeDataRow(int row) {
    if (forwarded([=, this] { removeDataRow(row); })) return;
    // Only a row that holds something is removed; the header always stays.
    if (row < 1 || row >= rows() || rowTexts(row).join(QString()).isEmpty()) return;
    for (int r = row; r < rows() - 1; ++r)
        setRowTexts(r, rowTexts(r + 1));
    setRows(std::max(rows() - 1, 2));
    if (rows() == 2 && row == 1) setRowTexts(1, {});
    setCurrentRow(0);
}

void GridModel::setCurrentRow(int row) {
    if (row == currentRow_) return;
    currentRow_ = row;
    emit currentRowChanged(row);
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows() - 1;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return cell(index.row() + 1, index.column());
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return cell(0, section);
    return section + 1;
}

}  // namespace tarnel
