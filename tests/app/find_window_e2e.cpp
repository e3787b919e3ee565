// "Find gateway…" through the real window (offscreen) against tarnel-sim
// set to 9600 None, address 17, on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/main_window.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "sim_process.h"

namespace tarnel {
namespace {

struct FindWindow : test::SimWindowTest {
    void SetUp() override {
        simArguments = {"--baud", "9600", "--parity", "none", "--unit", "17"};
        SimWindowTest::SetUp();
    }
};

TEST_F(FindWindow, FindsTheGatewayFromTheWindowsPortAndUseConnectsToIt) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    QTest::mouseClick(control<QPushButton>("Butt_find_gateway"), Qt::LeftButton);
    BusyRule& busy = form->program().busy();
    EXPECT_TRUE(busy.running(Operation::FindGateway));
    ASSERT_TRUE(whenBusyChanged([&] { return !busy.running(Operation::FindGateway); }, 30000));
    auto* found = form->findChild<QListWidget*>("ListFound");
    ASSERT_EQ(found->count(), 1);
    EXPECT_EQ(found->item(0)->text(),
              sim.ptyPath + " 9600 None 1, address 17: Velgate Corvane-64 0.3.1, 3 active devices");
    QTest::mouseClick(form->findChild<QPushButton*>("ButtFindUse"), Qt::LeftButton);
    EXPECT_TRUE(form->program().link().SerialOpen());
    EXPECT_EQ(control<QComboBox>("Combo_com2_speed")->currentText(), "9600");
    EXPECT_EQ(control<QComboBox>("Combo_com2_parity")->currentText(), "None");
    EXPECT_EQ(control<QLineEdit>("EditAddressModbus")->text(), "17");
}

}  // namespace
}  // namespace tarnel
