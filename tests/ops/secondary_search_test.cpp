#include "ops/secondary_search.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/presenter.h"
#include "ops/busy_rule.h"
#include "support/in_process_gateway.h"

namespace tarnel {
namespace {

struct Search : ::testing::Test, test::InProcessGateway {
    GridModel grid{loopsGridLayout().headers};
    BusyRule busy;
    SecondarySearch search{link, busy};
    std::vector<SearchResult> results;

    Search() {
        presenter.watch(busy);
        presenter.watch(search, grid);
        QObject::connect(&search, &SecondarySearch::finished,
                         [this](const SearchResult& result) { results.push_back(result); });
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        log.clear();
        rtu.ClearRecords();
    }
    // The slowest default meter answers after about 1.2 s on the bus.
    SecondarySearch::Settings settings(int retries = 1, int scanTime = 300) {
        return {1, scanTime, retries};
    }
    // Runs the worker to its end on the virtual clock.
    void run() {
        while (search.running())
            clock.advance(10);
        clock.settle();
        clock.runUntilIdle(60'000);
    }
    QStringList checked() const { return log.lines().filter("Checking "); }
    // The closing line of a search, just before the worker's end line.
    QString summary() const { return log.lines().value(log.lines().size() - 2); }
    // The selection telegrams on the wire: their four identification bytes.
    QStringList selections() const {
        QStringList ids;
        for (const QString& frame : requests(rtu))
            if (frame.contains("68 0B 0B 68 53 FD 52 "))
                ids << frame.section("53 FD 52 ", 1).left(11);
        return ids;
    }
    QStringList listedIds() const {
        QStringList ids;
        for (int row = 1; row < grid.rows() - 1; ++row)
            ids << grid.cell(row, 0);
        ids.sort();
        return ids;
    }
    QStringList busIds() const {
        QStringList ids;
        for (const auto& meter : bus.meters())
            ids << QString::number(meter.id, 16).rightJustified(8, '0');
        ids.sort();
        return ids;
    }
};

TEST_F(Search, AnEmptyBusGivesTenMasksAndTheEndLine) {
    bus.meters().clear();
    EXPECT_EQ(search.start("FFFFFFFF", settings(), true), 1);
    run();
    EXPECT_EQ(checked(),
              (QStringList{"Checking 0FFFFFFF...", "Checking 1FFFFFFF...", "Checking 2FFFFFFF...",
                           "Checking 3FFFFFFF...", "Checking 4FFFFFFF...", "Checking 5FFFFFFF...",
                           "Checking 6FFFFFFF...", "Checking 7FFFFFFF...", "Checking 8FFFFFFF...",
                           "Checking 9FFFFFFF..."}));
    EXPECT_EQ(selections().size(), 20) << "two attempts a mask";
    EXPECT_EQ(selections().first(), "F0 FF FF FF") << "d1 = 0 in the low nibble of the first byte";
    EXPECT_TRUE(log.lines().first().startsWith("Secondary search Thread started at "));
    EXPECT_EQ(log.lines().last(), "Secondary search thread terminated normally.");
    EXPECT_EQ(summary(),
              "Search ended: meters found 0, masks without an answer 10, gateway errors 0 "
              "(exception replies 0, CRC or frame errors 0, time-outs 0).");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].ending, Ending::Done);
    EXPECT_EQ(results[0].silentMasks, 10);
    EXPECT_FALSE(busy.running(Operation::Search));
}

TEST_F(Search, TheWildcardSearchListsEveryMeterOnceWithFastRepliesOnAndOff) {
    for (const bool fast : {false, true}) {
        link.setFastReplies(fast);
        grid.clearData();
        search.start("FFFFFFFF", settings(1, 1500), true);
        run();
        EXPECT_EQ(listedIds(), busIds()) << (fast ? "fast" : "slow");
    }
}

TEST_F(Search, ExactNumbersPresentAndAbsent) {
    const auto& meter = bus.meters().front();
    const QString id = QString::number(meter.id, 16).rightJustified(8, '0');
    search.start(id, settings(2), false);
    run();
    EXPECT_EQ(selections().size(), 1);
    EXPECT_EQ(listedIds(), QStringList{id});
    EXPECT_TRUE(requests(rtu).last().contains("10 40 FD 3D 16")) << "deselected at the end";
    EXPECT_TRUE(checked().isEmpty());
    EXPECT_TRUE(
        summary().startsWith("Search ended: meters found 1, masks without an answer 0, "
                             "gateway errors 0"))
        << summary().toStdString();

    rtu.ClearRecords();
    search.start("99999999", settings(2), false);
    run();
    EXPECT_EQ(selections(), QStringList(3, "99 99 99 99"));
    EXPECT_TRUE(requests(rtu).last().contains("10 40 FD 3D 16"));
    EXPECT_EQ(listedIds(), QStringList{id}) << "the listed meter's row is updated, not added";

    // A gateway that refuses every request is not an empty bus: three
    // selections, each a refused write, and no state read after it.
    rtu.faults().Add({sim::FaultKind::Exception, 4, -1, std::nullopt, std::nullopt});
    rtu.ClearRecords();
    search.start("99999999", settings(2), false);
    run();
    EXPECT_EQ(summary(),
              "Search ended: meters found 0, masks without an answer 1, gateway errors 3 "
              "(exception replies 3, CRC or frame errors 0, time-outs 0).");
    EXPECT_TRUE(requests(rtu).filter("01 04 84 07").isEmpty());
}

// Without fast replies the state is read once the whole wait has passed: the
// scan time in steps of 10 ms less the last one (290 ms of 300), counted
// from the selection's last byte and the 2 ms pause after it.
TEST_F(Search, TheStateIsReadAfterTheScanTimeLessOneStep) {
    link.setFastReplies(false);
    const struct {
        int scanTime;
        qint64 selectionToRead;
    } cases[] = {{300, 2 + 290}, {1000, 2 + 990}};
    for (const auto& c : cases) {
        rtu.ClearRecords();
        search.start("99999999", settings(1, c.scanTime), false);
        run();
        // From each selection (a long frame written from 0x8408) to the next request.
        QList<qint64> gaps;
        std::optional<qint64> selectedAt;
        for (const sim::WireRecord& record : rtu.Records()) {
            if (!record.request) continue;
            if (selectedAt) gaps << record.atMs - *selectedAt;
            const sim::Bytes& bytes = record.bytes;
            const bool selection = bytes.size() > 7 && bytes[1] == 0x10 && bytes[7] == 0x68;
            selectedAt = selection ? std::optional<qint64>(record.atMs) : std::nullopt;
        }
        EXPECT_EQ(gaps, QList<qint64>(2, c.selectionToRead)) << c.scanTime;
    }
}

// The third request in a row the gateway leaves unanswered stops the search:
// no further selection, no deselection.
TEST_F(Search, ASilentGatewayStopsTheSearch) {
    rtu.faults().Add({sim::FaultKind::NoReply, 0, -1, std::nullopt, std::nullopt});
    for (const bool fast : {false, true}) {
        link.setFastReplies(fast);
        rtu.ClearRecords();
        search.start(fast ? "FFFFFFFF" : "99999999", settings(2), false);
        run();
        EXPECT_EQ(results.back().ending, Ending::GatewaySilent);
        EXPECT_EQ(results.back().errors.timeouts, 3);
        // The later selections waited behind fences the gateway did not
        // answer either; not all of them went out.
        EXPECT_LT(operationRequests(rtu).size(), 3);
        EXPECT_FALSE(busy.running(Operation::Search));
    }
}

TEST_F(Search, AWrongLengthIsRefusedAndNothingIsSent) {
    EXPECT_FALSE(search.start("1234567", settings(), false));
    EXPECT_EQ(log.lines(), QStringList{"Wrong ID entered - 8-digit or FFFFFFFF available..."});
    EXPECT_TRUE(requests(rtu).isEmpty());
    EXPECT_EQ(search.start("12345678", settings(0), false), 1) << "Retry is raised to 1";
    run();
}

// Refused by the busy rule: one line, the table kept, nothing sent or asked.
TEST_F(Search, ARefusedSearchLogsOneLineAndKeepsTheTable) {
    grid.setRows(3);
    grid.setRowTexts(1, {"99999999", "9", "XYZ"});
    ASSERT_TRUE(busy.begin(Operation::Scan));
    EXPECT_FALSE(search.start("FFFFFFFF", settings(), true));
    EXPECT_EQ(log.lines(), QStringList{"Secondary search refused: the scan is running."});
    EXPECT_EQ(grid.cell(1, 0), "99999999");
    EXPECT_TRUE(requests(rtu).isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
    busy.end(Operation::Scan);
}

TEST_F(Search, StopEndsTheSearchAtOnce) {
    bus.meters().clear();
    search.start("FFFFFFFF", settings(), false);
    clock.advance(1000);
    const int before = static_cast<int>(checked().size());
    search.stop();
    run();
    EXPECT_LE(checked().size(), before + 1);
    EXPECT_EQ(log.lines().last(), "Secondary search thread terminated normally.");
    EXPECT_TRUE(summary().startsWith("Search stopped: meters found 0, "))
        << summary().toStdString();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].ending, Ending::Stopped);
}

TEST_F(Search, APartialMaskSearchesOnlyItsWildcards) {
    ASSERT_EQ(bus.meters().front().id, 0x12345678u);
    search.start("123456FF", settings(), false);
    run();
    // Positions 1 and 2 are free, the others fixed: d1..d8 = F F 6 5 4 3 2 1.
    EXPECT_EQ(checked().first(), "Checking 0F654321...");
    EXPECT_EQ(checked().size(), 10) << "one meter matches: no refining";
    EXPECT_EQ(listedIds(), QStringList{"12345678"});
}

TEST_F(Search, ALostLinkEndsTheSearchWithItsLine) {
    bus.meters().clear();
    search.start("FFFFFFFF", settings(), false);
    clock.advance(700);
    link.closeSerial();
    run();
    EXPECT_EQ(log.lines().filter("Connection lost").join('|'),
              "Connection lost: secondary search stopped.");
    EXPECT_EQ(log.lines().last(), "Secondary search thread terminated normally.");
    EXPECT_LE(checked().size(), 2);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].ending, Ending::LinkLost);
}

}  // namespace
}  // namespace tarnel
