#include "cli/decode_command.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <sstream>

#include "../mbus/telegrams.h"
#include "base/json_text.h"
#include "base/real_clock.h"
#include "cli/cli_session.h"
#include "cli/command_table.h"
#include "cli/gateway_options.h"
#include "gateway/device_table.h"
#include "gateway/program.h"
#include "support/fake_dialogs.h"
#include "support/fake_transports.h"
#include "support/files.h"
#include "support/python_csv.h"

namespace tarnel {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun decode(const std::vector<std::string>& args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int status = cli::decodeCommand(args, in, out, err);
    return {status, out.str(), err.str()};
}

TEST(CliDecode, JsonLineWithTheLogOkAndRow) {
    const CliRun run = decode({"--json", test::kVolume});
    EXPECT_EQ(run.status, 0);
    const std::string prefix =
        "{\"log\":[\"Respond: 68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 10 27 "
        "00 00 5A 16 \"],"
        "\"ok\":true,\"row\":[\"12345678\",\"5\",\"ABC\",\"10.000\",\"m3\",\"Water\",\"00\",\"";
    EXPECT_EQ(run.out.substr(0, prefix.size()), prefix);
    EXPECT_EQ(run.out.substr(run.out.size() - 4), "\"]}\n");
}

TEST(CliDecode, AFailedTelegramHasNoRowAndStillExitsZero) {
    const CliRun run = decode({"--json", "E5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "{\"log\":[\"Respond: E5 \"],\"ok\":false,\"row\":null}\n");
}

TEST(CliDecode, TelegramsFromStandardInputOnePerLine) {
    const CliRun run = decode({"--json"}, std::string(test::kVolume) + "\n\nnot hex\r\nE5\n");
    EXPECT_EQ(run.status, 1) << "a line that is not hex";
    std::istringstream lines(run.out);
    std::vector<std::string> outputs;
    for (std::string line; std::getline(lines, line);)
        outputs.push_back(line);
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[1], "{\"log\":[\"Respond: \"],\"ok\":false,\"row\":null}")
        << "the empty telegram";
    EXPECT_NE(run.err.find("not hex"), std::string::npos);
}

// 0C 78 11223344: fabrication number 44332211 (8-digit BCD); 04 13 10270000:
// volume 10000 x 10^-3 m3.
TEST(CliDecode, EveryRecordInTheJsonObjectAndAsATable) {
    const CliRun json = decode({"--json", "--records", test::kFabricationThenVolume});
    const std::string records =
        ",\"records\":[{\"function\":\"instantaneous\",\"storage\":0,\"tariff\":0,"
        "\"subunit\":0,\"quantity\":\"Fabrication number\",\"unit\":\"\",\"value\":44332211,"
        "\"bytes\":\"0C7811223344\"},{\"function\":\"instantaneous\",\"storage\":0,"
        "\"tariff\":0,\"subunit\":0,\"quantity\":\"Volume\",\"unit\":\"m3\",\"value\":10.000,"
        "\"bytes\":\"041310270000\"}]}\n";
    ASSERT_GE(json.out.size(), records.size());
    EXPECT_EQ(json.out.substr(json.out.size() - records.size()), records) << json.out;
    // 0C 78 11223304: the fabrication number 04332211, a JSON number without
    // its leading zero (checksum 3A - 40).
    const CliRun leadingZero = decode({"--json", "--records",
                                       "68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 "
                                       "0C 78 11 22 33 04 FA 16"});
    EXPECT_NE(leadingZero.out.find("\"value\":4332211,"), std::string::npos) << leadingZero.out;
    const CliRun table = decode({"--records", test::kFabricationThenVolume});
    EXPECT_NE(
        table.out.find("Storage;Tariff;Subunit;Function;Quantity;Value;Unit;Bytes;Note;\n"
                       "0;0;0;instantaneous;Fabrication number;44332211;;0C 78 11 22 33 44;;\n"
                       "0;0;0;instantaneous;Volume;10.000;m3;04 13 10 27 00 00;;\n"),
        std::string::npos)
        << table.out;
}

// The records table as a spreadsheet reads it: a note joined with "; " and a
// meter's plain-text unit that tries to add a formula and a row stay in their
// cells, nine under nine column names.
TEST(CliDecode, TheRecordsTableKeepsItsColumns) {
    // 01 93 A2 3B 05: volume 5 x 10^-3 m3, per hour, accumulation only if
    // positive; 01 7C 22 ...: plain-text unit ;=HYPERLINK("http://x");\r\nINJ;ROW;
    // (its characters last first), value 5.
    const CliRun notes =
        decode({"--records",
                "68 14 14 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 01 93 A2 3B 05 82 16"});
    const std::string expected =
        "Storage;Tariff;Subunit;Function;Quantity;Value;Unit;Bytes;Note;\n"
        "0;0;0;instantaneous;Volume;0.005;m3;01 93 A2 3B 05;"
        "\"per hour; accumulation only if positive contributions\";\n";
    EXPECT_NE(notes.out.find(expected), std::string::npos) << notes.out;
    const char* const hostileUnit =
        "68 35 35 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 01 7C 22 3B 57 4F 52 3B 4A 4E 49 "
        "0A 0D 3B 29 22 78 2F 2F 3A 70 74 74 68 22 28 4B 4E 49 4C 52 45 50 59 48 3D 3B 05 E4 16";
    const CliRun unit = decode({"--records", hostileUnit});
    QTemporaryDir dir;
    const QString path = dir.filePath("records.csv");
    const size_t table = unit.out.find("Storage;");
    ASSERT_NE(table, std::string::npos) << unit.out;
    ASSERT_TRUE(test::writeFile(path, QByteArray::fromStdString(unit.out.substr(table))));
    const QList<QStringList> rows = test::pythonCsvRows(path);
    ASSERT_EQ(rows.size(), 2) << unit.out;
    EXPECT_EQ(rows[0].size(), 10);  // and the empty text after the last ";"
    EXPECT_EQ(rows[1],
              (QStringList{"0", "0", "0", "instantaneous", "Plain text VIF", "5",
                           ";=HYPERLINK(\"http://x\");\r\nINJ;ROW;",
                           "01 7C 22 3B 57 4F 52 3B 4A 4E 49 0A 0D 3B 29 22 78 2F 2F 3A 70 74 "
                           "74 68 22 28 4B 4E 49 4C 52 45 50 59 48 3D 3B 05",
                           "", ""}));
}

TEST(CliDecode, TextOutputAndUsageErrors) {
    const CliRun text = decode({test::kZpa});
    EXPECT_NE(text.out.find("Value: 3.500\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ok: true\n"), std::string::npos);
    EXPECT_EQ(decode({"--xml"}).status, 2);
}

// The decoder's one JSON string writer: control characters as \u00XX, a
// byte that begins no well-formed UTF-8 sequence as U+FFFD (EF BF BD);
// Latin-1 texts converted first. Qt's strict parser reads back what
// QString reads from the same bytes.
TEST(CliJson, EveryTextIsOneValidJsonString) {
    const struct {
        std::string text;
        bool latin1;
        std::string json;
    } cases[] = {
        {"a\"b\\c", false, R"("a\"b\\c")"},
        {"CR\r\nLF", false, R"("CR\u000d\u000aLF")"},
        {std::string("NUL\0ESC\x1b DEL\x7f", 13), false, R"("NUL\u0000ESC\u001b DEL\u007f")"},
        {"\xC2\xB0"
         "C \xE2\x82\xAC",
         false,
         "\"\xC2\xB0"
         "C \xE2\x82\xAC\""},
        {"\xFF\xE9t\xE2\x82", false, "\"\xEF\xBF\xBD\xEF\xBF\xBDt\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xC0\xAF \xED\xA0\x80", false,  // an overlong "/", a surrogate
         "\"\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xB0"
         "C\xFF",
         true,
         "\"\xC2\xB0"
         "C\xC3\xBF\""},
        {"x\r", true, R"("x\u000d")"},
    };
    for (const auto& c : cases) {
        const std::string json = JsonString(c.latin1 ? Latin1ToUtf8(c.text) : c.text);
        EXPECT_EQ(json, c.json) << c.text;
        const QByteArray bytes = QByteArray::fromStdString(c.text);
        const QJsonDocument read =
            QJsonDocument::fromJson(QByteArray::fromStdString("[" + json + "]"));
        EXPECT_EQ(read.array().at(0).toString(),
                  c.latin1 ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes))
            << c.text;
    }
}

TEST(CliDecodeEntry, FourteenTexts) {
    std::ostringstream out, err;
    const std::string entry =
        "05 07 12 34 56 78 01 6A 13 00 00 00 00 06 00 01 00 20 00 A5 00 01 86 A0 00 00 00 0A 00 00 "
        "00 00 "
        "00 00 00 00 FF FF FF FF 06 16 00 00 16 06 00 00";
    EXPECT_EQ(cli::decodeEntryCommand({"--json", entry}, out, err), 0);
    EXPECT_EQ(out.str(),
              "{\"log\":[],\"row\":[\"12345678\",\"5\",\"ZPA\",\"Water\",\"m6\",\"100000.000\","
              "\"10.000\","
              "\"0.000\",\"0.000\",\"-1.000\",\"Main=0000, Device=20, mbus=A5\",\"13\","
              "\"input1=00, input2=01\",\"6/22/0/0-22/6/0/0\"]}\n");
    std::ostringstream none;
    EXPECT_EQ(cli::decodeEntryCommand({"01 02"}, none, err), 2);
}

// The line that refuses a gateway command before the link is opened (exit
// status 2), or empty when it would run; a TCP link is added unless given.
std::string refusal(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--tcp") == args.end() &&
        std::find(args.begin(), args.end(), "--serial") == args.end())
        args.insert(args.end(), {"--tcp", "127.0.0.1"});
    try {
        cli::FindCommand(args[0])->prepare(cli::ParseOptions(args));
        return {};
    } catch (const cli::UsageError& error) {
        return error.reason;
    }
}

