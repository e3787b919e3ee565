// The window's hand-over files when the gateway never answers table entry 2:
// each says what is missing and is written only when the user says so, and
// then says it first.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "link/gateway_link.h"
#include "sim_process.h"
#include "support/files.h"

namespace tarnel {
namespace {

const QString kIncomplete = "Incomplete: entry 2 of 3 was not read";

struct HandOverWindow : test::SimWindowTest {
    HandOverWindow() { simArguments = {"--fault", "no-reply,count=-1,function=4,register=29"}; }
    const QStringList& lines() { return form->program().log().lines(); }
    bool logged(const QString& line) {
        return whenLogged([&] { return lines().contains(line); }, 20000);
    }
    // Runs `action` with `answer` to its question, until `line` is logged.
    void handOver(const char* action, bool answer, const QString& line) {
        form->program().log().clear();
        dialogs.answers = {answer};
        control<QAction>(action)->trigger();
        ASSERT_TRUE(logged(line)) << lines().join('\n').toStdString();
        // The line comes first, then the question.
        EXPECT_EQ(lines().indexOf(kIncomplete + "."), lines().indexOf(line) - 1);
        EXPECT_EQ(dialogs.shown.back().text,
                  kIncomplete + ".\nWrite " +
                      (QString(action).startsWith("Export") ? "the points list anyway?"
                                                            : "the report anyway?"));
    }
};

TEST_F(HandOverWindow, IncompleteFilesOnlyWhenAskedForAndSayingSo) {
    // No link: the points list says so and asks for no file.
    control<QAction>("ExportPointsList1")->trigger();
    EXPECT_TRUE(lines().contains("Serial or TCP port for modbus is not open..."));
    EXPECT_TRUE(dialogs.fileRequests.empty());

    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    control<QPushButton>("Butt_connect_xport")->click();
    ASSERT_TRUE(tcpUp());
    form->program().setDataFolder(folder.path());

    const QString csv = folder.filePath("points.csv");
    dialogs.fileNames = {csv};
    handOver("ExportPointsList1", false, "Points list not written.");
    EXPECT_FALSE(QFile::exists(csv));
    dialogs.fileNames = {csv};
    handOver("ExportPointsList1", true,
             QString("Points list of 12 points written to %1 and %2.")
                 .arg(csv, folder.filePath("points.yaml")));
    EXPECT_TRUE(test::readFile(csv).startsWith((kIncomplete + ";\r\nEntry;Addr;").toLatin1()));
    EXPECT_TRUE(test::readFile(folder.filePath("points.yaml"))
                    .startsWith(("# " + kIncomplete + "\nmodbus:\n").toLatin1()));

    dialogs.forms = {{"Site", "Installer"}};
    handOver("CommissioningReport1", false, "Commissioning report not written.");
    EXPECT_NE(dialogs.shown.back().kind, "document");
    dialogs.forms = {{"Site", "Installer"}};
    form->program().log().clear();
    dialogs.answers = {true};
    control<QAction>("CommissioningReport1")->trigger();
    ASSERT_TRUE(whenLogged([&] { return dialogs.shown.back().kind == "document"; }, 20000))
        << lines().join('\n').toStdString();
    QString html = dialogs.shown.back().text;
    html.replace(".pdf", ".html");
    EXPECT_TRUE(test::readFile(html).contains(("<b>" + kIncomplete + "</b>").toUtf8()));
}

}  // namespace
}  // namespace tarnel
