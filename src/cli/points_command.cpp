#include "cli/points_command.h"
#include "base/whole_file.h"

#include <cstdio>
#include <iostream>

#include "cli/cli_session.h"
#include "gateway/device_table.h"
#include "gateway/points_list.h"
#include "gateway/program.h"
#include "link/gateway_link.h"

namespace tarnel::cli {
namespace {

// The link of the hub, as the command line opened it.
HomeAssistantHub hub(const Options& options) {
    if (options.tcp) {
        const QString link = QString::fromStdString(*options.tcp);
        return ModbusTcpHub{.host = link.section(':', 0, 0),
                            .port = TcpPortFromText(link.section(':', 1, 1)).value_or(502)};
    }
    return SerialHubOf(SerialSettingsFromTexts(
        QString::fromStdString(options.serial.value_or("")), QString::fromStdString(options.baud),
        QString::fromStdString(options.parity), QString::fromStdString(options.stopBits)));
}

void print(const Session& session, const QVector<ModbusPoint>& points) {
    if (!session.options().json) {
        const QByteArray csv = PointsCsv(points);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        std::fflush(stdout);
        return;
    }
    for (const ModbusPoint& p : points)
        session.printFields({QString::number(p.entry), QString::number(p.mbusAddress), p.id,
                             p.manufacturer, p.medium, p.point, QString::number(p.function),
                             QString::number(p.address), QString::number(p.reference),
                             QString::number(p.count), p.type, p.scale, p.unit,
                             QString::number(p.raw), p.value});
}

}  // namespace

Runner points(const Options& options) {
    const DeviceTable::Settings settings{options.unit, options.timeoutMs, options.scanTimeMs};
    return [=](Session& session) {
        DeviceTable& table = session.program().deviceTable();
        table.setVersion2(options.version2);
        const auto result = session.await(table, &DeviceTable::readOutFinished,
                                          [&] { return table.readDevices(settings); });
        if (!result) return kNoResult;
        const QVector<ModbusPoint> list = PointsList(result->entries, result->version2);
        print(session, list);
        if (!options.haFile.empty() &&
            !WriteWholeFile(FileNameFromBytes(options.haFile),
                            HomeAssistantYaml(list, hub(options), options.unit))) {
            std::cerr << "tarnel-cli: cannot write " << options.haFile << '\n';
            return kNoResult;
        }
        return Session::tableStatus(*result, !list.isEmpty());
    };
}

}  // namespace tarnel::cli
