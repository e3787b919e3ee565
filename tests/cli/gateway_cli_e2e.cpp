// tarnel-cli's gateway commands against tarnel-sim over loopback TCP and a
// pseudo-terminal, and their refusals.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include "cli_process.h"
#include "support/files.h"

namespace tarnel {
namespace {

using test::cli;
using test::CliRun;

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

// Every command's exit status, what it prints, and the line that refuses
// it: 0 done, 1 no result, 2 a wrong command line (checked before the link
// is opened), 3 no link. The cases run in order on one simulated gateway.
TEST_F(GatewayCli, EveryCommandsExitStatusAndRefusals) {
    QTemporaryDir dir;
    const QString table = dir.filePath("activate.csv");
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("id;addr;\n45000012;4;\n51872403;5;\n");
    file.close();
    const QStringList quick{"--scan-time", "300", "--retry", "0"};
    const QStringList silentUnit{"--unit", "7", "--timeout", "100"};
    const struct {
        QStringList args;
        int status;
        const char* shown;  // in the output (0, 1) or the error (2, 3)
        bool serialToo = false;
    } cases[] = {
        {{"scan", "1", "3", "--scan-time", "400"}, 0, "30201567;3;GSW;852.410;m3;Gas;04;", true},
        {QStringList{"scan", "200", "201"} + quick, 1, " ID ;Addr ;"},
        {{"scan", "0", "251"}, 2, "an M-Bus primary address is 0 to 250: 251"},
        {{"scan", "1"}, 2, "an argument is missing"},
        {{"read", "2", "--scan-time", "400"}, 0, "21030045;2;HTL;", true},
        {QStringList{"read", "250"} + quick, 1, ""},
        {{"read", "x"}, 2, "the address is not a number: x"},
        // An address is a number, however it is spelled.
        {{"read", "05", "--scan-time", "400"}, 0, "51872403;5;WWR;", true},
        {{"read", " 5", "--scan-time", "400"}, 0, "51872403;5;WWR;"},
        {{"read", "+5", "--scan-time", "400"}, 0, "51872403;5;WWR;"},
        // DIF 42: storage 1, 16 bits; VIF 6C: date type G, 0x3C1F = 2024-12-31.
        {{"read", "2", "--records", "--scan-time", "400"},
         0,
         "\n1;0;0;instantaneous;Date;2024-12-31;;42 6C 1F 3C;;\n",
         true},
        // DIF 02, VIF 3B: volume flow 0 x 10^-3 m3/h.
        {{"scan", "1", "1", "--records", "--json", "--scan-time", "400"},
         0,
         "\"quantity\":\"Volume "
         "flow\",\"unit\":\"m3/h\",\"value\":0.000,\"bytes\":\"023B0000\"}]}"},
        {{"search", "12345678", "--scan-time", "400"},
         0,
         "12345678;1;ABC;123.456;m3;Water;00;",
         true},
        {QStringList{"search", "99999999"} + quick, 1, ""},
        {{"search", "1234567f", "--scan-time", "400"}, 0, "12345678;1;ABC;"},
        {{"search", "1234567"}, 2, "the ID is 8 digits, FFFFFFFF or digits and F"},
        {{"registers", "3", "1", "--holding", "--full-waits"}, 0, "3;00;;3C;;", true},
        {QStringList{"registers", "3", "1"} + silentUnit, 1, ""},
        {{"registers", "1", "125"}, 0, "\n125;"},
        {{"registers", "0", "126"}, 2, "COUNT is 1 to 125: 126"},
        {{"registers", "65536", "1"}, 2, "START is 0 to 65535: 65536"},
        {{"status"}, 0, "Reading settings finished!", true},
        {QStringList{"status"} + silentUnit, 1, ""},
        {{"activate-all", table, "--scan-time", "2000"}, 0, "45000012;4;"},
        {{"activate-all", dir.filePath("none.csv")}, 2, "no table file"},
        {{"devices", "--json"}, 0, "[\"51872403\",\"5\",", true},
        {QStringList{"devices"} + silentUnit, 1, ""},
        {{"addresses"}, 0, "1;1;"},
        {QStringList{"addresses"} + silentUnit, 1, ""},
        {QStringList{"points"} + silentUnit, 1, ""},
        {{"report", "--html", dir.filePath("report.html"), "--scan", "1", "3", "--scan-time",
          "400"},
         0,
         "Commissioning report written to "},
        {QStringList{"report", "--html", dir.filePath("report.html")} + silentUnit, 1, ""},
        {{"report"}, 2, "give the report's file: --pdf FILE or --html FILE"},
        {{"report", "--pdf", "/nonexistent/r.pdf"}, 1, ""},
        {{"report", "--html", "r.html", "--scan", "1"}, 2, "--scan needs FROM and TO"},
        {{"report", "--html", "r.html", "--scan", "1", "251"},
         2,
         "an M-Bus primary address is 0 to 250: 251"},
        {{"activate", "4"}, 0, "RCVD:01 06 00 00 00 04 "},
        {{"activate", "251"}, 2, "an M-Bus primary address is 0 to 250: 251"},
        {{"delete-inputs", "4"}, 0, "RCVD:01 06 00 02 00 04 "},
        {QStringList{"delete", "4"} + silentUnit, 1, ""},
        {{"delete", "some"}, 2, "the address is not a number: some"},
        {{"set-value", "3", "4242", "--scan-time", "400"}, 0, "30201567;3;GSW;", true},
        {{"set-value", "3", "4294967295", "--binary", "--scan-time", "400"}, 0, "30201567;3;"},
        {{"set-value", "3", "100000000"}, 2, "VALUE is 0 to 99999999: 100000000"},
        {{"set-value", "3", "4294967296", "--binary"}, 2, "VALUE is 0 to 4294967295"},
        {QStringList{"set-value", "200", "5"} + quick, 1, ""},
        {{"set-medium", "3", "30201567", "Hot water", "--scan-time", "400"}, 0, ";Hot water;"},
        {{"set-medium", "3", "30201567", "N/A", "--scan-time", "400"}, 0, "30201567;3;"},
        {{"set-medium", "3", "30201567", "GAS", "--scan-time", "400"}, 0, ";Gas;"},
        {{"set-medium", "3", "30201567", "steam"}, 2, "MEDIUM is oil, hot-water"},
        {{"set-medium", "3", "3020156", "gas"}, 2, "the ID is 8 digits: 3020156"},
        {{"set-baud", "3", "2400", "--scan-time", "400"}, 0, "30201567;3;"},
        {{"set-baud", "3", "9600"}, 2, "the baud rate is 300 or 2400: 9600"},
        {{"set-address", "21030045", "99", "--scan-time", "600"}, 0, "21030045;99;HTL;"},
        {QStringList{"set-address", "99999999", "98"} + quick, 1, ""},
        {{"set-address", "21030045", "0"}, 2, "a new primary address is 1 to 250: 0"},
        {{"set-address", "21030045", "251"}, 2, "a new primary address is 1 to 250: 251"},
        {{"command", "01 04 80 00 00 01 18 0A"},
         2,
         "a custom command goes on the serial line only"},
        {{"command", "", "--serial", "/dev/null"}, 2, "no bytes to send"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"status", "--serial", "/dev/tarnel-no-such-tty"},
         3,
         "cannot open /dev/tarnel-no-such-tty"},
        {{"status", "--tcp", "127.0.0.1:1"}, 3, "cannot connect to 127.0.0.1:1"},
        {{"scan", "1", "3", "--tcp", "127.0.0.1:1"}, 3, "cannot connect to 127.0.0.1:1"},
        {{"status", "--parity", "ODD"}, 0, "Reading settings finished!", true},
        {{"status", "--parity", "odd"}, 0, "Reading settings finished!", true},
        {{"status", "--parity", "ood"}, 2, "--parity is even, odd, none, mark or space: ood"},
        {{"status", "--settings", "/nonexistent/tarnel.ini"}, 2, "no settings file"},
        {{"status", "--timeout", "-1"}, 2, "--timeout is 50 to 20000: -1"},
        {{"status", "--tcp", "127.0.0.1:abc"}, 2, "the TCP port is 1 to 65535: abc"},
        // The gateway's settings: each write's echo (function 6: register and
        // value; function 16: register and count).
        {{"set-timeouts", "respond", "5"}, 0, "RCVD:01 06 00 05 00 05 ", true},
        {{"set-timeouts", "between", "100"}, 2, "TIME is 0 to 99: 100"},
        {{"set-clock"}, 0, "RCVD:01 10 00 10 00 04 "},
        {QStringList{"set-clock"} + silentUnit, 1, ""},
        {{"set-clock", "--tcp", "127.0.0.1:1"}, 3, "cannot connect to 127.0.0.1:1"},
        {{"set-port-baud", "modbus", "19200", "odd"}, 0, "RCVD:01 06 80 12 00 51 "},
        {{"set-port-baud", "mbus", "2400", "Odd"}, 0, "RCVD:01 06 80 13 00 21 "},
        {{"set-port-baud", "mbus", "19200", "odd"}, 2, "the M-Bus port's baud rate is 300,"},
        {{"set-modbus-address", "1"}, 0, "RCVD:01 06 80 11 00 01 "},
        {{"set-modbus-address", "255"}, 2, "the new Modbus address is 0 to 254: 255"},
        {{"set-readout-period", "720"}, 0, "RCVD:01 06 00 03 A8 C0 "},
        {{"set-readout-period", "1"}, 0, "RCVD:01 06 00 03 00 3C "},
        {{"set-flag", "sort", "1"}, 0, "RCVD:01 06 00 06 00 8A "},
        {{"set-ip", "mask", "10.0.0.1"}, 0, "RCVD:01 10 D8 6C 00 02 ", true},
        {QStringList{"set-ip", "mask", "10.0.0.1"} + silentUnit, 1, ""},
        {{"set-ip", "mask", "192.168.1.300"}, 2, "ADDRESS is four numbers 0 to 255"},
        {{"set-listen-port", "502"}, 0, "RCVD:01 06 DA C2 01 F6 "},
        {{"set-listen-port", "49"}, 2, "the listen port is 50 to 65535: 49"},
        {{"set-serial-number", "12345678"}, 0, "RCVD:01 10 D8 22 00 02 "},
        {{"set-serial-number", "1234567"}, 2, "the serial number is 8 digits: 1234567"},
        {{"search-activate", "--tcp", "127.0.0.1:1"}, 3, "cannot connect to 127.0.0.1:1"},
    };
    for (const auto& c : cases) {
        const bool linked = c.args.contains("--serial") || c.args.contains("--tcp") ||
                            c.args.contains("--settings");
        for (const bool serial : {false, true}) {
            if (serial && !c.serialToo) break;
            const QStringList link = linked   ? QStringList{}
                                     : serial ? QStringList{"--serial", pty}
                                              : QStringList{"--tcp", tcp};
            const CliRun run = cli(c.args + link + QStringList{"-q"});
            const std::string what = (c.args + link).join(' ').toStdString();
            EXPECT_EQ(run.status, c.status) << what << ": " << run.err.toStdString();
            EXPECT_TRUE((c.status >= 2 ? run.err : run.out).contains(c.shown))
                << what << "\n"
                << run.out.toStdString() << run.err.toStdString();
            if (c.status == 2) {
                EXPECT_TRUE(run.out.isEmpty()) << what;
            }
        }
    }
}

// The gateway answers "Search and activate" once it has searched its bus
// (at 9600 Bd, about 20 s): the command waits for it, and the meter it
// found is in its table.
TEST(GatewayCliSearch, TheGatewaysOwnSearchIsAwaited) {
    QTemporaryDir dir;
    ASSERT_TRUE(test::writeFile(dir.filePath("meters.json"),
                                R"({"meters": [{"address": 9, "id": "99000009", "baud": 9600}]})"));
    QProcess sim;
    sim.start(TARNEL_SIM, {"--tcp", "0", "--meters", dir.filePath("meters.json")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000));
    const QString tcp =
        "127.0.0.1:" + QString::fromLatin1(sim.readLine()).trimmed().section(':', -1);
    EXPECT_TRUE(cli({"set-port-baud", "mbus", "9600", "none", "--tcp", tcp, "-q"})
                    .out.startsWith("RCVD:01 06 80 13 00 42 "));
    const CliRun run = cli({"search-activate", "--tcp", tcp, "-q"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("RCVD:01 06 64 68 00 40 ")) << run.out.toStdString();
    EXPECT_TRUE(cli({"devices", "--tcp", tcp, "-q"}).out.contains("\n99000009;9;"));
    sim.terminate();
    sim.waitForFinished(5000);
}

// "Set all Primary addresses" from a file: the meters found by their IDs
// move and are read at their new addresses; a meter that is not on the bus
// is named; a file giving two meters one address sends nothing.
TEST_F(GatewayCli, EveryAddressOfAFile) {
    QTemporaryDir dir;
    const struct {
        const char* file;
        int status;
        const char* shown;  // on standard output, else on standard error
    } cases[] = {
        // The file has no manufacturer: the rows show what the meters answered.
        {"12345678;9;\r\n21030045;10;\r\n", 0, "12345678;9;ABC;123.456;m3;Water;00;"},
        {"21030045;2;\r\n99999999;11;\r\n", 1, "tarnel-cli: line 2 of 2 was not changed"},
        {"12345678;3;\r\n21030045;3;\r\n", 2, "are both given address 3"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath("addresses.csv");
        ASSERT_TRUE(test::writeFile(path, c.file));
        const CliRun run =
            cli({"set-addresses", path, "--tcp", tcp, "--scan-time", "400", "--retry", "0", "-q"});
        EXPECT_EQ(run.status, c.status) << c.file << run.err.toStdString();
        EXPECT_TRUE((c.status == 0 ? run.out : run.err).contains(c.shown))
            << run.out.toStdString() << run.err.toStdString();
    }
    EXPECT_EQ(cli({"read", "9", "--tcp", tcp, "--scan-time", "400", "-q"}).status, 0);
    const QString addresses = dir.filePath("addresses.csv");
    EXPECT_EQ(cli({"set-addresses", addresses, "--tcp", "127.0.0.1:1", "-q"}).status, 2)
        << "refused before the link";
    ASSERT_TRUE(test::writeFile(addresses, "12345678;1;\r\n"));
    EXPECT_EQ(cli({"set-addresses", addresses, "--tcp", "127.0.0.1:1", "-q"}).status, 3);
}

// A gateway that refuses every table command with exception 4, and a meter
// that takes each change (E5) but whose telegram then fails its checksum:
// neither is a success.
TEST(GatewayCliFailures, AnExceptionOrAFailedReadBackIsNoResult) {
    QTemporaryDir dir;
    QFile meters(dir.filePath("meters.json"));
    ASSERT_TRUE(meters.open(QIODevice::WriteOnly));
    meters.write(R"({"meters": [{"address": 9, "id": "99000009", "wrongChecksum": true}]})");
    meters.close();
    QProcess sim;
    sim.start(TARNEL_SIM, {"--tcp", "0", "--meters", meters.fileName(), "--fault",
                           "exception,value=4,function=6,count=-1"});
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000));
    const QString tcp =
        "127.0.0.1:" + QString::fromLatin1(sim.readLine()).trimmed().section(':', -1);
    const struct {
        QStringList args;
        const char* shown;  // on standard output
    } cases[] = {
        {{"activate", "9"}, "RCVD:01 86 04 "},
        {{"delete", "9"}, "RCVD:01 86 04 "},
        {{"delete-inputs", "9"}, "RCVD:01 86 04 "},
        {{"delete", "all"}, "RCVD:01 86 04 "},
        {{"set-readout-period", "5"}, "RCVD:01 86 04 "},
        {{"search-activate"}, "RCVD:01 86 04 "},
        {{"set-value", "9", "5"}, ""},
        {{"set-medium", "9", "99000009", "gas"}, ""},
        {{"set-baud", "9", "2400"}, ""},
        {{"set-address", "99000009", "10"}, ""},
    };
    for (const auto& c : cases) {
        const CliRun run =
            cli(c.args + QStringList{"--tcp", tcp, "--scan-time", "400", "--retry", "1", "-q"});
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(run.status, 1) << what << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(c.shown)) << what << "\n" << run.out.toStdString();
        EXPECT_FALSE(run.out.contains("99000009;")) << what << "\n" << run.out.toStdString();
    }
    sim.terminate();
    sim.waitForFinished(5000);
}

