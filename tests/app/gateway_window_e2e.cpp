// The gateway chores through the real window (offscreen) against tarnel-sim,
// over loopback TCP and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "base/real_clock.h"
#include "link/gateway_link.h"
#include "sim_process.h"
#include "support/fake_dialogs.h"

namespace tarnel {
namespace {

struct GatewayWindow : test::SimWindowTest {
    void SetUp() override {
        SimWindowTest::SetUp();
        if (HasFatalFailure()) return;
        // A short Modbus time-out keeps the status sequence quick on loopback.
        control<UpDown>("UD_modbusTimeout")->setPosition(150);
    }
    void click(const char* button) { control<QPushButton>(button)->click(); }
    const QStringList& lines() const { return form->program().log().lines(); }
    bool waitForLine(const QString& prefix, int timeoutMs = 10000) {
        return whenLogged(
            [&] {
                return std::any_of(lines().begin(), lines().end(),
                                   [&](const QString& l) { return l.startsWith(prefix); });
            },
            timeoutMs);
    }

    void readRegistersSettingAndStatus() {
        control<QLineEdit>("editReadoutMinutes")->setText("2");
        click("BitBtn17");
        ASSERT_TRUE(waitForLine("RCVD:01 06 00 03 00 78 "));
        control<QLineEdit>("EditInputAddress")->setText("3");
        control<QLineEdit>("EditInputCount")->setText("1");
        control<QCheckBox>("checkHolding")->click();
        click("BitBtn3");
        ASSERT_TRUE(waitForLine("RCVD:01 03 02 00 78 "));
        const GridModel& grid = form->program().gridInputRegisters();
        EXPECT_EQ(grid.cell(1, 0), "3");
        EXPECT_EQ(grid.cell(1, 3), "78");
        click("BitBtn18");
        ASSERT_TRUE(waitForLine("Reading settings finished!", 20000));
        EXPECT_TRUE(waitForLine("Modbus card version: "));
        EXPECT_TRUE(waitForLine("IP: "));
        EXPECT_TRUE(control<QCheckBox>("Check_v3")->isChecked());
    }
};

TEST_F(GatewayWindow, OverLoopbackTcp) {
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    click("Butt_connect_xport");
    ASSERT_TRUE(tcpUp());
    readRegistersSettingAndStatus();
}

TEST_F(GatewayWindow, OverAPseudoTerminal) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    click("Butt_open_port2");
    ASSERT_TRUE(form->program().link().SerialOpen()) << lines().join('\n').toStdString();
    readRegistersSettingAndStatus();
}

}  // namespace
}  // namespace tarnel
