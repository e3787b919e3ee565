// tarnel-cli's gateway commands against tarnel-sim over loopback TCP and a
// pseudo-terminal, and their refusals.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace tarnel {
namespace {

struct CliRun {
    int status = -1;
    QString out, err;
};

CliRun cli(const QStringList& args) {
    QProcess process;
    process.start(TARNEL_CLI, args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

struct GatewayCli : ::testing::Test {
    QProcess sim;
    QString tcp, pty;

    void SetUp() override {
        sim.start(TARNEL_SIM, {"--tcp", "0", "--pty"});
        ASSERT_TRUE(sim.waitForStarted(5000));
        const auto line = [this] {
            if (!QTest::qWaitFor([this] { return sim.canReadLine(); }, 5000)) return QString();
            return QString::fromLatin1(sim.readLine()).trimmed();
        };
        tcp = "127.0.0.1:" + line().section(':', -1);
        pty = line().section(' ', 1);
    }
    void TearDown() override {
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

TEST_F(GatewayCli, OperationsPrintTheirTablesAndExitStatus) {
    QTemporaryDir dir;
    const QString table = dir.filePath("activate.csv");
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("id;addr;\n45000012;4;\n51872403;5;\n");
    file.close();
    const struct {
        QStringList args;
        int status;
        const char* out;  // a line the result holds
    } cases[] = {
        {{"scan", "1", "3", "--scan-time", "400"}, 0, "30201567;3;GSW;852.410;m3;Gas;04;"},
        {{"search", "12345678", "--scan-time", "400"}, 0, "12345678;1;ABC;123.456;m3;Water;00;"},
        {{"registers", "3", "1", "--holding", "--full-waits"}, 0, "3;00;;3C;;"},
        {{"status"}, 0, "Reading settings finished!"},
        {{"activate-all", table, "--scan-time", "2000"}, 0, "45000012;4;"},
        {{"devices", "--json"}, 0, "[\"51872403\",\"5\","},
        {{"read", "200", "--scan-time", "300", "--retry", "0"}, 1, ""},
        {{"set-value", "3", "4242", "--scan-time", "400"}, 0, "30201567;3;GSW;"},
        {{"activate", "300"}, 1, ""},
    };
    for (const auto& c : cases) {
        for (const bool serial : {false, true}) {
            const QStringList link =
                serial ? QStringList{"--serial", pty} : QStringList{"--tcp", tcp};
            const CliRun run = cli(c.args + link + QStringList{"-q"});
            EXPECT_EQ(run.status, c.status)
                << c.args.join(' ').toStdString() << ": " << run.err.toStdString();
            EXPECT_TRUE(run.out.contains(c.out)) << c.args.join(' ').toStdString() << "\n"
                                                 << run.out.toStdString();
            if (std::string(c.args[0].toStdString()) == "activate-all") break;  // once is enough
        }
    }
}

TEST_F(GatewayCli, AMeterGetsANewAddressAndACommandGoesOutRaw) {
    CliRun run = cli({"set-address", "21030045", "99", "--tcp", tcp, "-q", "--scan-time", "600"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("21030045;99;HTL;")) << run.out.toStdString();
    run = cli({"command", "01 04 80 00 00 01 18 0A", "--serial", pty, "-q"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith("RCVD:01 04 02 ")) << run.out.toStdString();
}

TEST_F(GatewayCli, TheWindowsSettingsFileGivesTheLinkAndOptionsOverrideIt) {
    QTemporaryDir dir;
    QFile ini(dir.filePath("tarnel.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        ("[Modbus]\nAutoOpen=0\nAddress=7\n[TCP]\nIP=127.0.0.1\nPort=" + tcp.section(':', 1) + "\n")
            .toUtf8());
    ini.close();
    EXPECT_EQ(cli({"status", "--settings", ini.fileName(), "--unit", "1", "-q"}).status, 0);
    const CliRun run = cli({"registers", "3", "1", "--settings", ini.fileName(), "-q"});
    EXPECT_EQ(run.status, 1) << "unit 7 does not answer";
    EXPECT_EQ(
        cli({"registers", "3", "1", "--settings", ini.fileName(), "--unit", "1", "-q"}).status, 0);
    EXPECT_TRUE(cli({"scan", "--help"}).out.startsWith("tarnel-cli scan FROM TO"));
}

TEST_F(GatewayCli, InterruptingAScanStopsItAndPrintsWhatItFound) {
    QProcess process;
    process.start(TARNEL_CLI,
                  {"scan", "0", "250", "--tcp", tcp, "--scan-time", "300", "--retry", "0"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return process.readAllStandardError().contains("Searching for address 2"); }, 20000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().contains("12345678;1;ABC;"));
}

TEST_F(GatewayCli, RefusalsSayWhyInOneLine) {
    const struct {
        QStringList args;
        int status;
        const char* reason;
    } cases[] = {
        {{"frobnicate", "--tcp", tcp}, 2, "unknown command frobnicate"},
        {{"scan", "1", "--tcp", tcp}, 2, "an argument is missing"},
        {{"scan", "1", "2"}, 2, "give the link"},
        {{"activate", "300", "--tcp", tcp}, 1, "an M-Bus primary address is 0 to 250: 300"},
        {{"status", "--serial", "/dev/tarnel-no-such-tty"}, 3, "No such file or directory"},
        {{"status", "--tcp", "127.0.0.1:1"}, 3, "cannot connect to 127.0.0.1:1"},
        {{"status", "--settings", "/nonexistent/tarnel.ini"}, 2, "no settings file"},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.reason)) << run.err.toStdString();
    }
}

// The device table read over a pseudo-terminal, the gateway answering entry
// 1 late (after a time-out of 300 ms) and entry 2 after 250 ms: entry 2's
// row is shown, and entry 1's late reply never stands in for it.
TEST(LateReplyOnAPty, ALateEntryIsNeverShownAsTheNextOne) {
    QTemporaryDir dir;
    QFile scenario(dir.filePath("two.json"));
    ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
    scenario.write(R"({"activate": [4, 5]})");
    scenario.close();
    for (const int lateAt : {450, 700, 900}) {
        for (const bool fast : {true, false}) {
            const std::string what =
                "late at " + std::to_string(lateAt) + " ms, fast " + std::to_string(fast);
            QProcess sim;
            sim.start(TARNEL_SIM, {"--pty", "--scenario", scenario.fileName(), "--fault",
                                   QString("delay,function=4,register=1,value=%1").arg(lateAt),
                                   "--fault", "delay,function=4,register=29,value=250"});
            ASSERT_TRUE(sim.waitForStarted(5000));
            ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000));
            const QString pty = QString::fromLatin1(sim.readLine()).trimmed().section(' ', 1);
            QStringList args{"devices", "--serial", pty, "--timeout", "300", "-q"};
            if (!fast) args << "--full-waits";
            const CliRun run = cli(args);
            sim.terminate();
            sim.waitForFinished(5000);
            EXPECT_EQ(run.status, 0) << what << ": " << run.err.toStdString();
            EXPECT_TRUE(run.out.contains("51872403;5;")) << what << "\n" << run.out.toStdString();
            EXPECT_FALSE(run.out.contains("45000012")) << what << "\n" << run.out.toStdString();
        }
    }
}

}  // namespace
}  // namespace tarnel
