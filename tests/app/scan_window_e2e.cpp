// A primary scan, a meter read and the meter table saved and loaded, through
// the real window (offscreen) against tarnel-sim over loopback TCP and over
// a pseudo-terminal.
#include <gtest/gtest.h>

#include <QAction>
#include <QTableWidget>
#include <QTemporaryDir>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "app/telegram_window.h"
#include "base/real_clock.h"
#include "link/gateway_link.h"
#include "sim_process.h"
#include "support/fake_dialogs.h"

namespace tarnel {
namespace {

struct ScanWindow : test::SimWindowTest {
    void SetUp() override {
        SimWindowTest::SetUp();
        if (HasFatalFailure()) return;
        // Long enough for the slowest default meter, short time-outs on loopback.
        control<UpDown>("UD_timeout")->setPosition(1400);
        control<UpDown>("UD_modbusTimeout")->setPosition(150);
        control<UpDown>("UD_retry")->setPosition(0);
        control<UpDown>("UDaddressFrom")->setPosition(10);
        control<UpDown>("UDaddressTo")->setPosition(0);
    }
    GridModel& grid() { return form->program().gridLoops(); }

    // Meter 12345678 answers with four records: volume 123456 x 10^-3 m3
    // (DIF 04, VIF 13), storage 1 volume 100000 x 10^-3 m3 (44 13), storage 1
    // date 0x3C1F = 2024-12-31 (42 6C, type G) and volume flow 0 x 10^-3 m3/h
    // (02 3B).
    void expectTelegramOfTheFirstMeter() {
        control<QAction>("ShowTelegram1")->trigger();
        auto* window = form->findChild<TelegramWindow*>("TelegramWindow");
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        const auto* records = window->findChild<QTableWidget*>("TelegramRecords");
        QStringList rows;
        for (int row = 0; row < records->rowCount(); ++row) {
            QStringList cells;
            for (const int column : {0, 3, 4, 5, 6})  // storage, function, quantity, value, unit
                cells << records->item(row, column)->text();
            rows << cells.join('|');
        }
        EXPECT_EQ(rows, (QStringList{"0|instantaneous|Volume|123.456|m3",
                                     "1|instantaneous|Volume|100.000|m3",
                                     "1|instantaneous|Date|2024-12-31|",
                                     "0|instantaneous|Volume flow|0.000|m3/h"}));
        EXPECT_TRUE(window->csv().contains("ID: 12345678"));
        window->close();
    }

    void scanReadSaveAndLoad() {
        dialogs.answers = {true};  // clear the table
        control<QPushButton>("BitBtn1")->click();
        EXPECT_EQ(control<UpDown>("UDaddressFrom")->position(), 0) << "From and To swapped";
        EXPECT_FALSE(control<QPushButton>("BitBtn1")->isEnabled());
        ASSERT_TRUE(
            whenBusyChanged([&] { return control<QPushButton>("BitBtn1")->isEnabled(); }, 60000));
        EXPECT_EQ(grid().rows(), 8 + 2) << form->program().log().lines().join('\n').toStdString();
        EXPECT_EQ(grid().cell(1, 0), "12345678");

        // Read the first meter again from its row.
        control<QTableView>("gridLoops")->selectRow(0);
        EXPECT_EQ(control<QLabel>("Label16")->text(), "Selected: 1");
        const QString before = grid().cell(1, 7);
        control<QAction>("Read1")->trigger();
        ASSERT_TRUE(whenLogged(
            [&] { return form->program().log().lines().last().startsWith("Respond: "); }, 10000));
        EXPECT_EQ(grid().rows(), 10) << "a read adds no row";
        expectTelegramOfTheFirstMeter();

        const QString file = folder.filePath("meters.csv");
        dialogs.fileNames = {file};
        control<QAction>("Save1")->trigger();
        ASSERT_TRUE(QFile::exists(file));
        dialogs.fileNames = {file};
        control<QAction>("Open1")->trigger();
        EXPECT_EQ(dialogs.fileRequests.back().folder, folder.path())
            << "opened from the data folder";
        EXPECT_EQ(grid().cell(1, 0), " ID ") << "the header line comes back as row 1";
        EXPECT_EQ(grid().cell(2, 0), "12345678");
    }
};

TEST_F(ScanWindow, OverLoopbackTcp) {
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    control<QPushButton>("Butt_connect_xport")->click();
    ASSERT_TRUE(tcpUp());
    scanReadSaveAndLoad();
}

TEST_F(ScanWindow, OverAPseudoTerminal) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    control<QPushButton>("Butt_open_port2")->click();
    ASSERT_TRUE(form->program().link().SerialOpen());
    scanReadSaveAndLoad();
}

}  // namespace
}  // namespace tarnel