TEST_F(GatewayCli, ACommandGoesOutRawOnTheSerialLine) {
    const CliRun run = cli({"command", "01 04 80 00 00 01 18 0A", "--serial", pty, "-q"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith("RCVD:01 04 02 ")) << run.out.toStdString();
    // Written without blanks: all eight bytes went out, ten registers came back.
    const CliRun unbroken = cli({"command", "01040001000A21CD", "--serial", pty, "-q"});
    EXPECT_EQ(unbroken.status, 0);
    EXPECT_TRUE(unbroken.out.startsWith("RCVD:01 04 14 ")) << unbroken.out.toStdString();
    EXPECT_EQ(cli({"command", "01 0G", "--serial", pty, "-q"}).status, 2);
}

TEST_F(GatewayCli, TheWindowsSettingsFileGivesTheLinkAndOptionsOverrideIt) {
    QTemporaryDir dir;
    QFile ini(dir.filePath("tarnel.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(("[Modbus]\nAutoOpen=0\nAddress=7\nTimeout=10\n[TCP]\nIP=127.0.0.1\nPort=" +
               tcp.section(':', 1) + "\n")
                  .toUtf8());
    ini.close();
    const CliRun clamped =
        cli({"status", "--settings", ini.fileName(), "--unit", "1", "--timeout", "600", "-q"});
    EXPECT_EQ(clamped.status, 0);
    EXPECT_EQ(clamped.err, "tarnel-cli: [Modbus] Timeout=10 is out of 50 to 20000: 50 is used\n");
    const CliRun run = cli({"registers", "3", "1", "--settings", ini.fileName(), "-q"});
    EXPECT_EQ(run.status, 1) << "unit 7 does not answer";
    EXPECT_EQ(cli({"registers", "3", "1", "--settings", ini.fileName(), "--unit", "1", "--timeout",
                   "600", "-q"})
                  .status,
              0);
    EXPECT_TRUE(cli({"scan", "--help"}).out.startsWith("tarnel-cli scan FROM TO"));
}

// --log is written under its name's own bytes, even when they are not
// UTF-8; a log that cannot be written says why and fails the command.
TEST_F(GatewayCli, TheLogKeepsItsNamesBytesAndAFailureSaysWhy) {
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xE9.log";
    QProcess shell;  // QProcess takes text: the shell gives the name's bytes
    shell.start("/bin/sh",
                {"-c", "exec \"$0\" status --tcp \"$1\" -q --log \"$2\"$(printf '\\351').log",
                 TARNEL_CLI, tcp, dir.path() + "/caf"});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0);
    const int fd = ::open(name.constData(), O_RDONLY);
    ASSERT_GE(fd, 0) << "no file of that name";
    char head[4096];
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    ::unlink(name.constData());  // QTemporaryDir cannot name it
    EXPECT_TRUE(QByteArray(head, std::max<ssize_t>(got, 0)).contains("\r\n"));

    const CliRun full = cli({"status", "--tcp", tcp, "-q", "--log", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(
        full.err.contains("tarnel-cli: cannot write the log to /dev/full: No space left on device"))
        << full.err.toStdString();
}

// Ctrl-C stops a scan as STOP does; a lost link ends it too. Either way the
// meters found so far are printed and the log is saved; a lost link exits 3.
TEST_F(GatewayCli, AStoppedOrLostScanPrintsWhatItFound) {
    QTemporaryDir dir;
    const QString log = dir.filePath("scan.log");
    for (const bool lose : {false, true}) {
        QProcess process;
        process.start(TARNEL_CLI, {"scan", "0", "250", "--tcp", tcp, "--scan-time", "300",
                                   "--retry", "0", "--log", log});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return process.readAllStandardError().contains("Searching for address 2"); },
            20000));
        if (lose) {
            sim.terminate();
            sim.waitForFinished(5000);
        } else {
            ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        }
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitCode(), lose ? 3 : 0);
        EXPECT_TRUE(process.readAllStandardOutput().contains("12345678;1;ABC;"));
        EXPECT_TRUE(QString(test::readFile(log))
                        .contains(lose ? "Connection lost: scan stopped." : "Scan stopped: "))
            << lose;
    }
    // No link at all: the log still tells the attempt.
    EXPECT_EQ(cli({"status", "--tcp", "127.0.0.1:1", "-q", "--log", log}).status, 3);
    EXPECT_TRUE(QString(test::readFile(log)).contains("Trying to connect"))
        << test::readFile(log).toStdString();
}

