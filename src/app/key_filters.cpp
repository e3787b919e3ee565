#include "app/key_filters.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace tarnel {

void installKeyFilters(QWidget& root) {
    const struct {
        const char* pattern;
        QStringList controls;
    } filters[] = {
        {"[0-9.]*", {"Edit_lanxp_ip", "Edit_ip"}},
        {"[0-9]*",
         {"Edit_lanxp_port", "Edit_tcpPort", "Combo_com2_speed", "Combo_com2_stop",
          "EditInputAddress", "EditInputCount", "EditTimeoutModbus", "EditAddressModbus",
          "Edit_address", "editReadoutMinutes", "editAddressFrom", "editAddressTo", "Edit1",
          "editTimeouts", "Edit_timeout", "Edit_id", "Edit_valuePulses", "Edit_retry",
          "Edit_eth_timeout"}},
        {"[0-9Ff]*", {"editID"}},
    };
    for (const auto& filter : filters) {
        auto* validator =
            new QRegularExpressionValidator(QRegularExpression(filter.pattern), &root);
        for (const QString& name : filter.controls) {
            for (QLineEdit* edit : root.findChildren<QLineEdit*>(name))
                edit->setValidator(validator);
            for (QComboBox* combo : root.findChildren<QComboBox*>(name))
                combo->setValidator(validator);
        }
    }
    // An ID's wildcard shows as "F" however it was typed.
    for (QLineEdit* edit : root.findChildren<QLineEdit*>("editID"))
        QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
            const int at = edit->cursorPosition();
            edit->setText(text.toUpper());
            edit->setCursorPosition(at);
        });
}

}  // namespace tarnel
