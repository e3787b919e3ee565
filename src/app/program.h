#pragma once

#include <QObject>

#include "base/clock.h"
#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"

namespace tarnel {

// Where the program lives on disk.
struct ProgramPaths {
    QString executableFolder;  // log file, user manual, default data folder
    QString settingsFile;      // the INI file read at start and written at close
};

// The program-wide state that outlives every operation: the log, the status
// panels, the three grids and the data folder, with the clock and the dialogs
// everything runs on. No widget lives here; the window only shows it.
class Program : public QObject {
    Q_OBJECT
public:
    Program(Clock& clock, Dialogs& dialogs, ProgramPaths paths, QObject* parent = nullptr);

    Clock& clock() const { return clock_; }
    Dialogs& dialogs() const { return dialogs_; }
    const ProgramPaths& paths() const { return paths_; }

    Log& log() { return log_; }
    StatusPanels& status() { return status_; }
    GridModel& gridLoops() { return gridLoops_; }
    GridModel& gridDevices() { return gridDevices_; }
    GridModel& gridInputRegisters() { return gridInputRegisters_; }

    // One of the window's timers, by name (for example "Timer_modbus"). All
    // start stopped; each is single-shot but Timer_auto and
    // Timer_changePrimaryAll, which tick until stopped.
    Timer* timer(const QString& name) const;

    // The data folder: where table files are opened from first. Read from the
    // settings file at start and written back unchanged at close.
    const QString& dataFolder() const { return dataFolder_; }
    void setDataFolder(const QString& folder) { dataFolder_ = folder; }

private:
    Clock& clock_;
    Dialogs& dialogs_;
    ProgramPaths paths_;
    Log log_;
    StatusPanels status_;
    GridModel gridLoops_;
    GridModel gridDevices_;
    GridModel gridInputRegisters_;
    QString dataFolder_;
};

}  // namespace tarnel
