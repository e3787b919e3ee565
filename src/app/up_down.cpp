#include "app/up_down.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnel {

UpDown::UpDown(int minimum, int maximum, int increment, int position, QWidget* parent)
    : QWidget(parent),
      minimum_(minimum),
      maximum_(maximum),
      increment_(increment),
      position_(std::clamp(position, minimum, maximum)),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFixedSize(16, 11);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    setFixedWidth(16);
}

void UpDown::setAssociate(QLineEdit* edit) {
    edit_ = edit;
    if (!edit_) return;
    edit_->setText(QString::number(position_));
    // Enter or leaving the box: it shows what will be used.
    connect(edit_, &QLineEdit::editingFinished, this, [this] {
        position();
        showPosition();
    });
}

int UpDown::position() const {
    if (!edit_) return position_;
    bool ok = false;
    const int typed = edit_->text().toInt(&ok);
    if (ok) position_ = std::clamp(typed, minimum_, maximum_);
    if (!edit_->hasFocus()) showPosition();  // not while the user types
    return position_;
}

void UpDown::showPosition() const {
    const QString used = QString::number(position_);
    if (edit_ && edit_->text() != used) edit_->setText(used);
}

void UpDown::setPosition(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    if (edit_) edit_->setText(QString::number(position_));
    emit positionChanged(position_);
}

void UpDown::step(int direction) {
    setPosition(position() + direction * increment_);
}

}  // namespace tarnel
