#include "cli/decode_command.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <sstream>

#include "../mbus/telegrams.h"

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
    const CliRun table = decode({"--records", test::kFabricationThenVolume});
    EXPECT_NE(table.out.find("Storage;Tariff;Subunit;Function;Quantity;Value;Unit;Bytes;\n"
                             "0;0;0;instantaneous;Fabrication number;44332211;;0C 78 11 22 33 44;\n"
                             "0;0;0;instantaneous;Volume;10.000;m3;04 13 10 27 00 00;\n"),
              std::string::npos)
        << table.out;
}

TEST(CliDecode, TextOutputAndUsageErrors) {
    const CliRun text = decode({test::kZpa});
    EXPECT_NE(text.out.find("Value: 3.500\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ok: true\n"), std::string::npos);
    EXPECT_EQ(decode({"--xml"}).status, 2);
}

TEST(CliJson, EightBitCharactersAreLatin1CodePoints) {
    EXPECT_EQ(cli::jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(cli::jsonString("x\r"), "\"x\\u000d\"");
    EXPECT_EQ(cli::jsonString("\xB0"
                              "C"),
              "\"\xC2\xB0"
              "C\"");
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
