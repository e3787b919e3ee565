#include "gateway/presenter.h"

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_lines.h"
#include "gateway/gateway_status.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
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

void showRegisters(const GatewayEvent& event, GridModel& registers) {
    using namespace gateway_event;
    if (std::holds_alternative<ClearRegisters>(event)) registers.clearData();
    if (const auto* read = std::get_if<RegistersRead>(&event)) {
        int number = read->start;
        for (const Register& value : read->registers) {
            registers.setRowTexts(registers.rows() - 1,
                                  RegisterRowTexts(value, number++, read->at));
            registers.setRows(registers.rows() + 1);
        }
    }
}

void showEntry(const GatewayEvent& event, GridModel& devices) {
    const auto* entry = std::get_if<gateway_event::EntryDecoded>(&event);
    if (!entry) return;
    if (entry->replacing) {
        // The row the entry's first reading made: the last that shows it.
        const QStringList old = TableEntryTexts(*entry->replacing);
        for (int row = devices.rows() - 1; row >= 1; --row) {
            if (devices.rowTexts(row).mid(0, old.size()) != old) continue;
            devices.setRowTexts(row, TableEntryTexts(entry->entry));
            return;
        }
        return;
    }
    devices.setRowTexts(devices.rows() - 1, TableEntryTexts(entry->entry));
    devices.setRows(devices.rows() + 1);
}

}  // namespace

Presenter::Presenter(Log& log, StatusPanels& status, QObject* parent)
    : QObject(parent), log_(log), status_(status) {}

void Presenter::write(const QStringList& lines) {
    for (const QString& line : lines)
        log_.append(line);
}

// --- the link ----------------------------------------------------------------

void Presenter::watch(GatewayLink& link, Dialogs& dialogs) {
    connect(&link, &GatewayLink::event, this,
            [this, &dialogs](const LinkEvent& event) { showLink(event, dialogs); });
}

void Presenter::showLink(const LinkEvent& event, Dialogs& dialogs) {
    using namespace link_event;
    if (const auto* closed = std::get_if<SerialClosed>(&event))
        status_.setSerial(closed->port + " is closed");
    else if (const auto* refused = std::get_if<SerialRefused>(&event))
        status_.setSerial(refused->port + " is closed");
    else if (const auto* opened = std::get_if<SerialOpened>(&event))
        status_.setSerial(opened->caption);
    else if (const auto* connected = std::get_if<TcpConnected>(&event))
        status_.setTcp(QStringLiteral("Connected to ") + connected->host);
    else if (std::holds_alternative<TcpDisconnected>(event))
        status_.setTcp(QStringLiteral("Disconnected TCP "));
    else if (const auto* reported = std::get_if<Reported>(&event); reported && reported->crcError)
        status_.markCrcError();
    write(LinkEventLines(event));
    if (std::holds_alternative<SerialRefused>(event))
        dialogs.warning("Connect to port", "This serial port is already in use!");
    else if (const auto* failed = std::get_if<SerialOpenFailed>(&event))
        dialogs.message(failed->message);
}

// --- the M-Bus operations ------------------------------------------------------

void Presenter::watch(BusyRule& busy) {
    connect(&busy, &BusyRule::refused, this, [this](Operation asked, Operation running) {
        log_.append(BusyRefusalLine(asked, running));
    });
}

void Presenter::showMbus(const MbusEvent& event, GridModel& meters) {
    write(MbusEventLines(event));
    if (std::holds_alternative<mbus_event::ClearMeters>(event)) meters.clearData();
    if (const auto* decoded = std::get_if<mbus_event::Decoded>(&event);
        decoded && decoded->telegram.row)
        UpdateLoopsGrid(meters, *decoded->telegram.row, decoded->update);
}

void Presenter::watch(PrimaryScan& scan, GridModel& meters) {
    connect(&scan, &PrimaryScan::event, this,
            [this, &meters](const MbusEvent& event) { showMbus(event, meters); });
    connect(&scan, &PrimaryScan::finished, this,
            [this](const MbusRunResult& result) { write(MbusRunLines(result)); });
}

void Presenter::watch(SecondarySearch& search, GridModel& meters) {
    connect(&search, &SecondarySearch::event, this,
            [this, &meters](const MbusEvent& event) { showMbus(event, meters); });
    connect(&search, &SecondarySearch::finished, this,
            [this](const SearchResult& result) { write(SearchLines(result)); });
}

void Presenter::watch(MeterChanges& changes, GridModel& meters) {
    connect(&changes, &MeterChanges::event, this,
            [this, &meters](const MbusEvent& event) { showMbus(event, meters); });
    connect(&changes, &MeterChanges::rowStarted, this,
            [&meters](int row) { meters.setCurrentRow(row); });
    connect(&changes, &MeterChanges::bulkFinished, this,
            [this](const BulkAddressResult& result) { write(BulkAddressLines(result)); });
}

void Presenter::watch(CommandConsole& console) {
    connect(&console, &CommandConsole::event, this,
            [this](const MbusEvent& event) { write(MbusEventLines(event)); });
}

// --- the gateway operations ----------------------------------------------------

void Presenter::showGateway(const GatewayEvent& event) {
    write(GatewayEventLines(event));
    if (const auto* reception = std::get_if<gateway_event::Reception>(&event);
        reception && reception->crcError)
        status_.markCrcError();
}

void Presenter::watch(RegisterView& view, GridModel& registers) {
    connect(&view, &RegisterView::event, this, [this, &registers](const GatewayEvent& event) {
        showGateway(event);
        showRegisters(event, registers);
    });
    connect(&view, &RegisterView::readFinished, this,
            [this](const RegisterReadResult& result) { write(RegisterReadLines(result)); });
    connect(&view, &RegisterView::commandFinished, this,
            [this](const CommandResult& result) { write(CommandLines(result)); });
}

void Presenter::watch(GatewayCommands& commands, Dialogs& dialogs) {
    connect(&commands, &GatewayCommands::event, this, [this, &dialogs](const GatewayEvent& event) {
        showGateway(event);
        if (const auto* baud = std::get_if<gateway_event::NotABaudRate>(&event))
            dialogs.warning(
                "Write baud and parity",
                QStringLiteral("\"%1\" is not a baud rate. Choose one of the listed rates.")
                    .arg(baud->text));
    });
}

void Presenter::watch(GatewayStatus& status) {
    connect(&status, &GatewayStatus::event, this, &Presenter::showGateway);
    connect(&status, &GatewayStatus::finished, this,
            [this](const StatusResult& result) { write(StatusLines(result)); });
}

void Presenter::watch(DeviceTable& table, GridModel& devices) {
    connect(&table, &DeviceTable::event, this, [this, &devices](const GatewayEvent& event) {
        showGateway(event);
        showEntry(event, devices);
    });
    connect(&table, &DeviceTable::readOutFinished, this,
            [this](const TableReadResult& result) { write(TableReadLines(result)); });
}

void Presenter::watch(BulkActivation& bulk) {
    connect(&bulk, &BulkActivation::event, this, &Presenter::showGateway);
    connect(&bulk, &BulkActivation::finished, this,
            [this](const ActivationResult& result) { write(ActivationLines(result)); });
}

void Presenter::tell(const FaceEvent& event) {
    write(FaceEventLines(event));
}

void Presenter::loaded(TableLoad load, const QString& path) {
    write(TableLoadLines(load, path));
}

}  // namespace tarnel
