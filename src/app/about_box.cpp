#include "app/about_box.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/form_builder.h"

namespace tarnel {

using namespace form;

TFAbout::TFAbout(QWidget* parent) : QDialog(parent, Qt::WindowStaysOnTopHint) {
    setObjectName("TFAbout");
    setWindowTitle("Tarnel -> About");
    setFixedSize(380, 280);

    QLabel* title = label("Tarnel v1.0.1.72");
    QFont font = title->font();
    font.setPointSize(16);
    font.setBold(true);
    title->setFont(font);
    QPushButton* close = button("ButtonClose", "Close");
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout =
        column({title, label("This software is developed to ease BMS installers and cients.."),
                label("The software is intended to make setting of Velgate devices easier."),
                label("The user take this software as it is. For updates  contact us."), nullptr});
    layout->addLayout(row({nullptr, close}));
    setLayout(layout);
    for (QLabel* line : findChildren<QLabel*>())
        line->setWordWrap(true);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm2");
    setWindowTitle("New address");
    const Spin address = spin("Edit1", "UD_newAddress", 1, 250, 1);
    auto* layout = column({address.row, nullptr});
    layout->addLayout(row({button("ButtonGo", "Go"), button("ButtonCancel", "Cancel")}));
    setLayout(layout);
}

}  // namespace tarnel