TEST(CliArguments, EachRangeAtItsEdges) {
    const std::string primary = "an M-Bus primary address is 0 to 250: ";
    const std::string newAddress = "a new primary address is 1 to 250: ";
    const struct {
        std::vector<std::string> args;
        std::string refusal;
    } cases[] = {
        {{"status", "--unit", "0"}, "--unit is 1 to 255"},
        {{"status", "--unit", "1"}, ""},
        {{"status", "--unit", "255"}, ""},
        {{"status", "--unit", "256"}, "--unit is 1 to 255"},
        {{"status", "--timeout", "2s"}, "--timeout is not a number: 2s"},
        {{"status", "--scan-time", "12.5"}, "--scan-time is not a number: 12.5"},
        {{"status", "--retry", "1 "}, "--retry is not a number: 1 "},
        {{"status", "--tcp"}, "--tcp needs a value"},
        {{"status", "--tcp", "-q"}, "--tcp needs a value"},
        {{"status", "--tcp", ""}, "--tcp needs a host: HOST[:PORT]"},
        {{"status", "--tcp", ":502"}, "--tcp needs a host: HOST[:PORT]"},
        {{"status", "--log", ""}, "--log needs a file name"},
        {{"scan", "1", "3", "--tcp", "127.0.0.1", "--timeout"}, "--timeout needs a value"},
        {{"scan", "0", "250"}, ""},
        {{"scan", "1", "12.5"}, "the address is not a number: 12.5"},
        {{"read", "2s"}, "the address is not a number: 2s"},
        {{"activate", "250"}, ""},
        {{"activate", "251"}, primary + "251"},
        {{"activate", "255"}, primary + "255"},
        {{"delete", "250"}, ""},
        {{"delete", "251"}, primary + "251"},
        {{"delete", "255"}, primary + "255"},
        {{"delete-inputs", "250"}, ""},
        {{"delete-inputs", "251"}, primary + "251"},
        {{"delete-inputs", "255"}, primary + "255"},
        {{"set-address", "12345678", "0"}, newAddress + "0"},
        {{"set-address", "12345678", "1"}, ""},
        {{"set-address", "12345678", "250"}, ""},
        {{"set-address", "12345678", "251"}, newAddress + "251"},
        {{"set-address", "123456789", "5"}, "the ID is 8 digits: 123456789"},
        {{"set-value", "3", "99999999"}, ""},
        {{"set-value", "3", "100000000"}, "VALUE is 0 to 99999999: 100000000"},
        {{"set-value", "3", "4294967295", "--binary"}, ""},
        {{"set-value", "3", "4294967296", "--binary"}, "VALUE is 0 to 4294967295: 4294967296"},
        {{"set-value", "3", "12.5"}, "VALUE is not a number: 12.5"},
        {{"search", "12345678"}, ""},
        {{"search", "123456789"}, "the ID is 8 digits, FFFFFFFF or digits and F"},
        {{"set-medium", "3", "12345678", "gas"}, ""},
        {{"set-medium", "3", "123456789", "gas"}, "the ID is 8 digits: 123456789"},
        {{"registers", "3", "2s"}, "COUNT is not a number: 2s"},
        // The window's ranges: Modbus time-out, scan time, retries.
        {{"status", "--timeout", "-1"}, "--timeout is 50 to 20000: -1"},
        {{"status", "--timeout", "49"}, "--timeout is 50 to 20000: 49"},
        {{"status", "--timeout", "50"}, ""},
        {{"status", "--timeout", "20000"}, ""},
        {{"status", "--timeout", "20001"}, "--timeout is 50 to 20000: 20001"},
        {{"status", "--scan-time", "0"}, "--scan-time is 300 to 9900: 0"},
        {{"status", "--scan-time", "299"}, "--scan-time is 300 to 9900: 299"},
        {{"status", "--scan-time", "300"}, ""},
        {{"status", "--scan-time", "9900"}, ""},
        {{"status", "--scan-time", "9901"}, "--scan-time is 300 to 9900: 9901"},
        {{"status", "--retry", "-1"}, "--retry is 0 to 9: -1"},
        {{"status", "--retry", "0"}, ""},
        {{"status", "--retry", "9"}, ""},
        {{"status", "--retry", "10"}, "--retry is 0 to 9: 10"},
        {{"status", "--baud", "115200"}, ""},
        {{"status", "--baud", "115201"},
         "--baud is 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200: 115201"},
        {{"status", "--stop-bits", "2"}, ""},
        {{"status", "--stop-bits", "3"}, "--stop-bits is 1 or 2: 3"},
        {{"status", "--tcp", "h:abc"}, "the TCP port is 1 to 65535: abc"},
        {{"status", "--tcp", "h:0"}, "the TCP port is 1 to 65535: 0"},
        {{"status", "--tcp", "h:1"}, ""},
        {{"status", "--tcp", "h:65535"}, ""},
        {{"status", "--tcp", "h:65536"}, "the TCP port is 1 to 65535: 65536"},
        {{"status", "--tcp", "h:"}, ""},
        {{"set-address", "12345678", "250", "--force"}, ""},
        // An unbroken word of hex is its bytes in pairs.
        {{"command", "01040001000A21CD", "--serial", "/dev/ttyS0"}, ""},
        {{"command", "0104000", "--serial", "/dev/ttyS0"},
         "HEX is whole bytes, two digits each: 0104000 has 7 digits"},
        // The gateway's settings, in the window's ranges.
        {{"set-timeouts", "between", "0"}, ""},
        {{"set-timeouts", "respond", "99"}, ""},
        {{"set-timeouts", "respond", "100"}, "TIME is 0 to 99: 100"},
        {{"set-timeouts", "either", "5"}, "the time is between or respond: either"},
        {{"set-clock"}, ""},
        {{"set-port-baud", "modbus", "115200", "Odd"}, ""},
        {{"set-port-baud", "modbus", "115201", "odd"},
         "the Modbus port's baud rate is 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
         "115200: 115201"},
        {{"set-port-baud", "mbus", "9600", "none"}, ""},
        {{"set-port-baud", "m-bus", "19200", "none"},
         "the M-Bus port's baud rate is 300, 1200, 2400, 4800, 9600: 19200"},
        {{"set-port-baud", "modbus", "9600", "mark"}, "PARITY is none, even or odd: mark"},
        {{"set-modbus-address", "0"}, ""},
        {{"set-modbus-address", "254"}, ""},
        {{"set-modbus-address", "255"}, "the new Modbus address is 0 to 254: 255"},
        {{"set-readout-period", "0"}, "MINUTES is 1 to 720: 0"},
        {{"set-readout-period", "1"}, ""},
        {{"set-readout-period", "720"}, ""},
        {{"set-readout-period", "721"}, "MINUTES is 1 to 720: 721"},
        {{"set-flag", "Factory default", "1"}, ""},
        {{"set-flag", "SND_NKE", "0"}, ""},
        {{"set-flag", "0x7B", "2"}, "the flag is set with 1, reset with 0"},
        {{"set-flag", "turbo", "1"},
         "FLAG is snd-nke, 0x7b, start-mbus, sort, dhcp, reset or factory-default: turbo"},
        {{"set-ip", "mask", "255.255.255.0"}, ""},
        {{"set-ip", "Control IP #1", "10.0.0.1"}, ""},
        {{"set-ip", "operator-4", "0.0.0.0"}, ""},
        {{"set-ip", "operator-5", "10.0.0.1"},
         "SETTING is ip, gateway, mask, control-1, control-2, operator-1 to operator-4 or "
         "net-number: operator-5"},
        {{"set-ip", "ip", "192.168.1.300"},
         "ADDRESS is four numbers 0 to 255 joined by \".\": 192.168.1.300"},
        {{"set-ip", "ip", "10.0.0"}, "ADDRESS is four numbers 0 to 255 joined by \".\": 10.0.0"},
        {{"set-ip", "ip", "10.0.0.+1"},
         "ADDRESS is four numbers 0 to 255 joined by \".\": 10.0.0.+1"},
        {{"set-listen-port", "49"}, "the listen port is 50 to 65535: 49"},
        {{"set-listen-port", "50"}, ""},
        {{"set-listen-port", "65535"}, ""},
        {{"set-listen-port", "65536"}, "the listen port is 50 to 65535: 65536"},
        {{"set-serial-number", "12345678"}, ""},
        {{"set-serial-number", "1234567"}, "the serial number is 8 digits: 1234567"},
        {{"set-serial-number", "123456789"}, "the serial number is 8 digits: 123456789"},
        {{"set-serial-number", "1234567a"}, "the serial number is 8 digits: 1234567a"},
        {{"search-activate"}, ""},
    };
    for (const auto& c : cases) {
        std::string what;
        for (const std::string& arg : c.args)
            what += arg + " ";
        EXPECT_EQ(refusal(c.args), c.refusal) << what;
    }
}

