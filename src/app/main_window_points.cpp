// The main window's hand-over files: the Modbus points list of the
// gateway's table, read anew, as CSV and as a Home Assistant configuration.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include "app/main_window.h"
#include "base/whole_file.h"
#include "gateway/points_list.h"
#include "link/gateway_link.h"
#include "mbus/loops_grid.h"

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
QString TForm1::homeAssistantHub() const {
    if (program_->link().TcpMode())
        return HomeAssistantTcpHub(control<QLineEdit>("Edit_lanxp_ip")->text(),
                                   control<QLineEdit>("Edit_lanxp_port")->text());
    return HomeAssistantSerialHub(control<QComboBox>("Combo_com2_name")->currentText(),
                                  control<QComboBox>("Combo_com2_speed")->currentText(),
                                  control<QComboBox>("Combo_com2_parity")->currentText(),
                                  control<QComboBox>("Combo_com2_stop")->currentText());
}

void TForm1::writePointsList(const QString& path, const TableReadResult& result) {
    Log& log = program_->log();
    if (result.entries.empty()) {
        log.append("Points list not written: no entry of the gateway's table was read.");
        return;
    }
    const QVector<ModbusPoint> points =
        PointsList(result.entries, result.version2, SystemDecimalSeparator());
    const QFileInfo csv(path);
    const QString yaml = csv.dir().filePath(csv.completeBaseName() + ".yaml");
    if (!WriteWholeFile(path, PointsCsv(points)) ||
        !WriteWholeFile(yaml, HomeAssistantYaml(points, homeAssistantHub(), slaveAddress()))) {
        log.append("Can not write file, no rights...");
        return;
    }
    log.append(QStringLiteral("Points list of %1 points written to %2 and %3.")
                   .arg(points.size())
                   .arg(path, yaml));
}

}  // namespace tarnel
