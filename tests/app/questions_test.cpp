// The window asks before it starts an operation, and only where it will
// start: a link that is down or an operation the busy rule refuses says so
// in the log instead. The operations themselves ask nothing.
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

using Questions = test::WindowTest;

TEST_F(Questions, AskedOnlyOfAnOperationThatWillStart) {
    start();
    GridModel& meters = form->program().gridLoops();
    meters.setRows(3);
    meters.setRowTexts(1, {"12345678", "1", "ABC"});
    control<QTableView>("gridLoops")->selectRow(0);
    const QString notOpen = "Serial or TCP port for modbus is not open...";
    const QString clear = "Clear table|Do you want to clear the table?";
    const QString change = "Change address|Are you sure changing Primary address?";
    const struct {
        const char* name;
        bool linkUp;
        std::optional<Operation> running;  // held while the handler runs
        const char* id;                    // the ID edit's text
        void (TForm1::*handler)();
        QString asked;  // caption|text of the question, or empty
        QString line;   // the log's last line, when the operation did not start
    } cases[] = {
        // Link down: every operation that needs the link says so, unasked;
        // a single delete asks first as ever.
        {"scan, link down", false, {}, "", &TForm1::BitBtn1Click, {}, notOpen},
        {"search, link down", false, {}, "FFFFFFFF", &TForm1::BitBtn21Click, {}, notOpen},
        {"change, link down", false, {}, "", &TForm1::BitBtn23Click, {}, notOpen},
        {"delete all, link down", false, {}, "", &TForm1::DeleteAll1Click, {}, notOpen},
        {"delete, link down",
         false,
         {},
         "",
         &TForm1::Delete1Click,
         "Delete Confirmation|Are you sure you want to DELETE Device?",
         {}},
        // Refused: the refusal line, once, unasked.
        {"scan, search running",
         true,
         Operation::Search,
         "",
         &TForm1::BitBtn1Click,
         {},
         "Scan refused: the secondary search is running."},
        {"search, scan running",
         true,
         Operation::Scan,
         "ffffffff",
         &TForm1::BitBtn21Click,
         {},
         "Secondary search refused: the scan is running."},
        // Asked, answered No.
        {"change", true, {}, "", &TForm1::BitBtn23Click, change, {}},
        {"delete all",
         true,
         {},
         "",
         &TForm1::DeleteAll1Click,
         "Delete Confirmation|Are you sure you want to DELETE ALL?",
         {}},
        {"scan", true, {}, "", &TForm1::BitBtn1Click, clear, {}},
    };
    for (const auto& c : cases) {
        if (c.linkUp && !form->program().link().linkUp())
            control<QPushButton>("Butt_open_port2")->click();
        ASSERT_EQ(form->program().link().linkUp(), c.linkUp) << c.name;
        BusyRule& busy = form->program().busy();
        if (c.running) {
            ASSERT_TRUE(busy.begin(*c.running)) << c.name;
        }
        control<QLineEdit>("editID")->setText(c.id);
        dialogs.shown.clear();
        form->program().log().clear();
        (form.get()->*c.handler)();
        QStringList shown;
        for (const auto& box : dialogs.shown)
            shown << box.kind + ':' + box.caption + '|' + box.text;
        EXPECT_EQ(shown, c.asked.isEmpty() ? QStringList() : QStringList{"confirm:" + c.asked})
            << c.name;
        if (!c.line.isEmpty()) {
            EXPECT_EQ(form->program().log().lines(), QStringList{c.line}) << c.name;
        }
        if (c.running) busy.end(*c.running);
    }
    EXPECT_TRUE(form->program().scan().running()) << "answered No: the scan keeps the table";
    EXPECT_EQ(meters.cell(1, 0), "12345678");
    form->program().stopMbus();
}

}  // namespace
}  // namespace tarnel