// A meter table for "set-addresses" is read as "Load" reads it (a line
// keeps the fields of the line before that it does not reach) and checked
// whole: each address 1 to 250, each ID 8 digits, no address twice.
TEST(CliArguments, AnAddressFileIsCheckedWhole) {
    QTemporaryDir dir;
    const struct {
        const char* file;
        std::string refusal;
    } cases[] = {
        {" ID ;Addr ;Mfr ;\r\n12345678;250;ABC;\r\n87654321;1;\r\n", ""},
        {"12345678;7;\n12345678;7;\n", ""},
        {"12345678;251;\n", "line 1: a new primary address is 1 to 250: 251"},
        {"12345678;0;\n", "line 1: a new primary address is 1 to 250: 0"},
        {"12345678;7;\n87654321;7;\n",
         "line 2: meters 12345678 (line 1) and 87654321 are both given address 7: two meters at "
         "one address collide"},
        {"12345678;7;\n87654321;\n",
         "line 2: meters 12345678 (line 1) and 87654321 are both given address 7: two meters at "
         "one address collide"},
        {"1234567;5;\n", "line 1: the ID is 8 digits: 1234567"},
        {"1234567F;5;\n", "line 1: the ID is 8 digits: 1234567F"},
        {" ID ;Addr ;\n", "has no row with an ID and a primary address"},
        {"1;2;3;4;5;6;7;8;9;\n",
         "You are trying to import too many data!!! Correct csv file and try again!"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString("t%1.csv").arg(++n));
        ASSERT_TRUE(test::writeFile(path, c.file));
        const std::string refused = refusal({"set-addresses", path.toStdString()});
        // A file's refusal ends with why (after the file's name).
        EXPECT_TRUE(c.refusal.empty() ? refused.empty() : refused.ends_with(c.refusal))
            << c.file << ": " << refused;
    }
    EXPECT_EQ(refusal({"set-addresses", dir.filePath("none.csv").toStdString()}),
              "no table file " + dir.filePath("none.csv").toStdString());
}

