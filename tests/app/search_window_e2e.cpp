// The secondary search and the primary-address change through the real
// window (offscreen) against tarnel-sim.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "app/up_down.h"
#include "link/gateway_link.h"
#include "sim_process.h"

namespace tarnel {
namespace {

// Ten quick meters whose numbers end in 0 to 9: a wildcard search finds each
// at the first position, without a silent mask to wait out.
QString tenMetersFile(const QTemporaryDir& folder) {
    QString meters;
    for (int digit = 0; digit <= 9; ++digit)
        meters += QStringLiteral(R"(%1{"address": %2, "id": "5555000%3", "manufacturer": "ABC",)"
                                 R"( "version": 1, "medium": 7, "records": "04 13 98 0F 1C 00",)"
                                 R"( "replyDelayMs": 20})")
                      .arg(digit ? "," : "")
                      .arg(digit + 1)
                      .arg(digit);
    const QString path = folder.filePath("ten-meters.json");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral(R"({"meters": [%1]})").arg(meters).toUtf8());
    return path;
}

struct SearchWindow : test::SimWindowTest {
    QTemporaryDir meterFolder;

    void SetUp() override {
        simArguments = {"--meters", tenMetersFile(meterFolder)};
        SimWindowTest::SetUp();
        if (HasFatalFailure()) return;
        control<UpDown>("UD_timeout")->setPosition(300);
        control<UpDown>("UD_retry")->setPosition(0);
    }
    GridModel& grid() { return form->program().gridLoops(); }
    const QStringList& lines() { return form->program().log().lines(); }
    bool ended(int timeoutMs) {
        return whenLogged(
            [&] {
                return lines().value(lines().size() - 1) ==
                       "Secondary search thread terminated normally.";
            },
            timeoutMs);
    }
    QStringList listedIds() {
        QStringList ids;
        for (int row = 1; row < grid().rows() - 1; ++row)
            ids << grid().cell(row, 0);
        ids.sort();
        return ids;
    }
};

TEST_F(SearchWindow, AWildcardSearchOverTcp) {
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    control<QPushButton>("Butt_connect_xport")->click();
    ASSERT_TRUE(tcpUp());
    dialogs.answers = {true};
    control<QLineEdit>("editID")->setText("FFFFFFFF");
    control<QPushButton>("BitBtn21")->click();
    EXPECT_EQ(control<UpDown>("UD_retry")->position(), 1) << "Retry raised to 1";
    EXPECT_FALSE(control<QPushButton>("BitBtn21")->isEnabled());
    ASSERT_TRUE(ended(60000));
    EXPECT_TRUE(control<QPushButton>("BitBtn21")->isEnabled());
    QStringList expected;
    for (int digit = 0; digit <= 9; ++digit)
        expected << QStringLiteral("5555000%1").arg(digit);
    EXPECT_EQ(listedIds(), expected) << lines().join('\n').toStdString();
    EXPECT_EQ(lines().filter("Checking ").size(), 10);
}

TEST_F(SearchWindow, APrimaryAddressChangeOverAPseudoTerminal) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    control<QPushButton>("Butt_open_port2")->click();
    ASSERT_TRUE(form->program().link().SerialOpen());
    control<QLineEdit>("editID")->setText("55550003");
    control<QPushButton>("BitBtn21")->click();
    ASSERT_TRUE(ended(20000));
    ASSERT_EQ(listedIds(), QStringList{"55550003"}) << lines().join('\n').toStdString();
    control<QTableView>("gridLoops")->selectRow(0);
    control<UpDown>("UD_address")->setPosition(77);
    dialogs.answers = {true};
    form->program().log().clear();
    control<QPushButton>("BitBtn23")->click();
    ASSERT_TRUE(ended(20000));
    EXPECT_EQ(grid().cell(1, 1), "77") << lines().join('\n').toStdString();
}

// A new address that the grid lists for another meter is asked about; No
// sends nothing. The meter's own address is no collision.
TEST_F(SearchWindow, AnAddressAnotherMeterHasIsAskedAbout) {
    control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
    control<QPushButton>("Butt_open_port2")->click();
    ASSERT_TRUE(form->program().link().SerialOpen());
    grid().setRows(4);
    grid().setRowTexts(1, {"12345678", "1", "ABC"});
    grid().setRowTexts(2, {"21030045", "2", "HTL"});
    control<QTableView>("gridLoops")->selectRow(0);
    for (const auto& [address, asked] : {std::pair{2, true}, std::pair{1, false}}) {
        dialogs.shown.clear();
        control<UpDown>("UD_address")->setPosition(address);
        control<QPushButton>("BitBtn23")->click();
        ASSERT_FALSE(dialogs.shown.empty());
        const QString expected = asked ? "Meter 21030045 answers at address 2 already: two "
                                         "meters at one address collide. Change anyway?"
                                       : "Are you sure changing Primary address?";
        EXPECT_EQ(dialogs.shown.front().text, expected);
        EXPECT_EQ(dialogs.shown.size(), 1u) << "answered No: nothing more is asked or sent";
    }
}

}  // namespace
}  // namespace tarnel
