#pragma once

#include <QObject>
#include <QStringList>

#include "link/link_events.h"
#include "ops/mbus_events.h"

namespace tarnel {

class BusyRule;
class CommandConsole;
class Dialogs;
class GatewayLink;
class GridModel;
class Log;
class MeterChanges;
class PrimaryScan;
class SecondarySearch;
class StatusPanels;

// The one place that words what the operations tell: it turns their typed
// events and results into the log's lines (the tables of `mbus_lines`) and
// the grids' rows. The operations only tell; the window and the command line
// see the log and the grids it writes.
class Presenter : public QObject {
    Q_OBJECT
public:
    explicit Presenter(Log& log, QObject* parent = nullptr);

    // Each operation is watched before anything else listens to it, so that
    // its lines come before what its listeners log.
    // The link's events go to the log, the status bar's link and CRC panels
    // and, for a port that would not open, a message to the user.
    void watch(GatewayLink& link, StatusPanels& status, Dialogs& dialogs);
    void watch(BusyRule& busy);
    // `meters` is the M-Bus meter grid the scan, the search and the bulk
    // address change show their meters in.
    void watch(PrimaryScan& scan, GridModel& meters);
    void watch(SecondarySearch& search, GridModel& meters);
    void watch(MeterChanges& changes, GridModel& meters);
    void watch(CommandConsole& console);

private:
    void show(const MbusEvent& event, GridModel& meters);
    void showLink(const LinkEvent& event, StatusPanels& status, Dialogs& dialogs);
    void write(const QStringList& lines);

    Log& log_;
};

}  // namespace tarnel
