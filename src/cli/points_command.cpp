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

// `incomplete`, when not empty, goes first: a line of its own.
void print(const Session& session, const QVector<ModbusPoint>& points, const QString& incomplete) {
    if (!session.options().json) {
        const QByteArray csv = IncompleteCsvLine(incomplete) + PointsCsv(points);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        std::fflush(stdout);
        return;
    }
    if (!incomplete.isEmpty()) session.printFields({incomplete});
    for (const ModbusPoint& p : points)
        session.printFields({QString::number(p.entry), QString::number(p.mbusAddress), p.id,
                             p.manufacturer, p.medium, p.point, QString::number(p.function),
                             QString::number(p.address), QString::number(p.reference),
                             QString::number(p.count), p.type, p.scale, p.unit,
                             QString::number(p.raw), p.value});
}

}  // namespace

// The points of a whole table are written; of a table read that missed
// entries only with --partial, and then the files say so first. A stop or a
// lost link writes nothing.
Runner points(const Options& options) {
    const DeviceTable::Settings settings{options.unit, options.timeoutMs, options.scanTimeMs};
    return [=](Session& session) {
        DeviceTable& table = session.program().deviceTable();
        table.setVersion2(options.version2);
        const auto result = session.await(table, &DeviceTable::readOutFinished,
                                          [&] { return table.readDevices(settings); });
        if (!result) return kNoResult;
        if (result->ending == Ending::LinkLost) return kLinkError;
        const QString shortfall = TableShortfall(*result);
        if (result->ending != Ending::Done || (!shortfall.isEmpty() && !options.partial)) {
            Session::note((shortfall.isEmpty() ? QString("stopped") : shortfall).toStdString() +
                          ": no points list written");
            return kNoResult;
        }
        const QVector<ModbusPoint> list = PointsList(result->entries, result->version2);
        const QString incomplete = IncompleteLine(QStringList{shortfall});
        print(session, list, incomplete);
        if (!options.haFile.empty() &&
            !WriteWholeFile(FileNameFromBytes(options.haFile),
                            IncompleteYamlComment(incomplete) +
                                HomeAssistantYaml(list, hub(options), options.unit))) {
            std::cerr << "tarnel-cli: cannot write " << options.haFile << '\n';
            return kNoResult;
        }
        if (!shortfall.isEmpty()) {
            Session::note(incomplete.toStdString());
            return kNoResult;
        }
        return Session::status(result->ending, !list.isEmpty());
    };
}

}  // namespace tarnel::cli
