#include "gateway/presenter.h"

#include "base/grid_model.h"
#include "base/log.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "ops/mbus_lines.h"
#include "ops/meter_changes.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel {

Presenter::Presenter(Log& log, GridModel& meters, QObject* parent)
    : QObject(parent), log_(log), meters_(meters) {}

void Presenter::write(const QStringList& lines) {
    for (const QString& line : lines)
        log_.append(line);
}

void Presenter::show(const MbusEvent& event) {
    write(MbusEventLines(event));
    if (std::holds_alternative<mbus_event::ClearMeters>(event)) meters_.clearData();
    if (const auto* decoded = std::get_if<mbus_event::Decoded>(&event);
        decoded && decoded->telegram.row)
        UpdateLoopsGrid(meters_, *decoded->telegram.row, decoded->update);
}

void Presenter::watch(BusyRule& busy) {
    connect(&busy, &BusyRule::refused, this, [this](Operation asked, Operation running) {
        log_.append(BusyRefusalLine(asked, running));
    });
}

void Presenter::watch(PrimaryScan& scan) {
    connect(&scan, &PrimaryScan::event, this, &Presenter::show);
    connect(&scan, &PrimaryScan::finished, this,
            [this](const MbusRunResult& result) { write(MbusRunLines(result)); });
}

void Presenter::watch(SecondarySearch& search) {
    connect(&search, &SecondarySearch::event, this, &Presenter::show);
    connect(&search, &SecondarySearch::finished, this,
            [this](const SearchResult& result) { write(SearchLines(result)); });
}

void Presenter::watch(MeterChanges& changes) {
    connect(&changes, &MeterChanges::event, this, &Presenter::show);
    connect(&changes, &MeterChanges::rowStarted, this,
            [this](int row) { meters_.setCurrentRow(row); });
    connect(&changes, &MeterChanges::bulkFinished, this,
            [this](const BulkAddressResult& result) { write(BulkAddressLines(result)); });
}

void Presenter::watch(CommandConsole& console) {
    connect(&console, &CommandConsole::event, this, &Presenter::show);
}

}  // namespace tarnel
