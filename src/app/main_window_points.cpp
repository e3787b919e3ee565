// The main window's hand-over files: the Modbus points list of the
// gateway's table, read anew, as CSV and as a Home Assistant configuration,
// and the commissioning report as PDF and HTML.
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include "app/main_window.h"
#include "base/whole_file.h"
#include "gateway/points_list.h"
#include "gateway/report_reading.h"
#include "link/gateway_link.h"
#include "mbus/loops_grid.h"
#include "print/report_files.h"

namespace tarnel {
// Asks where first, then reads the table anew and writes both files.
void TForm1::ExportPointsList1Click() {
    FileDialogRequest request = saveDialog1();
    request.folder = program_->dataFolder();
    request.fileName = "points.csv";
    const QString path = program_->dialogs().saveFileName(request);
    if (path.isEmpty()) return;
    DeviceTable& table = program_->deviceTable();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&table, &DeviceTable::readOutFinished, this,
                          [this, path, connection](const TableReadResult& result) {
                              disconnect(*connection);
                              writePointsList(path, result);
                          });
    if (!table.readDevices(deviceSettings())) disconnect(*connection);
}

// The hub of the configuration is the link the table was read over.
HomeAssistantHub TForm1::homeAssistantHub() const {
    if (program_->link().TcpMode())
        return ModbusTcpHub{
            .host = control<QLineEdit>("Edit_lanxp_ip")->text(),
            .port = TcpPortFromText(control<QLineEdit>("Edit_lanxp_port")->text()).value_or(502)};
    return SerialHubOf(
        SerialSettingsFromTexts(control<QComboBox>("Combo_com2_name")->currentText(),
                                control<QComboBox>("Combo_com2_speed")->currentText(),
                                control<QComboBox>("Combo_com2_parity")->currentText(),
                                control<QComboBox>("Combo_com2_stop")->currentText()));
}

// A table read that missed entries is written only when the user says so,
// and then both files say so first; a stop or a lost link writes nothing.
void TForm1::writePointsList(const QString& path, const TableReadResult& result) {
    Log& log = program_->log();
    const QString shortfall = TableShortfall(result);
    if (result.ending != Ending::Done) {
        const char* why = result.ending == Ending::LinkLost  ? ": the link was lost."
                          : result.ending == Ending::Stopped ? ": the table read was stopped."
                                                             : ".";
        log.append(QStringLiteral("Points list not written") + why);
        return;
    }
    if (result.entries.empty()) {
        log.append("Points list not written: no entry of the gateway's table was read.");
        return;
    }
    const QString incomplete = IncompleteLine(QStringList{shortfall});
    if (!incomplete.isEmpty()) {
        log.append(incomplete + ".");
        if (!program_->dialogs().confirm("Export points list",
                                         incomplete + ".\nWrite the points list anyway?")) {
            log.append("Points list not written.");
            return;
        }
    }
    const QVector<ModbusPoint> points =
        PointsList(result.entries, result.version2, SystemDecimalSeparator());
    const QFileInfo csv(path);
    const QString yaml = csv.dir().filePath(csv.completeBaseName() + ".yaml");
    QString failed = path;
    FileWritten written = WriteWholeFile(path, IncompleteCsvLine(incomplete) + PointsCsv(points));
    if (written) {
        failed = yaml;
        written =
            WriteWholeFile(yaml, IncompleteYamlComment(incomplete) +
                                     HomeAssistantYaml(points, homeAssistantHub(), slaveAddress()));
    }
    if (!written) {
        log.append("Can not write file, no rights...");
        log.append(failed + ": " + written.reason);
        return;
    }
    log.append(QStringLiteral("Points list of %1 points written to %2 and %3.")
                   .arg(points.size())
                   .arg(path, yaml));
}

// Asks for site and installer (kept for the next report and in the
// settings file), then reads the status and the table anew and writes the
// report into the data folder, named by its time.
void TForm1::CommissioningReport1Click() {
    const std::optional<QStringList> texts = program_->dialogs().askTexts(
        "Commissioning report", {"Site", "Installer"}, {reportSite_, reportInstaller_});
    if (!texts) return;
    reportSite_ = texts->value(0).trimmed();
    reportInstaller_ = texts->value(1).trimmed();
    if (!reportReading_) {
        reportReading_ = new ReportReading(*program_, this);
        connect(reportReading_, &ReportReading::finished, this, &TForm1::writeReport);
    }
    CommissioningReport report;
    report.site = reportSite_;
    report.installer = reportInstaller_;
    report.madeAt = QDateTime::currentDateTime();
    report.slave = slaveAddress();
    report.link = linkDescription();
    report.decimalSeparator = SystemDecimalSeparator();
    reportReading_->start(report, deviceSettings());
}

QString TForm1::linkDescription() const {
    if (program_->link().TcpMode())
        return "TCP " + control<QLineEdit>("Edit_lanxp_ip")->text() + ":" +
               control<QLineEdit>("Edit_lanxp_port")->text();
    return control<QComboBox>("Combo_com2_name")->currentText() + " " +
           control<QComboBox>("Combo_com2_speed")->currentText() + ",8," +
           control<QComboBox>("Combo_com2_parity")->currentText();
}

// Written when the reads ran to their end and the gateway answered
// something; a report that missed a part says so and is written only when
// the user says so.
void TForm1::writeReport(const ReportReadResult& result) {
    Log& log = program_->log();
    if (result.ending != Ending::Done) {
        const char* why = result.ending == Ending::LinkLost  ? ": the link was lost."
                          : result.ending == Ending::Stopped ? ": the reading was stopped."
                                                             : ".";  // refused, with its line
        log.append(QStringLiteral("Commissioning report not written") + why);
        return;
    }
    if (!result.answered) {
        log.append("Commissioning report not written: the gateway did not answer.");
        return;
    }
    if (const QString incomplete = IncompleteLine(result.report); !incomplete.isEmpty()) {
        log.append(incomplete + ".");
        if (!program_->dialogs().confirm("Commissioning report",
                                         incomplete + ".\nWrite the report anyway?")) {
            log.append("Commissioning report not written.");
            return;
        }
    }
    const QString name = "report-" + result.report.madeAt.toString("yyyy-MM-dd-HHmmss");
    const QDir folder(program_->dataFolder());
    const ReportFiles files{folder.filePath(name + ".pdf"), folder.filePath(name + ".html")};
    if (const QString error = WriteCommissioningReport(result.report, files); !error.isEmpty()) {
        log.append("Commissioning report not written: " + error + ".");
        return;
    }
    log.append(
        QStringLiteral("Commissioning report written to %1 and %2.").arg(files.pdf, files.html));
    program_->dialogs().openDocument(files.pdf);
}

const QString* TForm1::keptText(const QString& name) const {
    if (name == "ReportSite") return &reportSite_;
    if (name == "ReportInstaller") return &reportInstaller_;
    return nullptr;
}

QString* TForm1::keptText(const QString& name) {
    return const_cast<QString*>(std::as_const(*this).keptText(name));
}

}  // namespace tarnel
