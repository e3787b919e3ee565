// The main window's hand-over files: the Modbus points list of the
// gateway's table, read anew, as CSV and as a Home Assistant configuration,
// and the commissioning report as PDF and HTML.
#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include "app/main_window.h"
#include "base/whole_file.h"
#include "gateway/points_list.h"
#include "gateway/presenter.h"
#include "gateway/report_reading.h"
#include "link/gateway_link.h"
#include "mbus/loops_grid.h"
#include "ops/busy_rule.h"
#include "print/report_files.h"

namespace tarnel {
// Asks where first, then reads the table anew and writes both files. Over
// no link, or while the table is busy, the read says why and nobody is asked.
void TForm1::ExportPointsList1Click() {
    if (!program_->link().linkUp() || !program_->busy().allows(Operation::TableReadOut)) {
        program_->deviceTable().readDevices(deviceSettings());
        return;
    }
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
    using namespace face_event;
    Presenter& presenter = program_->presenter();
    if (result.ending != Ending::Done) {
        presenter.tell(NotWritten{HandOver::PointsList, result.ending});
        return;
    }
    if (result.entries.empty()) {
        presenter.tell(NothingRead{HandOver::PointsList});
        return;
    }
    const QString incomplete = IncompleteLine(QStringList{TableShortfall(result)});
    if (!incomplete.isEmpty()) {
        presenter.tell(Incomplete{incomplete});
        if (!program_->dialogs().confirm("Export points list",
                                         incomplete + ".\nWrite the points list anyway?")) {
            presenter.tell(Declined{HandOver::PointsList});
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
        presenter.tell(FileRefused{failed, written.reason});
        return;
    }
    presenter.tell(PointsWritten{points.size(), path, yaml});
}

// Asks for site and installer (kept for the next report and in the
// settings file), then reads the status and the table anew and writes the
// report into the data folder, named by its time.
void TForm1::CommissioningReport1Click() {
    const std::optional<QStringList> texts = program_->dialogs().askTexts(
        "Commissioning report", {"Site", "Installer"}, {reportSite_, reportInstaller_});
    if (!texts || (reportWriter_ && reportWriter_->writing())) return;
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
    using namespace face_event;
    Presenter& presenter = program_->presenter();
    if (result.ending != Ending::Done) {
        presenter.tell(NotWritten{HandOver::Report, result.ending});
        return;
    }
    if (!result.answered) {
        presenter.tell(NothingRead{HandOver::Report});
        return;
    }
    if (const QString incomplete = IncompleteLine(result.report); !incomplete.isEmpty()) {
        presenter.tell(Incomplete{incomplete});
        if (!program_->dialogs().confirm("Commissioning report",
                                         incomplete + ".\nWrite the report anyway?")) {
            presenter.tell(Declined{HandOver::Report});
            return;
        }
    }
    const QString name = "report-" + result.report.madeAt.toString("yyyy-MM-dd-HHmmss");
    const QDir folder(program_->dataFolder());
    const ReportFiles files{folder.filePath(name + ".pdf"), folder.filePath(name + ".html")};
    if (!reportWriter_) reportWriter_ = std::make_unique<ReportWriter>(program_->clock());
    // The pages are laid out on a worker: the window stays busy but answers.
    control<QAction>("CommissioningReport1")->setEnabled(false);
    setCursor(Qt::BusyCursor);
    reportWriter_->start(result.report, files, this,
                         [this, files](const QString& error) { reportWritten(files, error); });
}

void TForm1::reportWritten(const ReportFiles& files, const QString& error) {
    using namespace face_event;
    unsetCursor();
    control<QAction>("CommissioningReport1")->setEnabled(true);
    if (!error.isEmpty()) {
        program_->presenter().tell(ReportFailed{error});
        return;
    }
    const bool shown = program_->dialogs().openDocument(files.pdf);
    program_->presenter().tell(ReportWritten{files.pdf, files.html, shown});
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
