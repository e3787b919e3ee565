#include "gateway/program.h"

#include "base/grid_layouts.h"
#include "base/grid_selection.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_status.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "gateway/table_import.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "ops/meter_changes.h"
#include "ops/meter_telegrams.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel {

Program::Program(Clock& clock, Dialogs& dialogs, ProgramPaths paths, Transports transports,
                 QObject* parent)
    : QObject(parent),
      clock_(clock),
      dialogs_(dialogs),
      paths_(std::move(paths)),
      gridLoops_(loopsGridLayout().headers),
      gridDevices_(devicesGridLayout().headers),
      gridInputRegisters_(registersGridLayout().headers),
      dataFolder_(paths_.defaultDataFolder()),
      presenter_(std::make_unique<Presenter>(log_, status_)),
      busy_(std::make_unique<BusyRule>()),
      meterSelection_(std::make_unique<GridSelection>(gridLoops_)),
      deviceSelection_(std::make_unique<GridSelection>(gridDevices_)) {
    setObjectName("Program");
    presenter_->watch(*busy_);
    // Timer_modbus and Timer_auto wait 1000 ms until an operation sets their
    // interval.
    const struct {
        const char* name;
        int interval;
        bool periodic;
    } timers[] = {
        {"Timer_free_command", 1000, false}, {"Timer_modbus", 1000, false},
        {"Timer_auto", 1000, true},          {"Timer_status", 1000, false},
        {"TimerReadDevices", 1000, false},   {"Timer_mbus", 1000, false},
        {"Timer_mbusRespond", 1000, false},  {"Timer_activateAll", 1000, false},
    };
    for (const auto& entry : timers) {
        Timer* timer = clock_.createTimer(this, entry.name);
        timer->setInterval(entry.interval);
        timer->setSingleShot(!entry.periodic);
    }

    serial_ = transports.serial ? std::move(transports.serial) : std::make_unique<CommTransport>();
    tcp_ = transports.tcp ? std::move(transports.tcp) : std::make_unique<SocketTransport>();
    link_ = std::make_unique<GatewayLink>(*serial_, *tcp_, clock_);
    presenter_->watch(*link_, dialogs_);
    makeGatewayOperations();
    makeMbusOperations();
    deviceTable_ =
        std::make_unique<DeviceTable>(*link_, gridDevices_, gridLoops_, *console_, *registerView_,
                                      *busy_, *timer("TimerReadDevices"));
    presenter_->watch(*deviceTable_, gridDevices_);
    QObject::connect(gatewayStatus_.get(), &GatewayStatus::versionRead, deviceTable_.get(),
                     &DeviceTable::setGatewayVersion);
    bulkActivation_ =
        std::make_unique<BulkActivation>(*link_, gridDevices_, *busy_, *timer("Timer_activateAll"));
    presenter_->watch(*bulkActivation_);
}

// Each operation is watched by the presenter as soon as it is made.
void Program::makeGatewayOperations() {
    console_ = std::make_unique<CommandConsole>(*link_, *timer("Timer_free_command"));
    presenter_->watch(*console_);
    registerView_ =
        std::make_unique<RegisterView>(*link_, *timer("Timer_modbus"), *timer("Timer_auto"));
    presenter_->watch(*registerView_, gridInputRegisters_);
    commands_ = std::make_unique<GatewayCommands>(*link_, *registerView_);
    presenter_->watch(*commands_, dialogs_);
    gatewayStatus_ =
        std::make_unique<GatewayStatus>(*link_, *timer("Timer_status"), *registerView_);
    presenter_->watch(*gatewayStatus_);
}

void Program::makeMbusOperations() {
    scan_ = std::make_unique<PrimaryScan>(*link_, *busy_, *timer("Timer_mbus"),
                                          *timer("Timer_mbusRespond"));
    presenter_->watch(*scan_, gridLoops_);
    search_ = std::make_unique<SecondarySearch>(*link_, *busy_);
    presenter_->watch(*search_, gridLoops_);
    telegrams_ = std::make_unique<MeterTelegrams>();
    QObject::connect(scan_.get(), &PrimaryScan::listed, telegrams_.get(), &MeterTelegrams::keep);
    QObject::connect(search_.get(), &SecondarySearch::listed, telegrams_.get(),
                     &MeterTelegrams::keep);
    QObject::connect(scan_.get(), &PrimaryScan::finished, this, [this](const MbusRunResult& run) {
        if (run.kind == MbusRunResult::Kind::Scan)
            busSurveys_.record(run.link, clock_.now(), run.rows);
    });
    QObject::connect(search_.get(), &SecondarySearch::finished, this,
                     [this](const SearchResult& run) {
                         if (run.kind == SearchResult::Kind::Search)
                             busSurveys_.record(run.link, clock_.now(), run.rows);
                     });
    meterChanges_ = std::make_unique<MeterChanges>(*link_, gridLoops_, *busy_, *scan_, *search_);
    presenter_->watch(*meterChanges_, gridLoops_);
}

Program::~Program() = default;

void Program::stopMbus() {
    if (busy_->refuses(Operation::Stop)) return;
    meterChanges_->stop();
    scan_->stop();
    search_->stop();
}

void Program::stopAll() {
    meterChanges_->stop();
    scan_->stop();
    search_->stop();
    bulkActivation_->stopNow();
    gatewayStatus_->stop();
    registerView_->stopRead();
    deviceTable_->stop();
    console_->stop();
}

TableLoad Program::loadMeterTable(const QString& path) {
    const TableLoad load = LoadMbusGrid(gridLoops_, path, dialogs_);
    presenter_->loaded(load, path);
    return load;
}

TableLoad Program::importDeviceTable(const QString& path) {
    const TableLoad load = ImportDeviceGrid(gridDevices_, path, dialogs_);
    presenter_->loaded(load, path);
    return load;
}

Timer* Program::timer(const QString& name) const {
    return findChild<Timer*>(name, Qt::FindDirectChildrenOnly);
}

}  // namespace tarnel
