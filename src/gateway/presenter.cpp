#include "gateway/presenter.h"

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "ops/mbus_lines.h"
#include "ops/meter_changes.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel {

Presenter::Presenter(Log& log, QObject* parent) : QObject(parent), log_(log) {}

void Presenter::write(const QStringList& lines) {
    for (const QString& line : lines)
        log_.append(line);
}

void Presenter::show(const MbusEvent& event, GridModel& meters) {
    write(MbusEventLines(event));
    if (std::holds_alternative<mbus_event::ClearMeters>(event)) meters.clearData();
    if (const auto* decoded = std::get_if<mbus_event::Decoded>(&event);
        decoded && decoded->telegram.row)
        UpdateLoopsGrid(meters, *decoded->telegram.row, decoded->update);
}

void Presenter::watch(GatewayLink& link, StatusPanels& status, Dialogs& dialogs) {
    connect(&link, &GatewayLink::event, this, [this, &status, &dialogs](const LinkEvent& event) {
        showLink(event, status, dialogs);
    });
}

void Presenter::showLink(const LinkEvent& event, StatusPanels& status, Dialogs& dialogs) {
    using namespace link_event;
    if (const auto* closed = std::get_if<SerialClosed>(&event))
        status.setSerial(closed->port + " is closed");
    else if (const auto* refused = std::get_if<SerialRefused>(&event))
        status.setSerial(refused->port + " is closed");
    else if (const auto* opened = std::get_if<SerialOpened>(&event))
        status.setSerial(opened->caption);
    else if (const auto* connected = std::get_if<TcpConnected>(&event))
        status.setTcp(QStringLiteral("Connected to ") + connected->host);
    else if (std::holds_alternative<TcpDisconnected>(event))
        status.setTcp(QStringLiteral("Disconnected TCP "));
    else if (const auto* reported = std::get_if<Reported>(&event); reported && reported->crcError)
        status.markCrcError();
    write(LinkEventLines(event));
    if (std::holds_alternative<SerialRefused>(event))
        dialogs.warning("Connect to port", "This serial port is already in use!");
    else if (const auto* failed = std::get_if<SerialOpenFailed>(&event))
        dialogs.message(failed->message);
}

void Presenter::watch(BusyRule& busy) {
    connect(&busy, &BusyRule::refused, this, [this](Operation asked, Operation running) {
        log_.append(BusyRefusalLine(asked, running));
    });
}

void Presenter::watch(PrimaryScan& scan, GridModel& meters) {
    connect(&scan, &PrimaryScan::event, this,
            [this, &meters](const MbusEvent& event) { show(event, meters); });
    connect(&scan, &PrimaryScan::finished, this,
            [this](const MbusRunResult& result) { write(MbusRunLines(result)); });
}

void Presenter::watch(SecondarySearch& search, GridModel& meters) {
    connect(&search, &SecondarySearch::event, this,
            [this, &meters](const MbusEvent& event) { show(event, meters); });
    connect(&search, &SecondarySearch::finished, this,
            [this](const SearchResult& result) { write(SearchLines(result)); });
}

void Presenter::watch(MeterChanges& changes, GridModel& meters) {
    connect(&changes, &MeterChanges::event, this,
            [this, &meters](const MbusEvent& event) { show(event, meters); });
    connect(&changes, &MeterChanges::rowStarted, this,
            [&meters](int row) { meters.setCurrentRow(row); });
    connect(&changes, &MeterChanges::bulkFinished, this,
            [this](const BulkAddressResult& result) { write(BulkAddressLines(result)); });
}

void Presenter::watch(CommandConsole& console) {
    connect(&console, &CommandConsole::event, this,
            [this](const MbusEvent& event) { write(MbusEventLines(event)); });
}

}  // namespace tarnel
