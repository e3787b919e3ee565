#pragma once

#include <QObject>
#include <QStringList>

#include "gateway/face_events.h"
#include "gateway/gateway_events.h"
#include "gateway/table_files.h"
#include "link/link_events.h"
#include "ops/mbus_events.h"

namespace tarnel {

class BulkActivation;
class BusyRule;
class CommandConsole;
class DeviceTable;
class Dialogs;
class GatewayCommands;
class GatewayLink;
class GatewayStatus;
class GridModel;
class Log;
class MeterChanges;
class PrimaryScan;
class RegisterView;
class SecondarySearch;
class StatusPanels;

// The one place that words what the link and the operations tell: it turns
// their typed events and results into the log's lines (the tables of
// `link_lines`, `mbus_lines` and `gateway_lines`), the grids' rows and the
// status bar's texts. The operations only tell; the window and the command
// line see the log, the panels and the grids it writes.
class Presenter : public QObject {
    Q_OBJECT
public:
    Presenter(Log& log, StatusPanels& status, QObject* parent = nullptr);

    // Each is watched before anything else listens to it, so that its lines
    // come before what its listeners log. A port that would not open is also
    // said to the user through `dialogs`.
    void watch(GatewayLink& link, Dialogs& dialogs);
    void watch(BusyRule& busy);
    // `meters` is the M-Bus meter grid the scan, the search and the bulk
    // address change show their meters in.
    void watch(PrimaryScan& scan, GridModel& meters);
    void watch(SecondarySearch& search, GridModel& meters);
    void watch(MeterChanges& changes, GridModel& meters);
    void watch(CommandConsole& console);
    void watch(RegisterView& view, GridModel& registers);
    // A baud rate that is not a number is said to the user through `dialogs`.
    void watch(GatewayCommands& commands, Dialogs& dialogs);
    void watch(GatewayStatus& status);
    void watch(DeviceTable& table, GridModel& devices);
    void watch(BulkActivation& bulk);

    // A table file loaded from `path` into a grid: a refused length is told.
    void loaded(TableLoad load, const QString& path);
    // What the window's own actions tell.
    void tell(const FaceEvent& event);

private:
    void showLink(const LinkEvent& event, Dialogs& dialogs);
    void showMbus(const MbusEvent& event, GridModel& meters);
    void showGateway(const GatewayEvent& event);
    void write(const QStringList& lines);

    Log& log_;
    StatusPanels& status_;
};

}  // namespace tarnel
