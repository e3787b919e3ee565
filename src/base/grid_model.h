#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>
#include <functional>

namespace tarnel {

// A string grid as the operations see it: row 0 is the header, rows 1 and
// below hold data, and a grid that is being filled ends in one empty row (a
// new row is written into the last row, then a row is added). Cells outside
// the grid read as empty; writes outside it are ignored.
//
// The grid belongs to its thread: a change made on another thread (a
// worker) is carried there and made in the order of the calls; reads are for
// the grid's own thread.
//
// For Qt views the header row becomes the horizontal header and data row r
// becomes view row r - 1.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // A grid of `headers.size()` columns with the header row and one empty row.
    explicit GridModel(const QStringList& headers, QObject* parent = nullptr);

    int rows() const { return static_cast<int>(cells_.size()); }
    int cols() const { return cols_; }
    QString cell(int row, int col) const;
    void setCell(int row, int col, const QString& text);
    QStringList rowTexts(int row) const;
    void setRowTexts(int row, const QStringList& texts);
    // Grows with empty rows or cuts rows off the end; the header row always stays.
    void setRows(int count);
    // Empties every data cell and leaves the header and one empty row;
    // no row is current.
    void clearData();
    // Removes data row `row` unless it is empty, moving the rows below it
    // up; the header and one data row always stay. No row is current after.
    void removeDataRow(int row);

    // The row with the keyboard focus in the view, 0 before any selection.
    int currentRow() const { return currentRow_; }
    void setCurrentRow(int row);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void currentRowChanged(int row);

private:
    bool contains(int row, int col) const;
    // True when the change was handed to the grid's thread.
    bool forwarded(std::function<void()> change);

    int cols_;
    QVector<QStringList> cells_;
    int currentRow_ = 0;
};

}  // namespace tarnel
