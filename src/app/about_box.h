#pragma once

#include <QDialog>

namespace tarnel {

// The about box: name and version of the tool and three lines about it.
// Shown without blocking the main window, above other windows.
class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget* parent = nullptr);
};

// The small new-address dialog: an address edit with its up-down control and
// the buttons "Go" and "Cancel". Created at start-up; no operation opens it.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace tarnel
