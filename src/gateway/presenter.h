#pragma once

#include <QObject>
#include <QStringList>

#include "gateway/gateway_events.h"
#include "gateway/table_files.h"
#include "ops/mbus_events.h"

namespace tarnel {

class BulkActivation;
class BusyRule;
class CommandConsole;
class DeviceTable;
class GatewayCommands;
class GatewayStatus;
class GridModel;
class Log;
class MeterChanges;
class PrimaryScan;
class RegisterView;
class SecondarySearch;
class StatusPanels;

// The one place that words what the operations tell: it turns their typed
// events and results into the log's lines (the tables of `mbus_lines` and
// `gateway_lines`), the grids' rows and the status bar's CRC mark. The
// operations only tell; the window and the command line see the log, the
// panels and the grids it writes.
class Presenter : public QObject {
    Q_OBJECT
public:
    // What the presenter writes.
    struct Views {
        Log& log;
        StatusPanels& status;
        GridModel& meters;     // the M-Bus meter grid
        GridModel& devices;    // the device grid
        GridModel& registers;  // the register grid
    };

    explicit Presenter(const Views& views, QObject* parent = nullptr);

    // Each operation is watched before anything else listens to it, so that
    // its lines come before what its listeners log.
    void watch(BusyRule& busy);
    void watch(PrimaryScan& scan);
    void watch(SecondarySearch& search);
    void watch(MeterChanges& changes);
    void watch(CommandConsole& console);
    void watch(RegisterView& view);
    void watch(GatewayCommands& commands);
    void watch(GatewayStatus& status);
    void watch(DeviceTable& table);
    void watch(BulkActivation& bulk);

    // A table file loaded from `path` into a grid: a refused length is told.
    void loaded(TableLoad load, const QString& path);

private:
    void show(const MbusEvent& event);
    void showGateway(const GatewayEvent& event);
    void write(const QStringList& lines);

    Views views_;
};

}  // namespace tarnel
