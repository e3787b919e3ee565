#include "cli/report_command.h"
#include "base/whole_file.h"

#include <iostream>

#include "base/grid_model.h"
#include "cli/cli_session.h"
#include "gateway/commissioning_report.h"
#include "gateway/device_table.h"
#include "gateway/gateway_status.h"
#include "gateway/program.h"
#include "ops/primary_scan.h"

namespace tarnel::cli {
namespace {

QString linkText(const Options& options) {
    if (options.tcp) return "TCP " + QString::fromStdString(*options.tcp);
    return QString::fromStdString(options.serial.value_or("") + " " + options.baud + ",8," +
                                  options.parity);
}

QList<QStringList> dataRows(const GridModel& grid) {
    QList<QStringList> rows;
    for (int row = 1; row < grid.rows(); ++row)
        if (!grid.rowTexts(row).join(QString()).isEmpty()) rows << grid.rowTexts(row);
    return rows;
}

}  // namespace

Runner report(const Options& options) {
    if (options.htmlFile.empty()) throw UsageError{"give the report's file: --html FILE"};
    return [=](Session& session) {
        Program& program = session.program();
        CommissioningReport report;
        report.site = QString::fromStdString(options.site);
        report.installer = QString::fromStdString(options.installer);
        report.madeAt = QDateTime::currentDateTime();
        report.slave = options.unit;
        report.link = linkText(options);
        report.version2 = options.version2;
        const auto status = session.await(program.gatewayStatus(), &GatewayStatus::finished, [&] {
            return program.gatewayStatus().readStatus(options.unit, options.timeoutMs);
        });
        if (!status || status->ending == Ending::LinkLost) return kLinkError;
        report.status = status->answers;
        if (options.scanRange) {
            PrimaryScan::Settings settings{
                options.unit,       options.scanRange->first, options.scanRange->second,
                options.scanTimeMs, options.timeoutMs,        options.retries};
            const auto scan = session.await(program.scan(), &PrimaryScan::finished,
                                            [&] { return program.scan().start(settings).started; });
            if (scan && scan->ending == Ending::LinkLost) return kLinkError;
        }
        report.meters = dataRows(program.gridLoops());
        DeviceTable& table = program.deviceTable();
        table.setVersion2(options.version2);
        const auto read = session.await(table, &DeviceTable::readOutFinished, [&] {
            return table.readDevices({options.unit, options.timeoutMs, options.scanTimeMs});
        });
        if (!read || read->ending == Ending::LinkLost) return kLinkError;
        if (status->replies == 0 && !read->answered) {
            std::cerr << "tarnel-cli: no answer from the gateway: no report written\n";
            return kNoResult;
        }
        report.devices = dataRows(program.gridDevices());
        report.points = PointsList(read->entries, read->version2);
        const QString path = QString::fromStdString(options.htmlFile);
        if (!WriteWholeFile(path, CommissioningReportHtml(report).toUtf8())) {
            std::cerr << "tarnel-cli: cannot write " << options.htmlFile << '\n';
            return kNoResult;
        }
        session.printLine("Commissioning report written to " + path);
        return kDone;
    };
}

}  // namespace tarnel::cli
