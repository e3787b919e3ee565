// Below the pages: the custom command console, the log buttons and the log.
#include "app/form_builder.h"
#include "app/log_view.h"
#include "app/window_parts.h"

namespace tarnel {

using namespace form;

QWidget* buildConsoleAndLog() {
    auto* area = new QWidget;
    area->setObjectName("ConsoleAndLog");

    auto* console = column({label("Send custom command", "Label4")});
    console->addLayout(
        row({checkBox("Check_ascii", "ASCII"), checkBox("Check_hex", "Hex"), nullptr}));
    console->addWidget(edit("Edit_command", 250));
    console->addLayout(row({button("Butt_command_send", "Send"), nullptr}));
    console->addStretch(1);

    auto* print = button("BitBtn7", "Print");
    print->setEnabled(false);  // printing the log is not offered
    auto* logButtons =
        column({print, button("BitBtn6", "Save log"), button("BitBtn5", "Clear log"), nullptr});

    auto* memo = new LogView;
    memo->setObjectName("Memo_current");
    auto* log = column({label("Log window")});
    log->addWidget(memo, 1);

    auto* layout = new QHBoxLayout(area);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->addLayout(console);
    layout->addLayout(logButtons);
    layout->addLayout(log, 1);
    return area;
}

}  // namespace tarnel
