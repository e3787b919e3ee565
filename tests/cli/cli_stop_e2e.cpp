// tarnel-cli when a gateway answers only part of a command, or never, and
// when Ctrl-C or SIGTERM stops it.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "cli_process.h"
#include "support/files.h"

namespace tarnel {
namespace {

using test::cli;
using test::CliRun;
using test::FaultySim;

QString writeTable(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    return test::writeFile(path, content) ? path : QString();
}

// No valid answer, or only part of what was asked: exit 1 and one line that
// names what is missing. This gateway never answers the device
// identification (function 43) nor table entry 2 (register 29).
TEST(GatewayCliIncomplete, ExitOneNamesWhatIsMissing) {
    const FaultySim sim(
        {"no-reply,function=43,count=-1", "no-reply,function=4,register=29,count=-1"});
    ASSERT_FALSE(sim.tcp.isEmpty());
    QTemporaryDir dir;
    const QString table = writeTable(dir, "t.csv", "id;addr;\n45000012;4;\n51872403;5;\n1;251;\n");
    const QStringList silent{"--unit",      "7",   "--timeout", "100",
                             "--scan-time", "300", "--retry",   "0"};
    const std::string noRows = " has no meter rows (a header line, then one line a meter)\n";
    const struct {
        QStringList args;
        int status;
        std::string line;  // all of standard error
    } cases[] = {
        {{"status"}, 1, "tarnel-cli: not answered: device identification (1 of 14 steps)\n"},
        {QStringList{"status"} + silent, 1, "tarnel-cli: the gateway gave no valid answer\n"},
        {{"devices", "--timeout", "300"}, 1, "tarnel-cli: entry 2 of 3 was not read\n"},
        {QStringList{"devices"} + silent, 1,
         "tarnel-cli: the gateway did not answer the count of its devices\n"},
        {{"activate-all", table, "--scan-time", "2000"},
         1,
         "tarnel-cli: row 3 of 3 was not activated\n"},
        {QStringList{"activate-all", table} + silent, 1,
         "tarnel-cli: rows 1, 2, 3 of 3 were not activated\n"},
        {{"set-address", "12345678", "3", "--scan-time", "400"},
         1,
         "tarnel-cli: Meter 30201567 answers at address 3 already: the address of meter "
         "12345678 is not changed (--force changes it).\n"},
        {{"set-address", "12345678", "1", "--scan-time", "400"}, 0, ""},  // its own address
        // A change the meter acknowledged (E5) is done, with no read after it.
        {{"set-value", "1", "42", "--retry", "0"}, 0, ""},
        {{"set-medium", "1", "12345678", "water", "--retry", "0"}, 0, ""},
        {{"set-baud", "1", "2400", "--retry", "0"}, 0, ""},
        {{"set-address", "12345678", "3", "--scan-time", "400", "--retry", "0", "--force"}, 1, ""},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(c.args + QStringList{"--tcp", sim.tcp, "-q"});
        EXPECT_EQ(run.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_EQ(run.err.toStdString(), c.line) << c.args.join(' ').toStdString();
    }
    {  // the link lost while the new address is checked: a link error, nothing changed
        const FaultySim closing(QStringList{"close,function=16"});
        const CliRun run = cli({"set-address", "12345678", "3", "--tcp", closing.tcp, "-q"});
        EXPECT_EQ(run.status, 3) << run.err.toStdString();
    }
    for (const QByteArray& empty :
         {QByteArray(), QByteArray("id;addr;\n"), QByteArray("\r"), QByteArray("\xEF\xBB\xBF")}) {
        const QString path = writeTable(dir, "empty.csv", empty);
        const CliRun run = cli({"activate-all", path, "--tcp", sim.tcp, "-q"});
        EXPECT_EQ(run.status, 1) << empty.toHex().toStdString();
        EXPECT_EQ(run.err.toStdString(), "tarnel-cli: " + path.toStdString() + noRows);
    }
    {  // a refused table says so with -q too
        const QString path =
            writeTable(dir, "long.csv", "id;addr;\n" + QByteArray("1;2;\n").repeated(10'001));
        const CliRun run = cli({"activate-all", path, "--tcp", sim.tcp, "-q"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.toStdString(), "tarnel-cli: " + path.toStdString() +
                                             " not read: it has more than 10000 rows, more than a "
                                             "gateway or a bus holds.\n");
    }
}

// A gateway that answers nothing at this unit stops a scan of every address
// after its third unanswered request, with one line (with -q, as the
// command's note), and exits 1.
TEST(GatewayCliSilent, AScanStopsAtOnce) {
    const FaultySim sim(QStringList{});
    ASSERT_FALSE(sim.tcp.isEmpty());
    const CliRun run = cli({"scan", "0", "250", "--tcp", sim.tcp, "--unit", "7", "--timeout", "100",
                            "--scan-time", "300"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.count("No answer from the gateway to 3 requests in a row: scan stopped. "
                            "Check the link settings, the Modbus address and the wiring.\n"),
              1)
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Searching for address 1\n"));
    const CliRun quiet = cli({"scan", "0", "250", "--tcp", sim.tcp, "--unit", "7", "--timeout",
                              "100", "--scan-time", "300", "-q"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err,
              "tarnel-cli: No answer from the gateway to 3 requests in a row: scan stopped. "
              "Check the link settings, the Modbus address and the wiring.\n");
}

// Ctrl-C, SIGTERM and SIGHUP stop every command at once against a gateway that never
// answers (its waits are the longest the options allow): each ends within
// moments with the status for what it got, its line, and its log saved.
TEST(GatewayCliSignals, EveryCommandStopsAtOnce) {
    const FaultySim sim({"no-reply,count=-1"});
    ASSERT_FALSE(sim.tcp.isEmpty());
    QTemporaryDir dir;
    const QString table = writeTable(dir, "t.csv", "id;addr;\n45000012;4;\n51872403;5;\n");
    const QString noCount = "tarnel-cli: the gateway did not answer the count of its devices";
    const struct {
        QStringList args;
        int signal;
        int status;
        QString line;  // on standard error
    } cases[] = {
        {{"status"}, SIGINT, 1, "tarnel-cli: the gateway gave no valid answer"},
        {{"status"}, SIGTERM, 1, "tarnel-cli: the gateway gave no valid answer"},
        {{"registers", "1", "5"}, SIGINT, 1, "Register read stopped."},
        {{"devices"}, SIGTERM, 1, noCount},
        {{"points"}, SIGINT, 1, noCount},
        {{"addresses"}, SIGINT, 1, ""},
        {{"activate", "5"}, SIGTERM, 1, ""},
        {{"activate-all", table}, SIGINT, 1, "tarnel-cli: rows 1, 2 of 2 were not activated"},
        {{"scan", "0", "250"}, SIGINT, 1, "Scan stopped: meters found 0"},
        {{"read", "5"}, SIGTERM, 1, ""},
        {{"search", "FFFFFFFF"}, SIGHUP, 1, ""},  // the terminal closed
        {{"set-address", "12345678", "7"}, SIGINT, 1, ""},
        {{"report", "--html", dir.filePath("r.html")},
         SIGTERM,
         1,
         "tarnel-cli: stopped: no report written"},
        {{"command", "01 04 00 00 00 01", "--serial", sim.pty}, SIGINT, 1, ""},
    };
    for (const auto& c : cases) {
        const std::string what = c.args.join(' ').toStdString();
        const QString log = dir.filePath("cli.log");
        QFile::remove(log);
        QStringList args =
            c.args + QStringList{"--timeout", "20000", "--scan-time", "9900", "--log", log};
        if (!c.args.contains("--serial")) args << "--tcp" << sim.tcp;
        QProcess process;
        process.start(TARNEL_CLI, args);
        QByteArray err;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                err += process.readAllStandardError();
                return err.contains("Connected TCP/IP") || err.contains("19200,8,Even");
            },
            20000))
            << what;
        ::kill(static_cast<pid_t>(process.processId()), c.signal);
        ASSERT_TRUE(process.waitForFinished(5000)) << what;
        err += process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << what;
        EXPECT_EQ(process.exitCode(), c.status) << what;
        EXPECT_TRUE(err.contains(c.line.toUtf8())) << what << "\n" << err.toStdString();
        EXPECT_FALSE(test::readFile(log).isEmpty()) << what;
    }
}

}  // namespace
}  // namespace tarnel
