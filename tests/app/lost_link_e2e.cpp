// The gateway going away in the middle of an operation, through the real
// window: tarnel-sim is killed while a scan, a status read or the automatic
// read runs over loopback TCP or a pseudo-terminal (whose other end then
// hangs up). The operation ends with its line and its controls enabled.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/up_down.h"
#include "base/clock.h"
#include "link/gateway_link.h"
#include "sim_process.h"

namespace tarnel {
namespace {

struct LostLinkWindow : ::testing::Test {
    QTemporaryDir folder;
    RealClock clock;
    test::FakeDialogs dialogs;
    test::SimProcess sim;
    std::unique_ptr<TForm1> form;

    template <typename T>
    T* control(const char* name) const {
        return form->control<T>(name);
    }
    bool logged(const QString& start, int timeoutMs) const {
        return test::WaitOn(
            &form->program().log(), &Log::lineAppended,
            [&] {
                for (const QString& line : form->program().log().lines())
                    if (line.startsWith(start)) return true;
                return false;
            },
            timeoutMs);
    }
    void connect(bool tcp) {
        if (tcp) {
            control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
            control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
            control<QPushButton>("Butt_connect_xport")->click();
            GatewayLink& link = form->program().link();
            ASSERT_TRUE(test::WaitOn(
                &link, &GatewayLink::stateChanged, [&link] { return link.TcpMode(); }, 5000));
        } else {
            control<QComboBox>("Combo_com2_name")->setCurrentText(sim.ptyPath);
            control<QPushButton>("Butt_open_port2")->click();
            ASSERT_TRUE(form->program().link().SerialOpen());
        }
    }
};

TEST_F(LostLinkWindow, KillingTheGatewayEndsTheRunningOperation) {
    const struct {
        const char* name;
        std::function<void(LostLinkWindow&)> start;
        const char* running;  // a line that shows the operation is under way
        const char* line;
        const char* button;  // enabled again at the end
    } operations[] = {
        {"scan",
         [](LostLinkWindow& t) {
             t.control<UpDown>("UDaddressFrom")->setPosition(0);
             t.control<UpDown>("UDaddressTo")->setPosition(250);
             t.control<UpDown>("UD_timeout")->setPosition(300);
             t.dialogs.answers = {false};
             t.control<QPushButton>("BitBtn1")->click();
         },
         "Searching for address 1", "Connection lost: scan stopped.", "BitBtn1"},
        {"status read",
         [](LostLinkWindow& t) {
             t.control<UpDown>("UD_modbusTimeout")->setPosition(10000);
             t.control<QPushButton>("BitBtn18")->click();
         },
         "Reading settings of device:", "Connection lost: status read stopped.", "BitBtn18"},
        {"automatic read", [](LostLinkWindow& t) { t.control<QCheckBox>("CheckBox1")->click(); },
         "RCVD:01 04", "Connection lost: automatic read stopped.", "BitBtn3"},
    };
    for (const bool tcp : {true, false}) {
        for (const auto& operation : operations) {
            const std::string what =
                std::string(operation.name) + (tcp ? " over TCP" : " over a pty");
            // The status read's second step is never answered, so it is sure to be running.
            ASSERT_TRUE(sim.start({"--fault", "no-reply,count=-1,register=32769"})) << what;
            form = std::make_unique<TForm1>(clock, dialogs,
                                            ProgramPaths{folder.path(), folder.filePath("t.ini")});
            form->show();
            connect(tcp);
            operation.start(*this);
            ASSERT_TRUE(logged(operation.running, 20000)) << what;
            sim.process.kill();
            EXPECT_TRUE(logged(operation.line, 10000)) << what;
            EXPECT_TRUE(control<QPushButton>(operation.button)->isEnabled()) << what;
            EXPECT_FALSE(control<QCheckBox>("CheckBox1")->isChecked()) << what;
            for (const Timer* timer : form->program().findChildren<Timer*>())
                EXPECT_FALSE(timer->isActive() && timer->objectName() != "Timer_auto")
                    << what << ": " << timer->objectName().toStdString();
            EXPECT_FALSE(form->program().timer("Timer_auto")->isActive()) << what;
            form.reset();
            sim.process.waitForFinished(5000);
        }
    }
}

}  // namespace
}  // namespace tarnel
