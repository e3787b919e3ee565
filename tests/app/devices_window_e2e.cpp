// Commissioning's last step through the real window (offscreen) against
// tarnel-sim: the scanned meters copied into the device grid, all of them
// activated, and the gateway's table read back.
#include <gtest/gtest.h>

#include "support/files.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "app/up_down.h"
#include "link/gateway_link.h"
#include "sim_process.h"

namespace tarnel {
namespace {

struct DevicesWindow : test::SimWindowTest {
    const QStringList& lines() { return form->program().log().lines(); }
    bool logged(const QString& line, int timeoutMs) {
        return whenLogged([&] { return lines().contains(line); }, timeoutMs);
    }
    QStringList addresses() {
        QStringList column;
        const GridModel& grid = form->program().gridDevices();
        for (int row = 1; row < grid.rows(); ++row)
            if (!grid.cell(row, 1).isEmpty()) column << grid.cell(row, 1);
        column.sort();
        return column;
    }
    void commission() {
        control<UpDown>("UD_timeout")->setPosition(400);
        control<UpDown>("UD_retry")->setPosition(0);
        control<UpDown>("UDaddressFrom")->setPosition(4);
        control<UpDown>("UDaddressTo")->setPosition(6);
        dialogs.answers = {true};
        control<QPushButton>("BitBtn1")->click();
        ASSERT_TRUE(
            whenBusyChanged([&] { return control<QPushButton>("BitBtn1")->isEnabled(); }, 20000));
        control<QPushButton>("BitBtn15")->click();
        EXPECT_EQ(addresses(), (QStringList{"4", "5", "6"}));
        control<UpDown>("UD_timeout")->setPosition(3000);  // time for the gateway to read a meter
        control<QPushButton>("Butt_activateall")->click();
        EXPECT_EQ(control<QPushButton>("Butt_activateall")->text(), "Stop activation");
        ASSERT_TRUE(logged("Activation process finished!", 30000))
            << lines().join('\n').toStdString();
        EXPECT_EQ(control<QPushButton>("Butt_activateall")->text(), "Activate All in table");
        control<QPushButton>("BitBtn13")->click();
        control<QPushButton>("buttonReadModbus")->click();
        ASSERT_TRUE(whenBusyChanged(
            [&] {
                return control<QPushButton>("buttonReadModbus")->isEnabled() &&
                       addresses().size() >= 3;
            },
            20000));
        // tarnel-sim starts with meters 1 to 3 activated.
        EXPECT_EQ(addresses(), (QStringList{"1", "2", "3", "4", "5", "6"}))
            << lines().join('\n').toStdString();
        exportPointsList();
        commissioningReport();
    }
    // Six entries of five values and a status each; entry 1 (meter 1,
    // 123456 x 0.001 m3) has its main value at registers 11-12.
    void exportPointsList() {
        const QString csv = folder.filePath("points.csv");
        dialogs.fileNames = {csv};
        control<QAction>("ExportPointsList1")->trigger();
        const QString written = QString("Points list of 36 points written to %1 and %2.")
                                    .arg(csv, folder.filePath("points.yaml"));
        ASSERT_TRUE(logged(written, 20000)) << lines().join('\n').toStdString();
        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains(
            "\r\n1;1;12345678;ABC;Water;Main;4;11;12;2;int32, high word first;0.001;m3;123456;"
            "123.456;\r\n"));
        EXPECT_TRUE(QFile::exists(folder.filePath("points.yaml")));
    }
    // The report goes into the data folder and is opened (where no viewer
    // starts, the log says so); site and installer are offered again the
    // next time.
    void commissioningReport() {
        form->program().setDataFolder(folder.path());
        dialogs.documentOpens = false;
        dialogs.forms = {{"Plant room B", "J. Doe"}};
        control<QAction>("CommissioningReport1")->trigger();
        ASSERT_TRUE(whenLogged([&] { return dialogs.shown.back().kind == "document"; }, 20000))
            << lines().join('\n').toStdString();
        const QString pdf = dialogs.shown.back().text;
        EXPECT_TRUE(pdf.startsWith(folder.filePath("report-"))) << pdf.toStdString();
        EXPECT_TRUE(test::readFile(pdf).startsWith("%PDF-"));
        QString html = pdf;
        html.replace(".pdf", ".html");
        EXPECT_TRUE(test::readFile(html).contains("<b>Site:</b> Plant room B</p>"));
        EXPECT_TRUE(
            lines().contains(QString("Commissioning report written to %1 and %2.").arg(pdf, html)));
        EXPECT_TRUE(lines().contains(
            QString("No program to show PDF files was found: open %1 yourself.").arg(pdf)));
        control<QAction>("CommissioningReport1")->trigger();
        EXPECT_EQ(dialogs.shown.back().text, "Site|Installer=Plant room B|J. Doe");
    }
};

TEST_F(DevicesWindow, OverLoopbackTcp) {
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    control<QPushButton>("Butt_connect_xport")->click();
    ASSERT_TRUE(tcpUp());
    commission();
}

TEST_F(DevicesWindow, OverAPseudoTerminal) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    control<QPushButton>("Butt_open_port2")->click();
    ASSERT_TRUE(form->program().link().SerialOpen());
    commission();
}

}  // namespace
}  // namespace tarnel