// Every value point of the points list read back by an independent client at
// its register (1-based, int32 high word first) gives the list's raw value.
TEST_F(GatewayCli, ThePointsListsRegistersHoldItsValues) {
    const QString mbpoll = QStandardPaths::findExecutable("mbpoll");
    if (mbpoll.isEmpty()) GTEST_SKIP() << "mbpoll is not installed";
    QTemporaryDir dir;
    const CliRun run = cli({"points", "--tcp", tcp, "-q", "--ha", dir.filePath("points.yaml")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    int checked = 0;
    for (const QString& line : run.out.split("\r\n").mid(1)) {
        const QStringList cells = line.split(';');  // Entry;...;Register;Count;Type;...;Raw;Value;
        if (cells.size() < 15 || cells[9] != "2") continue;
        QProcess poll;
        poll.start(mbpoll, {"-m", "tcp", "-p", tcp.section(':', -1), "-a", "1", "-t", "3:int", "-B",
                            "-r", cells[8], "-c", "1", "-1", "127.0.0.1"});
        ASSERT_TRUE(poll.waitForFinished(10000));
        EXPECT_TRUE(QString::fromLatin1(poll.readAllStandardOutput())
                        .contains(QString("[%1]: \t%2\n").arg(cells[8], cells[13])))
            << line.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, 15) << "three activated meters, five values each";
    QFile yaml(dir.filePath("points.yaml"));
    ASSERT_TRUE(yaml.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        yaml.readAll().contains("        address: 11\n        input_type: input\n"
                                "        data_type: int32\n        scale: 0.001\n"));
    EXPECT_EQ(cli({"points", "--tcp", tcp, "-q", "--ha", "/nonexistent/points.yaml"}).status, 1);
}

// What Python's json and yaml modules read from `file`: `script` runs with
// `load` bound to the file's bytes; its standard output, or the error.
QString python(const char* script, const QString& file) {
    QProcess process;
    process.start(
        "/usr/bin/python3",
        {"-c", QString("import json, sys, yaml\nload = open(sys.argv[1], 'rb').read()\n") + script,
         file});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// tarnel-cli's standard output as it wrote it, byte for byte, into `file`;
// its exit status.
int cliInto(const QStringList& args, const QString& file) {
    QProcess process;
    process.setStandardOutputFile(file);
    process.start(TARNEL_CLI, args);
    process.waitForFinished(60000);
    return process.exitCode();
}

// Every line of `out` one JSON object (UTF-8, strictly), and the unit of
// each object's row, as Python writes it in ASCII.
constexpr const char* kRowUnits =
    "for line in load.split(b'\\n')[:-1]:\n"
    "    o = json.loads(line.decode('utf-8'))\n"
    "    assert isinstance(o, dict) and o['records']\n"
    "    print(json.dumps(o['row'][4]))\n";

// A meter whose plain-text unit holds a quote, a backslash, CR LF, NUL, ESC,
// 0xFF, "#: ": the command line's JSON (Qt's writer) and the decoder's (the
// standard-library one) stay one valid object a line. A serial port named
// "ser: x #c" comes back from the YAML as that one hub's exact port.
TEST(GatewayCliHostileTexts, JsonLinesAndTheYamlReadBackByPython) {
    // DIF 04, VIF 7C, 12 characters, value 42.
    const QString record = "04 7C 0C 61 22 5C 0D 0A 00 1B FF 23 3A 20 62 2A 00 00 00";
    QTemporaryDir dir;
    QFile meters(dir.filePath("meters.json"));
    ASSERT_TRUE(meters.open(QIODevice::WriteOnly));
    meters.write(QString(R"({"meters": [{"address": 1, "id": "12345678", "records": "%1"}]})")
                     .arg(record)
                     .toUtf8());
    meters.close();
    QProcess sim;
    sim.start(TARNEL_SIM, {"--tcp", "0", "--pty", "--meters", meters.fileName()});
    ASSERT_TRUE(sim.waitForStarted(5000));
    QStringList lines;
    while (lines.size() < 2 && QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000))
        lines << QString::fromLatin1(sim.readLine()).trimmed();
    ASSERT_EQ(lines.size(), 2);
    const QString tcp = "127.0.0.1:" + lines[0].section(':', -1);
    const QString unit = R"("VIF is user ASCII string: a\"\\\r\n\u0000\u001b\u00ff#: b")";

    ASSERT_EQ(
        cliInto({"scan", "1", "1", "--json", "--records", "--tcp", tcp, "-q", "--scan-time", "400"},
                dir.filePath("scan.json")),
        0);
    EXPECT_EQ(python(kRowUnits, dir.filePath("scan.json")), unit + "\n");

    // C field 08 to the last record byte: the checksum.
    QByteArray telegram =
        QByteArray::fromHex(("0801727856341243040107 2A000000" + record).toLatin1());
    uint8_t sum = 0;
    for (const char byte : telegram)
        sum += static_cast<uint8_t>(byte);
    telegram = QByteArray::fromHex("682222 68") + telegram + char(sum) + char(0x16);
    ASSERT_EQ(cliInto({"decode", "--json", "--records", telegram.toHex(' ')},
                      dir.filePath("decode.json")),
              0);
    EXPECT_EQ(python(kRowUnits, dir.filePath("decode.json")), unit + "\n");

    const QString port = dir.filePath("ser: x #c");
    ASSERT_TRUE(QFile::link(lines[1].section(' ', 1), port));
    const CliRun points =
        cli({"points", "--serial", port, "-q", "--ha", dir.filePath("points.yaml")});
    EXPECT_EQ(points.status, 0) << points.err.toStdString();
    EXPECT_EQ(python("d = yaml.safe_load(load)['modbus']\n"
                     "print(len(d), len(d[0]['sensors']))\n"
                     "print(d[0]['port'])\n",
                     dir.filePath("points.yaml")),
              "1 6\n" + port + "\n");
    sim.terminate();
    sim.waitForFinished(5000);
}

// The report as PDF holds the same text as its HTML: the site, the
// gateway's status, every activated meter, the points with their registers
// and page numbers; the bus meter not activated is an open point.
TEST_F(GatewayCli, TheReportsPdfHoldsTheReport) {
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    const CliRun run = cli({"report", "--tcp", tcp, "-q", "--pdf", dir.filePath("r.pdf"), "--site",
                            "Plant room \u00c4", "--installer", "J. Doe", "--scan", "3", "4",
                            "--scan-time", "400"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QProcess text;
    text.start(pdftotext, {"-layout", dir.filePath("r.pdf"), "-"});
    ASSERT_TRUE(text.waitForFinished(10000));
    const QString pages = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* expected :
         {"Site: Plant room \u00c4", "Installer: J. Doe", "Velgate Corvane-64 0.3.1",
          "Meter 45000012 at address 4 is on the bus but not activated.",
          "Entry 3 (meter 30201567) reports M-Bus status 04.", "Signature:", "Page 1 of"}) {
        EXPECT_TRUE(pages.contains(QString::fromUtf8(expected))) << expected;
    }
    // Entry 2 starts at 29: its main value at 39 (register 40), its status at 38.
    static const QRegularExpression main2(R"(\n2 +2 +21030045 +Heat +Main +39 +40 )");
    static const QRegularExpression status2(R"(\n2 +2 +21030045 +Heat +Status +38 +39 +uint16)");
    EXPECT_TRUE(pages.contains(main2)) << pages.toStdString();
    EXPECT_TRUE(pages.contains(status2));
}

// The device table read over a pseudo-terminal, the gateway answering entry
// 1 late (after a time-out of 300 ms) and entry 2 after 250 ms: entry 2's
// row is shown, and entry 1's late reply never stands in for it; the
// read exits 1, saying entry 1 was not read.
TEST(LateReplyOnAPty, ALateEntryIsNeverShownAsTheNextOne) {
    // The device table read over a pseudo-terminal, the gateway answering
    // entry 1 late (after a time-out of 300 ms) and entry 2 after 250 ms:
    // entry 2's row is shown, and entry 1's late reply never stands in for it.
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
            EXPECT_EQ(run.status, 1) << what << ": " << run.err.toStdString();
            EXPECT_EQ(run.err, "tarnel-cli: entry 1 of 2 was not read\n") << what;
            EXPECT_TRUE(run.out.contains("51872403;5;")) << what << "\n" << run.out.toStdString();
            EXPECT_FALSE(run.out.contains("45000012")) << what << "\n" << run.out.toStdString();
        }
    }
}

}  // namespace
}  // namespace tarnel
