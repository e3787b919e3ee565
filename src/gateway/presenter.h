#pragma once

#include <QObject>
#include <QStringList>

#include "ops/mbus_events.h"

namespace tarnel {

class BusyRule;
class CommandConsole;
class GridModel;
class Log;
class MeterChanges;
class PrimaryScan;
class SecondarySearch;

// The one place that words what the operations tell: it turns their typed
// events and results into the log's lines (the tables of `mbus_lines`) and
// the grids' rows. The operations only tell; the window and the command line
// see the log and the grids it writes.
class Presenter : public QObject {
    Q_OBJECT
public:
    // `meters` is the M-Bus meter grid.
    Presenter(Log& log, GridModel& meters, QObject* parent = nullptr);

    // Each operation is watched before anything else listens to it, so that
    // its lines come before what its listeners log.
    void watch(BusyRule& busy);
    void watch(PrimaryScan& scan);
    void watch(SecondarySearch& search);
    void watch(MeterChanges& changes);
    void watch(CommandConsole& console);

private:
    void show(const MbusEvent& event);
    void write(const QStringList& lines);

    Log& log_;
    GridModel& meters_;
};

}  // namespace tarnel
