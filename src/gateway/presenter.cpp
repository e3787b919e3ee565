#include "gateway/presenter.h"

#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_lines.h"
#include "gateway/gateway_status.h"
#include "gateway/register_view.h"
#include "link/response_parsers.h"
#include "mbus/device_entry.h"
#include "mbus/loops_grid.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "ops/mbus_lines.h"
#include "ops/meter_changes.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel {
namespace {

// An entry of the gateway's table as the device grid lists it.
QStringList deviceRow(const TModbusDevice& device) {
    QStringList texts;
    for (const std::string& text : DeviceRowTexts(device, SystemDecimalSeparator()))
        texts << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return texts;
}

}  // namespace

Presenter::Presenter(const Views& views, QObject* parent) : QObject(parent), views_(views) {}

void Presenter::write(const QStringList& lines) {
    for (const QString& line : lines)
        views_.log.append(line);
}

void Presenter::show(const MbusEvent& event) {
    write(MbusEventLines(event));
    if (std::holds_alternative<mbus_event::ClearMeters>(event)) views_.meters.clearData();
    if (const auto* decoded = std::get_if<mbus_event::Decoded>(&event);
        decoded && decoded->telegram.row)
        UpdateLoopsGrid(views_.meters, *decoded->telegram.row, decoded->update);
}

void Presenter::showGateway(const GatewayEvent& event) {
    using namespace gateway_event;
    write(GatewayEventLines(event));
    if (const auto* reception = std::get_if<Reception>(&event); reception && reception->crcError)
        views_.status.markCrcError();
    GridModel& registers = views_.registers;
    if (std::holds_alternative<ClearRegisters>(event)) registers.clearData();
    if (const auto* read = std::get_if<RegistersRead>(&event)) {
        int number = read->start;
        for (const Register& r : read->registers)
            AddRegisterRow(registers, r.high, r.low, registers.rows() - 1, number++, read->at);
    }
    if (const auto* entry = std::get_if<EntryDecoded>(&event)) {
        GridModel& devices = views_.devices;
        devices.setRowTexts(devices.rows() - 1, deviceRow(entry->entry.device));
        devices.setRows(devices.rows() + 1);
    }
}

void Presenter::watch(BusyRule& busy) {
    connect(&busy, &BusyRule::refused, this, [this](Operation asked, Operation running) {
        views_.log.append(BusyRefusalLine(asked, running));
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
            [this](int row) { views_.meters.setCurrentRow(row); });
    connect(&changes, &MeterChanges::bulkFinished, this,
            [this](const BulkAddressResult& result) { write(BulkAddressLines(result)); });
}

void Presenter::watch(CommandConsole& console) {
    connect(&console, &CommandConsole::event, this, &Presenter::show);
}

void Presenter::watch(RegisterView& view) {
    connect(&view, &RegisterView::event, this, &Presenter::showGateway);
    connect(&view, &RegisterView::readFinished, this,
            [this](const RegisterReadResult& result) { write(RegisterReadLines(result)); });
    connect(&view, &RegisterView::commandFinished, this,
            [this](const CommandResult& result) { write(CommandLines(result)); });
}

void Presenter::watch(GatewayCommands& commands) {
    connect(&commands, &GatewayCommands::event, this, &Presenter::showGateway);
}

void Presenter::watch(GatewayStatus& status) {
    connect(&status, &GatewayStatus::event, this, &Presenter::showGateway);
}

void Presenter::watch(DeviceTable& table) {
    connect(&table, &DeviceTable::event, this, &Presenter::showGateway);
    connect(&table, &DeviceTable::readOutFinished, this,
            [this](const TableReadResult& result) { write(TableReadLines(result)); });
}

void Presenter::watch(BulkActivation& bulk) {
    connect(&bulk, &BulkActivation::event, this, &Presenter::showGateway);
    connect(&bulk, &BulkActivation::finished, this,
            [this](const ActivationResult& result) { write(ActivationLines(result)); });
}

void Presenter::loaded(TableLoad load, const QString& path) {
    write(TableLoadLines(load, path));
}

}  // namespace tarnel