// The settings file's numbers are clamped into the window's ranges, as its
// controls clamp them, each with a line.
TEST(CliArguments, TheSettingsFilesNumbersAreClamped) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("tarnel.ini");
    ASSERT_TRUE(test::writeFile(ini,
                                "[Modbus]\nTimeout=-600\nAddress=0\n"
                                "[Mbus]\nTimeout=9901\nRetry=9\n"));
    const cli::Options options = cli::ParseOptions({"status", "--settings", ini.toStdString()});
    EXPECT_EQ(options.timeoutMs, 50);
    EXPECT_EQ(options.unit, 1);
    EXPECT_EQ(options.scanTimeMs, 9900);
    EXPECT_EQ(options.retries, 9);
    EXPECT_EQ(options.notes, (std::vector<std::string>{
                                 "[Modbus] Address=0 is out of 1 to 255: 1 is used",
                                 "[Modbus] Timeout=-600 is out of 50 to 20000: 50 is used",
                                 "[Mbus] Timeout=9901 is out of 300 to 9900: 9900 is used"}));
}

// A settings file past 1 MB is refused before anything is sent (exit 2); a
// NUL byte in it is a note, and the lines after it count.
TEST(CliArguments, AnOversizedSettingsFileIsRefused) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("tarnel.ini");
    ASSERT_TRUE(test::writeFile(ini, "[Modbus]\nAddress=7\n;" + QByteArray(1024 * 1024, 'x')));
    EXPECT_EQ(refusal({"status", "--settings", ini.toStdString()}),
              "Settings file " + ini.toStdString() + " not read: it is larger than 1 MB.");
    ASSERT_TRUE(test::writeFile(ini, QByteArray("[Modbus]\nA\0\nAddress=7\n", 22)));
    const cli::Options options = cli::ParseOptions({"status", "--settings", ini.toStdString()});
    EXPECT_EQ(options.unit, 7);
    EXPECT_EQ(options.notes, std::vector<std::string>{"Settings file " + ini.toStdString() +
                                                      ": line 2 holds a NUL byte and is not read."});
}

