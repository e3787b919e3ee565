// The main window's side of the secondary search and the primary-address
// change: "Find by ID", "Set" and "Change Primary".
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "app/up_down.h"
#include "ops/secondary_search.h"

namespace tarnel {
namespace {

// The controls a running search keeps from starting another operation.
const char* const kSearchExclusive[] = {"BitBtn1",  "BitBtn19", "buttonReadModbus", "BitBtn22",
                                        "BitBtn21", "Button4",  "Butt_activateall"};

}  // namespace

void TForm1::wireSearchHandlers() {
    SecondarySearch& search = program_->search();
    connect(control<QPushButton>("BitBtn21"), &QPushButton::clicked, this,
            [this] { guarded([this] { BitBtn21Click(); }); });
    connect(control<QPushButton>("BitBtn23"), &QPushButton::clicked, this,
            [this] { guarded([this] { BitBtn23Click(); }); });
    connect(control<QAction>("ChangePrAddr1"), &QAction::triggered, this,
            [this] { guarded([this] { BitBtn23Click(); }); });
    connect(&search, &SecondarySearch::searchControlsEnabled, this, [this](bool enabled) {
        for (const char* name : kSearchExclusive)
            control<QWidget>(name)->setEnabled(enabled);
        control<QLineEdit>("editID")->setEnabled(enabled);
        if (enabled) control<QPushButton>("BitBtn23")->setEnabled(true);
    });
    connect(&search, &SecondarySearch::selectionChanged, control<QLabel>("Label16"),
            &QLabel::setText);
}

SecondarySearch::Settings TForm1::searchSettings() const {
    return {slaveAddress(), control<UpDown>("UD_timeout")->position(),
            control<UpDown>("UD_retry")->position()};
}

void TForm1::BitBtn21Click() {
    if (const auto retries =
            program_->search().start(control<QLineEdit>("editID")->text(), searchSettings()))
        control<UpDown>("UD_retry")->setPosition(*retries);
}

// "Set" and the pop-up "Change Primary".
void TForm1::BitBtn23Click() {
    if (const auto retries = program_->search().changeAddress(
            control<UpDown>("UD_address")->position(), searchSettings()))
        control<UpDown>("UD_retry")->setPosition(*retries);
}

}  // namespace tarnel
