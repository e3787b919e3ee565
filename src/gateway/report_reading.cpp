#include "gateway/report_reading.h"

#include "gateway/gateway_status.h"
#include "gateway/program.h"
#include "link/gateway_link.h"

namespace tarnel {

ReportReading::ReportReading(Program& program, QObject* parent)
    : QObject(parent), program_(program) {}

bool ReportReading::start(const CommissioningReport& report,
                          const DeviceTable::Settings& settings) {
    result_ = {};
    result_.report = report;
    result_.report.bus =
        program_.busSurveys().on(BusSurvey::key(program_.link().identity(), settings.slave));
    settings_ = settings;
    GatewayStatus& status = program_.gatewayStatus();
    waiting_ = connect(&status, &GatewayStatus::finished, this, &ReportReading::statusRead);
    if (status.readStatus(settings.slave, settings.timeoutMs)) return true;
    disconnect(waiting_);
    return false;
}

void ReportReading::statusRead(const StatusResult& status) {
    disconnect(waiting_);
    result_.report.status = status;
    result_.answered = status.replies > 0;
    if (status.ending != Ending::Done) return finish(status.ending);
    DeviceTable& table = program_.deviceTable();
    waiting_ = connect(&table, &DeviceTable::readOutFinished, this, &ReportReading::tableRead);
    if (table.readDevices(settings_)) return;
    disconnect(waiting_);
    finish(Ending::Refused);
}

void ReportReading::tableRead(const TableReadResult& table) {
    disconnect(waiting_);
    CommissioningReport& report = result_.report;
    result_.answered = result_.answered || table.answered;
    report.table = table;
    report.points = PointsList(table.entries, table.version2, report.decimalSeparator);
    finish(table.ending);
}

void ReportReading::finish(Ending ending) {
    result_.ending = ending;
    emit finished(result_);
}

}  // namespace tarnel
