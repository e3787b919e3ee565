#pragma once

#include <QObject>

#include "base/clock.h"
#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "gateway/table_files.h"
#include "link/transport.h"
#include "ops/bus_survey.h"

#include <memory>

namespace tarnel {

// Where the program lives on disk (ResolveProgramPaths in program_paths.h
// fills it in for the executables). The last two may stay empty: then they
// follow the executable's folder.
struct ProgramPaths {
    QString executableFolder;  // the executable's own folder
    QString settingsFile;      // the INI file read at start and written at close
    QString filesFolder{};     // log.txt and the session logs
    QString dataFolder{};      // "Dir" when the settings file has none

    QString files() const {
        return filesFolder.isEmpty() ? executableFolder + "/files" : filesFolder;
    }
    QString defaultDataFolder() const {
        return dataFolder.isEmpty() ? executableFolder : dataFolder;
    }
};

class BusyRule;
class CommandConsole;
class GridSelection;
class GatewayCommands;
class GatewayLink;
class GatewayStatus;
class PrimaryScan;
class Presenter;
class SecondarySearch;
class MeterChanges;
class MeterTelegrams;
class DeviceTable;
class BulkActivation;
class RegisterView;

// The two transports of the link; the real serial port and socket when empty.
struct Transports {
    std::unique_ptr<SerialTransport> serial;
    std::unique_ptr<TcpTransport> tcp;
};

// The program-wide state that outlives every operation: the log, the status
// panels, the three grids and the data folder, with the clock and the dialogs
// everything runs on. No widget lives here; the window only shows it.
class Program : public QObject {
    Q_OBJECT
public:
    Program(Clock& clock, Dialogs& dialogs, ProgramPaths paths, Transports transports = {},
            QObject* parent = nullptr);
    ~Program() override;

    Clock& clock() const { return clock_; }
    Dialogs& dialogs() const { return dialogs_; }
    const ProgramPaths& paths() const { return paths_; }

    Log& log() { return log_; }
    StatusPanels& status() { return status_; }
    GridModel& gridLoops() { return gridLoops_; }
    GridModel& gridDevices() { return gridDevices_; }
    GridModel& gridInputRegisters() { return gridInputRegisters_; }
    GatewayLink& link() { return *link_; }
    CommandConsole& console() { return *console_; }
    RegisterView& registerView() { return *registerView_; }
    GatewayCommands& commands() { return *commands_; }
    GatewayStatus& gatewayStatus() { return *gatewayStatus_; }
    BusyRule& busy() { return *busy_; }
    // The highlighted rows of the meter grid and the device grid.
    GridSelection& meterSelection() { return *meterSelection_; }
    GridSelection& deviceSelection() { return *deviceSelection_; }
    PrimaryScan& scan() { return *scan_; }
    SecondarySearch& search() { return *search_; }
    // The last telegram of each meter the scan, a read or the search listed.
    MeterTelegrams& telegrams() { return *telegrams_; }
    // The meters the scans and searches found, with the link they ran on.
    const BusSurveys& busSurveys() const { return busSurveys_; }
    MeterChanges& meterChanges() { return *meterChanges_; }
    // Words what the link, the operations and the window's actions tell.
    Presenter& presenter() { return *presenter_; }
    DeviceTable& deviceTable() { return *deviceTable_; }
    BulkActivation& bulkActivation() { return *bulkActivation_; }

    // STOP: ends the scan or meter request, the search or address change,
    // and the change of all addresses; refused while the busy rule says so.
    void stopMbus();
    // Ctrl-C of the command line: every operation that runs ends at once and
    // finishes with what it got (Ending::Stopped).
    void stopAll();

    // One of the window's timers, by name (for example "Timer_modbus"). All
    // start stopped; each is single-shot but Timer_auto, which ticks until
    // stopped.
    Timer* timer(const QString& name) const;

    // The data folder: where table files are opened from first. Read from the
    // settings file at start and written back unchanged at close.
    const QString& dataFolder() const { return dataFolder_; }
    void setDataFolder(const QString& folder) { dataFolder_ = folder; }

    // "Load" of the meter grid and "Import" of the device grid from the table
    // file at `path`; a file refused for its length is told in the log.
    TableLoad loadMeterTable(const QString& path);
    TableLoad importDeviceTable(const QString& path);

private:
    // The console, register view, commands and status read; then the scan,
    // search, meter changes and what keeps their meters.
    void makeGatewayOperations();
    void makeMbusOperations();

    Clock& clock_;
    Dialogs& dialogs_;
    ProgramPaths paths_;
    Log log_;
    StatusPanels status_;
    GridModel gridLoops_;
    GridModel gridDevices_;
    GridModel gridInputRegisters_;
    QString dataFolder_;
    BusSurveys busSurveys_;
    // Words what the operations tell into the log and the grids.
    std::unique_ptr<Presenter> presenter_;
    std::unique_ptr<BusyRule> busy_;
    std::unique_ptr<GridSelection> meterSelection_;
    std::unique_ptr<GridSelection> deviceSelection_;
    // Declared last, so they go before the log and the panels they write to.
    std::unique_ptr<SerialTransport> serial_;
    std::unique_ptr<TcpTransport> tcp_;
    std::unique_ptr<GatewayLink> link_;
    std::unique_ptr<CommandConsole> console_;
    std::unique_ptr<RegisterView> registerView_;
    std::unique_ptr<GatewayCommands> commands_;
    std::unique_ptr<GatewayStatus> gatewayStatus_;
    std::unique_ptr<PrimaryScan> scan_;
    std::unique_ptr<SecondarySearch> search_;
    std::unique_ptr<MeterTelegrams> telegrams_;
    std::unique_ptr<MeterChanges> meterChanges_;
    std::unique_ptr<DeviceTable> deviceTable_;
    std::unique_ptr<BulkActivation> bulkActivation_;
};

}  // namespace tarnel
