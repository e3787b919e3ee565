// The main window's side of the secondary search and the meter changes:
// "Find by ID", "Set", "Set new value", "Set all addresses" and the meter
// grid's pop-up entries that change a meter.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QCheckBox>

#include "app/main_window.h"
#include "app/up_down.h"
#include "base/grid_selection.h"
#include "link/gateway_link.h"
#include "mbus/loops_grid.h"
#include "ops/meter_changes.h"
#include "ops/secondary_search.h"

namespace tarnel {
namespace {

// The "Change Medium" entries and the medium name each one looks up.
const struct {
    const char* action;
    const char* medium;
} kMediumEntries[] = {{"Oil1", "Oil"},         {"HotWater1", "Hot water"},
                      {"ColdWater1", "Water"}, {"Electricity1", "Electricity"},
                      {"Heat1", "Heat meter"}, {"Gas1", "Gas"},
                      {"NA1", "Unknown"}};

}  // namespace

void TForm1::wireChangeHandlers() {
    MeterChanges& changes = program_->meterChanges();
    for (const auto& entry : kMediumEntries)
        connect(control<QAction>(entry.action), &QAction::triggered, this,
                [this, medium = QString(entry.medium)] {
                    guarded([&] {
                        program_->meterChanges().changeMedium(program_->meterSelection().target(),
                                                              medium, scanSettings());
                    });
                });
    connect(control<QAction>("Setbaud300bps1"), &QAction::triggered, this,
            [this] { guarded([this] { Setbaud300bps1Click(); }); });
    connect(control<QAction>("Setbaud2400bps1"), &QAction::triggered, this,
            [this] { guarded([this] { Setbaud2400bps1Click(); }); });
    connect(control<QPushButton>("Button4"), &QPushButton::clicked, this,
            [this] { guarded([this] { Button4Click(); }); });
    connect(control<QPushButton>("BitBtn25"), &QPushButton::clicked, this,
            [this] { guarded([this] { BitBtn25Click(); }); });
    connect(control<QAction>("SetallPrimaryaddresses1"), &QAction::triggered, this,
            [this] { guarded([this] { BitBtn25Click(); }); });
    // At most one of "BCD" and "HEX" is checked.
    auto* bcd = control<QCheckBox>("Check_valueBCD");
    auto* hex = control<QCheckBox>("Check_valueHEX");
    connect(bcd, &QCheckBox::clicked, hex, [hex](bool on) {
        if (on) hex->setChecked(false);
    });
    connect(hex, &QCheckBox::clicked, bcd, [bcd](bool on) {
        if (on) bcd->setChecked(false);
    });
    connect(&changes, &MeterChanges::addressChanged, this,
            [this](int address) { control<UpDown>("UD_address")->setPosition(address); });
}

void TForm1::wireSearchHandlers() {
    wireChangeHandlers();
    connect(control<QPushButton>("BitBtn21"), &QPushButton::clicked, this,
            [this] { guarded([this] { BitBtn21Click(); }); });
    connect(control<QPushButton>("BitBtn23"), &QPushButton::clicked, this,
            [this] { guarded([this] { BitBtn23Click(); }); });
    connect(control<QAction>("ChangePrAddr1"), &QAction::triggered, this,
            [this] { guarded([this] { BitBtn23Click(); }); });
}

SecondarySearch::Settings TForm1::searchSettings() const {
    return {slaveAddress(), control<UpDown>("UD_timeout")->position(),
            control<UpDown>("UD_retry")->position()};
}

// A search for every meter asks whether to clear the table first.
void TForm1::BitBtn21Click() {
    const QString id = control<QLineEdit>("editID")->text();
    const bool clearTable = id.toUpper() == "FFFFFFFF" && clearTableAsked(Operation::Search);
    if (const auto retries = program_->search().start(id, searchSettings(), clearTable))
        control<UpDown>("UD_retry")->setPosition(*retries);
}

// "Set" and the pop-up "Change Primary". A new address at which the grid
// lists another meter is asked about first: both would then answer at once
// and collide, and a scan would find neither. Then the change itself is
// asked about, unless the link is down or no meter is selected, which the
// change then says. The change reads the new address before it moves the
// meter, and leaves it where it is when anything else answers there; only
// a collision the user accepted above is not checked again.
void TForm1::BitBtn23Click() {
    const MeterTarget target = program_->meterSelection().target();
    const int address = control<UpDown>("UD_address")->position();
    const QString other = OtherMeterAt(program_->gridLoops(), address, target.id);
    const bool listedThere = target.valid() && !other.isEmpty();
    if (listedThere &&
        !program_->dialogs().confirm(
            "Change address", QStringLiteral("Meter %1 answers at address %2 already: two meters "
                                             "at one address collide. Change anyway?")
                                  .arg(other)
                                  .arg(address)))
        return;
    if (program_->link().linkUp() && SecondarySearch::canChangeAddress(target) &&
        !program_->dialogs().confirm("Change address", "Are you sure changing Primary address?"))
        return;
    if (const auto retries =
            program_->search().changeAddress(target, address, searchSettings(), !listedThere))
        control<UpDown>("UD_retry")->setPosition(*retries);
}

void TForm1::Setbaud300bps1Click() {
    program_->meterChanges().changeBaudRate(program_->meterSelection().target(),
                                            MeterChanges::kBaud300, scanSettings());
}

void TForm1::Setbaud2400bps1Click() {
    program_->meterChanges().changeBaudRate(program_->meterSelection().target(),
                                            MeterChanges::kBaud2400, scanSettings());
}

// "Set new value": BCD when "BCD" is checked, else a 32-bit integer.
void TForm1::Button4Click() {
    const QString text = control<QLineEdit>("Edit_valuePulses")->text();
    std::optional<uint32_t> value;
    if (!text.isEmpty()) value = text.toUInt();
    program_->meterChanges().changeValue(program_->meterSelection().target(), value,
                                         control<QCheckBox>("Check_valueBCD")->isChecked(),
                                         scanSettings());
}

// "Set all addresses" and the pop-up "Set all Primary addresses".
void TForm1::BitBtn25Click() {
    if (const auto retries = program_->meterChanges().changeAllAddresses(scanSettings()))
        control<UpDown>("UD_retry")->setPosition(*retries);
}

}  // namespace tarnel
