// The hand-over files of tarnel-cli against tarnel-sim when the gateway
// answers all, or only part, of what they read: the exit status, the line
// that names what is missing, and which files are written or kept.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "cli_process.h"
#include "support/files.h"

namespace tarnel {
namespace {

using test::cli;
using test::CliRun;
using test::FaultySim;
using test::readFile;

constexpr char kOld[] = "the good file of an earlier read\n";
const QString kNotActivated = "Meter 45000012 at address 4 is on the bus but not activated.";

// tarnel-sim starts with meters 1 to 3 in its table and meter 4 on the bus
// only. A report is written whenever the gateway answered something and
// says on its first page what it missed; the points list is written only
// from a whole table, or with --partial saying so in its first line.
TEST(HandOverCli, ReportAndPointsFromWholeAndIncompleteReads) {
    const QString count = "no-reply,count=-1,function=4,register=59500";
    const QString entry2 = "no-reply,count=-1,function=4,register=29";
    const QString identification = "no-reply,count=-1,function=43";
    const struct {
        const char* name;
        QStringList faults;
        QString reportLine;  // standard error of `report`, after "tarnel-cli: "
        QString pointsLine;  // of `points`
        bool claims;         // the report says meter 4 is not activated
        int entries;         // the report's activated meters
    } cases[] = {
        {"whole", {}, "", "", true, 3},
        {"count unanswered",
         {count},
         "Incomplete: the gateway did not answer the count of its devices; the gateway did not "
         "answer: active-device map",
         "the gateway did not answer the count of its devices: no points list written",
         false,
         0},
        {"entry 2 unanswered",
         {entry2},
         "Incomplete: entry 2 of 3 was not read",
         "entry 2 of 3 was not read: no points list written",
         false,
         2},
        {"a status step unanswered",
         {identification},
         "Incomplete: the gateway did not answer: device identification",
         "",
         true,
         3},
    };
    for (const auto& c : cases) {
        const FaultySim sim(c.faults);
        ASSERT_FALSE(sim.tcp.isEmpty()) << c.name;
        QTemporaryDir dir;
        const QString html = dir.filePath("r.html"), yaml = dir.filePath("p.yaml");
        const QStringList link{"--tcp", sim.tcp, "-q", "--timeout", "300"};
        const CliRun report = cli(QStringList{"report", "--html", html, "--scan", "1", "4",
                                              "--scan-time", "1500", "--retry", "0"} +
                                  link);
        const QString expected = c.reportLine.isEmpty() ? "" : "tarnel-cli: " + c.reportLine + "\n";
        EXPECT_EQ(report.status, expected.isEmpty() ? 0 : 1) << c.name;
        EXPECT_EQ(report.err, expected) << c.name;
        const QString page = QString::fromUtf8(readFile(html));
        EXPECT_EQ(page.contains("<b>" + c.reportLine + "</b>"), !c.reportLine.isEmpty()) << c.name;
        EXPECT_EQ(page.contains(kNotActivated), c.claims) << c.name;
        EXPECT_EQ(page.count("<td nowrap>45000012</td>"), 1) << c.name;  // on the bus only
        const QString tableRows =
            page.section("<h2>Activated meters</h2>", 1).section("</table>", 0, 0);
        EXPECT_EQ(tableRows.count("<tr><td"), c.entries) << c.name;

        ASSERT_TRUE(test::writeFile(yaml, kOld));
        const CliRun points = cli(QStringList{"points", "--ha", yaml} + link);
        const bool whole = c.pointsLine.isEmpty();
        EXPECT_EQ(points.status, whole ? 0 : 1) << c.name;
        EXPECT_EQ(points.err, whole ? "" : "tarnel-cli: " + c.pointsLine + "\n") << c.name;
        EXPECT_EQ(points.out.isEmpty(), !whole) << c.name;
        EXPECT_EQ(readFile(yaml) == kOld, !whole) << c.name;  // kept, or replaced whole
    }
}

// With --partial the points of the entries read are written, and both the
// list and the configuration say first what is missing; the exit is still 1.
TEST(HandOverCli, PartialPointsSayWhatIsMissingFirst) {
    const FaultySim sim({"no-reply,count=-1,function=4,register=29"});
    ASSERT_FALSE(sim.tcp.isEmpty());
    QTemporaryDir dir;
    const QString yaml = dir.filePath("p.yaml");
    const CliRun run =
        cli({"points", "--partial", "--ha", yaml, "--tcp", sim.tcp, "-q", "--timeout", "300"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tarnel-cli: Incomplete: entry 2 of 3 was not read\n");
    const QStringList lines = run.out.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2 + 2 * 6);  // the line, the header, two entries of six points
    EXPECT_EQ(lines[0], "Incomplete: entry 2 of 3 was not read;");
    EXPECT_TRUE(lines[1].startsWith("Entry;Addr;ID;"));
    EXPECT_TRUE(lines[2].startsWith("1;1;12345678;"));
    EXPECT_TRUE(lines[8].startsWith("3;3;30201567;"));
    EXPECT_TRUE(readFile(yaml).startsWith("# Incomplete: entry 2 of 3 was not read\nmodbus:\n"));
}

}  // namespace
}  // namespace tarnel
