#pragma once

#include <QPointer>
#include <QWidget>

#include <QLineEdit>
class QToolButton;

namespace tarnel {

// An up-down control bound to an edit box: the arrows step the position by
// `increment` within [minimum, maximum] and write it into the edit; position()
// reads the edit back, so a number typed there counts too. Text that is not a
// number leaves the last position; a number out of range is clamped, and the
// edit shows the position used as soon as it is not being typed in.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(int minimum, int maximum, int increment, int position, QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const { return edit_; }

    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int increment() const { return increment_; }
    int position() const;
    void setPosition(int position);

signals:
    void positionChanged(int position);

private:
    void step(int direction);
    void showPosition() const;

    int minimum_;
    int maximum_;
    int increment_;
    mutable int position_;
    QPointer<QLineEdit> edit_;
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace tarnel
