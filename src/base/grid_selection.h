#pragma once

#include <QObject>
#include <QString>

namespace tarnel {

class GridModel;

// What a change is sent to: the meter of the highlighted row, as its cells
// read when the button was pressed.
struct MeterTarget {
    int row = 0;
    int address = -1;  // the "Addr " cell as a number; -1 when it is none
    QString id;        // the " ID " cell

    bool valid() const { return row >= 1 && address >= 0; }
};

// The selection of a grid is its highlighted row, and nothing else: the row
// the view, the keyboard, a decoder, a transfer or a file load made current.
// Its address and identification number are read from that row's cells each
// time they are asked for, so the label, the highlight and the target of a
// change cannot disagree.
class GridSelection : public QObject {
    Q_OBJECT
public:
    // " ID " in column 0 and "Addr " in column 1, as in both meter grids.
    explicit GridSelection(GridModel& grid, QObject* parent = nullptr);

    int row() const;
    MeterTarget target() const;
    int address() const { return target().address; }
    // "Selected: " and the address (-1 for none).
    QString label() const;

    // Highlights `row` (0: none). Selecting the current row again tells the
    // label again.
    void select(int row);
    void clear() { select(0); }

signals:
    void changed(const QString& label);

private:
    void tell();

    GridModel& grid_;
};

}  // namespace tarnel