// The serial settings take None, Odd, Even, Mark and Space as named; the
// command line takes them in any case and refuses any other text.
TEST(CliArguments, ParityInAnyCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"odd", "Odd"},   {"ODD", "Odd"},   {"Odd", "Odd"},   {"even", "Even"},
        {"none", "None"}, {"NONE", "None"}, {"mark", "Mark"}, {"Space", "Space"},
    };
    for (const auto& [typed, parity] : cases)
        EXPECT_EQ(cli::ParseOptions({"status", "--serial", "/dev/ttyS0", "--parity", typed}).parity,
                  parity)
            << typed;
    EXPECT_EQ(cli::ParseOptions({"status", "--serial", "/dev/ttyS0"}).parity, "Even");
    for (const char* typed : {"o", "odd ", "evenly", ""})
        EXPECT_EQ(refusal({"status", "--parity", typed}),
                  std::string("--parity is even, odd, none, mark or space: ") + typed)
            << typed;
}

TEST(CliProgram, RunsWithoutADisplay) {
    QProcess cli;
    cli.start(TARNEL_CLI, {"decode", "--json", "E5"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_EQ(cli.readAllStandardOutput(),
              "{\"log\":[\"Respond: E5 \"],\"ok\":false,\"row\":null}\n");
    QProcess help;
    help.start(TARNEL_CLI, {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_TRUE(help.readAllStandardOutput().contains("decode-entry"));
}

}  // namespace
}  // namespace tarnel

namespace tarnel {
namespace {

// An operation that goes quiet for longer than its own times allow is
// stopped rather than waited for: the command line never hangs on it. A log
// line in between starts the bound anew.
TEST(CliSession, AQuietOperationIsStoppedAfterItsOwnTimes) {
    QTemporaryDir folder;
    RealClock clock;
    test::FakeDialogs dialogs;
    Program program(
        clock, dialogs, ProgramPaths{folder.path(), folder.filePath("t.ini")},
        Transports{std::make_unique<test::FakeSerial>(clock), std::make_unique<test::FakeTcp>()});
    cli::Options options;
    options.timeoutMs = 50;
    options.scanTimeMs = 300;
    const cli::Session session(program, options);
    ASSERT_EQ(session.quietBoundMs(), 4 * 350 + 1000);
    QTimer::singleShot(1000, &program, [&program] { program.log().append("a step"); });
    QElapsedTimer waited;
    waited.start();
    testing::internal::CaptureStderr();
    // Said to have started, it never ends.
    const auto result =
        session.await(program.deviceTable(), &DeviceTable::readOutFinished, [] { return true; });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result);
    EXPECT_GE(waited.elapsed(), 1000 + session.quietBoundMs());
    EXPECT_LT(waited.elapsed(), 1000 + session.quietBoundMs() + 1000 + 5000);
    EXPECT_EQ(err, "tarnel-cli: nothing happened for 2400 ms: stopped\n");
}

}  // namespace
}  // namespace tarnel
