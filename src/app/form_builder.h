#pragma once

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "app/up_down.h"

namespace tarnel {

class Clock;
class GridModel;

// Helpers that make the window's controls. Every control gets the objectName
// by which its handlers, the settings file and the tests find it.
namespace form {

QPushButton* button(const char* name, const QString& caption);
QCheckBox* checkBox(const char* name, const QString& caption, bool checked = false);
// An edit box; maxLength 0 means no limit.
QLineEdit* edit(const char* name, int maxLength = 0, const QString& text = {});
// An editable combo box: it shows any text, listed or not.
QComboBox* combo(const char* name, const QStringList& items, const QString& text);
QLabel* label(const QString& caption, const char* name = nullptr);
// An edit box with its up-down control beside it, in one row.
struct Spin {
    QWidget* row;
    QLineEdit* edit;
    UpDown* upDown;
};
Spin spin(const char* editName, const char* upDownName, int minimum, int maximum, int position,
          int increment = 1, int maxLength = 0);
// A string grid: a view of `model` with the model's header row as its fixed
// header, columns as wide as their header and cells need (the user may drag
// them; fitted by `clock`'s time) and, optionally, whole-row selection.
QTableView* grid(const char* name, GridModel* model, Clock& clock, bool wholeRows);

// Lays widgets out in a row (or a column); nullptr adds a stretch.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets);
QVBoxLayout* column(std::initializer_list<QWidget*> widgets);
QWidget* hidden(QWidget* widget);

}  // namespace form
}  // namespace tarnel
