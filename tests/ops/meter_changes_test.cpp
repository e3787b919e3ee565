#include "ops/meter_changes.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/grid_selection.h"
#include "gateway/presenter.h"
#include "ops/busy_rule.h"
#include "ops/secondary_search.h"
#include "support/in_process_gateway.h"

namespace tarnel {
namespace {

struct Changes : ::testing::Test, test::InProcessGateway {
    Timer* timerMbus = clock.createTimer(&owner, "Timer_mbus");
    Timer* timerMbusRespond = clock.createTimer(&owner, "Timer_mbusRespond");
    GridModel grid{loopsGridLayout().headers};
    BusyRule busy;
    PrimaryScan scan{link, busy, *timerMbus, *timerMbusRespond};
    SecondarySearch search{link, busy};
    // The presenter sees the search before the bulk change does, as in the program.
    bool watched =
        (presenter.watch(busy), presenter.watch(scan, grid), presenter.watch(search, grid), true);
    MeterChanges changes{link, grid, busy, scan, search};
    PrimaryScan::Settings settings{1, 0, 0, 300, 600, 1};
    MeterTarget meter{1, 5, "12345678"};
    std::vector<BulkAddressResult> bulkResults;

    Changes() {
        presenter.watch(changes, grid);
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        grid.setRows(3);
        grid.setRowTexts(1, {"12345678", "5"});
        QObject::connect(
            &changes, &MeterChanges::bulkFinished,
            [this](const BulkAddressResult& result) { bulkResults.push_back(result); });
        log.clear();
        rtu.ClearRecords();
    }
    // The first request's M-Bus telegram, as hex.
    QString telegram() {
        clock.runUntilIdle(60'000);
        const QStringList sent = requests(rtu);
        return sent.isEmpty() ? QString() : sent.first().mid(21);  // after 01 10 84 08 00 RR 2R
    }
    void run() {
        for (int step = 0;
             step < 100'000 && (search.running() || busy.running(Operation::BulkAddressChange));
             ++step)
            clock.advance(10);
        clock.settle();
        clock.runUntilIdle(60'000);
    }
};

TEST_F(Changes, EachChangeIsOneTelegramByteForByte) {
    const struct {
        const char* name;
        std::function<void(Changes&)> change;
        const char* telegram;
    } cases[] = {
        {"medium water", [](Changes& t) { t.changes.changeMedium(t.meter, "Water", t.settings); },
         "68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 07 41 16"},
        {"medium heat",
         [](Changes& t) { t.changes.changeMedium(t.meter, "Heat meter", t.settings); },
         "68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 04 3E 16"},
        {"300 baud",
         [](Changes& t) { t.changes.changeBaudRate(t.meter, MeterChanges::kBaud300, t.settings); },
         "68 03 03 68 53 05 B8 10 16"},
        {"2400 baud",
         [](Changes& t) { t.changes.changeBaudRate(t.meter, MeterChanges::kBaud2400, t.settings); },
         "68 03 03 68 53 05 BB 13 16"},
        {"value BCD",
         [](Changes& t) { t.changes.changeValue(t.meter, 12345678, true, t.settings); },
         "68 09 09 68 53 05 51 0C 13 78 56 34 12 DC 16"},
        {"value binary",
         [](Changes& t) { t.changes.changeValue(t.meter, 1234, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 D2 04 00 00 96 16"},
        {"42 in BCD", [](Changes& t) { t.changes.changeValue(t.meter, 42, true, t.settings); },
         "68 09 09 68 53 05 51 0C 13 42 00 00 00"},
        {"42 in binary", [](Changes& t) { t.changes.changeValue(t.meter, 42, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 2A 00 00 00"},
        {"above 24 bits",
         [](Changes& t) { t.changes.changeValue(t.meter, 16777217, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 01 00 00 01"},
    };
    for (const auto& c : cases) {
        grid.setRowTexts(1, {"12345678", "5"});  // the read-out after a change rewrites it
        rtu.ClearRecords();
        c.change(*this);
        EXPECT_TRUE(telegram().startsWith(c.telegram))
            << c.name << ": " << telegram().toStdString();
    }
}

TEST_F(Changes, RefusedWithoutASelectionOrWhileASearchRuns) {
    const MeterTarget emptyRow{2, -1, ""};
    changes.changeBaudRate(emptyRow, MeterChanges::kBaud300, settings);
    changes.changeValue(emptyRow, std::nullopt, true, settings);
    EXPECT_EQ(log.lines(), QStringList(2, "Not a valid device selected..."));
    log.clear();
    ASSERT_TRUE(busy.begin(Operation::Search));
    changes.changeValue(meter, 7, true, settings);
    changes.changeBaudRate(meter, MeterChanges::kBaud300, settings);
    EXPECT_EQ(log.lines(),
              (QStringList{"Can not change value while secondary search/change address",
                           "Meter request refused: the secondary search is running."}));
    EXPECT_TRUE(requests(rtu).isEmpty());
}

TEST_F(Changes, TheAddressChangeSelectsByIdentificationAndSendsTheNewAddress) {
    EXPECT_EQ(search.changeAddress(meter, 9, {1, 300, 0}), 1);
    run();
    const QStringList frames = requests(rtu);
    EXPECT_TRUE(frames.first().contains("10 7B 09 84 16")) << "the new address is read first";
    EXPECT_EQ(frames.filter("68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF").size(), 1);
    EXPECT_EQ(frames.filter("68 06 06 68 73 FD 51 01 7A 09 45 16").size(), 1);
    EXPECT_EQ(frames.filter("10 40 FD 3D 16").size(), 1) << "deselected after the change";
    EXPECT_EQ(log.lines().last(), "Secondary search thread terminated normally.");
    EXPECT_TRUE(dialogs.shown.empty()) << "the face asks, not the change";
    // A meter that is not on the bus ends the change with one line.
    log.clear();
    search.changeAddress({1, 9, "99999999"}, 7, {1, 300, 0});
    run();
    EXPECT_EQ(requests(rtu).filter("68 0B 0B 68 53 FD 52 99 99 99 99").size(), 2)
        << "Retry raised to 1: two selections";
    EXPECT_EQ(
        log.lines().mid(log.lines().size() - 2),
        (QStringList{"No answer from address 9.", "Secondary search thread terminated normally."}));
}

TEST_F(Changes, TheBulkChangeWithoutAddressesEndsAtOnce) {
    grid.setRows(2);
    grid.setRowTexts(1, {"12345678", ""});
    EXPECT_FALSE(changes.changeAllAddresses(settings)) << "one row with an empty address";
    EXPECT_TRUE(log.lines().isEmpty());
    grid.setRows(4);
    grid.setRowTexts(2, {"87654321", "x"});
    QList<BulkAddressResult> finished;
    QObject::connect(&changes, &MeterChanges::bulkFinished,
                     [&](const BulkAddressResult& result) { finished << result; });
    EXPECT_EQ(changes.changeAllAddresses(settings), 1) << "started, with Retry raised";
    ASSERT_EQ(finished.size(), 1) << "and ended at once";
    EXPECT_EQ(finished[0].changed, 0);
    EXPECT_EQ(log.lines().last(), "Invalid primary addresses in the table, process finished!");
    EXPECT_FALSE(search.running());
    EXPECT_FALSE(busy.running(Operation::BulkAddressChange));
}

}  // namespace
}  // namespace tarnel

namespace tarnel {
namespace {

TEST_F(Changes, EachChangeIsSeenWhenTheMeterIsReadBack) {
    // Meter 1 of the bus is 12345678, a water meter.
    grid.setRowTexts(1, {"12345678", "1"});
    const MeterTarget first{1, 1, "12345678"};
    changes.changeMedium(first, "Gas", settings);
    clock.runUntilIdle(60'000);
    const QString medium = grid.cell(1, 5);
    changes.changeValue(first, 4242, true, settings);
    clock.runUntilIdle(60'000);
    EXPECT_NE(medium, "") << "the change is followed by a read-out of the meter";
    EXPECT_EQ(bus.meters().front().medium, 0x03);
    EXPECT_TRUE(grid.cell(1, 3).contains("4.242")) << grid.cell(1, 3).toStdString();

    // A new primary address: found there by a scan, no longer at the old one.
    search.changeAddress(first, 77, {1, 300, 1});
    run();
    EXPECT_EQ(grid.cell(1, 1), "77");
    const int before = grid.rows();
    scan.start({1, 1, 1, 300, 600, 0}, false);
    clock.runUntilIdle(60'000);
    EXPECT_EQ(grid.rows(), before) << "nothing at the old address";
    scan.start({1, 77, 77, 300, 600, 0}, false);
    clock.runUntilIdle(60'000);
    EXPECT_EQ(grid.cell(grid.rows() - 2, 0), "12345678");
}

// A lost link ends the run: no further row, and the table is not blamed.
TEST_F(Changes, ALostLinkEndsTheBulkChange) {
    grid.setRows(5);
    grid.setRowTexts(1, {"12345678", "60"});
    grid.setRowTexts(2, {"30201567", "300"});
    grid.setRowTexts(3, {"45000012", "61"});
    EXPECT_EQ(changes.changeAllAddresses(settings), 1);
    clock.advance(100);
    link.closeSerial();
    run();
    EXPECT_EQ(log.lines().filter("Setting Primary address").size(), 1);
    EXPECT_TRUE(log.lines().contains("Connection lost: address change stopped."));
    EXPECT_FALSE(log.lines().contains("Invalid primary addresses in the table, process finished!"));
    ASSERT_EQ(bulkResults.size(), 1u);
    EXPECT_EQ(bulkResults[0].ending, Ending::LinkLost);
}

TEST_F(Changes, TheBulkChangeGivesAddresses1To250Only) {
    grid.setRows(6);
    grid.setRowTexts(1, {"12345678", "0"});
    grid.setRowTexts(2, {"12345678", "1"});
    grid.setRowTexts(3, {"30201567", "250"});
    grid.setRowTexts(4, {"45000012", "251"});
    grid.setRowTexts(5, {"", "7"});  // no ID: passed over, not "without an answer"
    EXPECT_EQ(changes.changeAllAddresses(settings), 1);
    run();
    EXPECT_EQ(log.lines().filter(QRegularExpression("^Setting Primary address|^Row|^Invalid")),
              (QStringList{"Row 1: primary address 0 is not 1..250, skipped...",
                           "Setting Primary address 1 to device 12345678...",
                           "Setting Primary address 250 to device 30201567...",
                           "Row 4: primary address 251 is not 1..250, skipped...",
                           "Setting Primary address 7 to device ...",
                           "Invalid primary addresses in the table, process finished!"}));
    EXPECT_EQ(log.lines().last(),
              "Address change ended: 2 changed, 0 without an answer, 0 at a taken address.");
    EXPECT_EQ(bus.meters()[0].address, 1);
    EXPECT_EQ(bus.meters()[2].address, 250);
    EXPECT_EQ(bus.meters()[3].address, 4) << "45000012 keeps its address";
    ASSERT_EQ(bulkResults.size(), 1u);
    EXPECT_EQ(bulkResults[0].ending, Ending::Done);
    EXPECT_EQ(bulkResults[0].changed, 2);
}

// Before a meter is moved, its new address is read once: any answer there
// but its own (another meter, the garble of two, a frame with a wrong
// checksum, an exception to the read's write) leaves it where it is and
// sends no selection.
TEST_F(Changes, TheNewAddressIsCheckedBeforeTheMeterIsMoved) {
    using By = AddressTaken::By;
    const struct {
        const char* name;
        int meters;  // meters put at address 9
        bool wrongChecksum;
        bool refusedWrite;
        std::optional<By> taken;
        const char* line;
    } cases[] = {
        {"free", 0, false, false, std::nullopt, nullptr},
        {"another meter", 1, false, false, By::Meter,
         "Meter 87654321 answers at address 9 already: the address of meter 12345678 is not "
         "changed."},
        {"two meters", 2, false, false, By::Unreadable, nullptr},
        {"wrong checksum", 1, true, false, By::Unreadable, nullptr},
        {"write refused", 0, false, true, By::Unchecked,
         "Address 9 could not be checked (the gateway did not take the read): the address of "
         "meter 12345678 is not changed."},
    };
    const std::vector<sim::SimMeter> original = bus.meters();
    for (const auto& c : cases) {
        bus.meters() = original;
        for (int copy = 0; copy < c.meters; ++copy) {
            sim::SimMeter other = original[0];
            other.id = copy == 0 ? 0x87654321 : 0x87654322;
            other.address = 9;
            other.wrongChecksum = c.wrongChecksum;
            bus.meters().push_back(other);
        }
        if (c.refusedWrite) rtu.faults().Add({sim::FaultKind::Exception, 2, 1, 16, std::nullopt});
        log.clear();
        rtu.ClearRecords();
        std::optional<SearchResult> result;
        QObject::connect(
            &search, &SecondarySearch::finished, &owner, [&](const SearchResult& r) { result = r; },
            Qt::SingleShotConnection);
        ASSERT_TRUE(search.changeAddress(meter, 9, {1, 1000, 0})) << c.name;
        run();
        ASSERT_TRUE(result) << c.name;
        EXPECT_TRUE(requests(rtu).first().contains("10 7B 09 84 16")) << c.name;
        const bool selected = !requests(rtu).filter("68 0B 0B 68 53 FD 52").isEmpty();
        EXPECT_EQ(selected, !c.taken) << c.name;
        EXPECT_EQ(result->taken ? std::optional(result->taken->by) : std::nullopt, c.taken)
            << c.name;
        EXPECT_EQ(result->answered, !c.taken) << c.name;
        if (c.line) {
            EXPECT_TRUE(log.lines().contains(c.line)) << c.name;
        }
        if (c.taken == By::Unreadable) {
            EXPECT_EQ(log.lines().filter("An unreadable reply came from address 9 (").size(), 1)
                << c.name;
        }
    }
}

TEST_F(Changes, ThreeMetersSharingTwoDigitsAreToldApartAtTheThird) {
    std::vector<sim::SimMeter> three(bus.meters().begin(), bus.meters().begin() + 1);
    three.resize(3, three.front());
    const uint32_t ids[] = {0x11111128, 0x22222228, 0x33333328};
    for (int i = 0; i < 3; ++i) {
        three[static_cast<size_t>(i)].id = ids[i];
        three[static_cast<size_t>(i)].address = static_cast<uint8_t>(i + 1);
    }
    bus.meters() = three;
    grid.clearData();
    search.start("FFFFFFFF", {1, 300, 1}, false);
    run();
    const QStringList checked = log.lines().filter("Checking ");
    EXPECT_TRUE(checked.contains("Checking 82FFFFFF..."));
    EXPECT_TRUE(checked.contains("Checking 821FFFFF..."));
    EXPECT_TRUE(checked.contains("Checking 829FFFFF..."));
    EXPECT_EQ(checked.size(), 30) << "ten masks at each of three positions";
    EXPECT_EQ(grid.rows(), 5);
}

}  // namespace
}  // namespace tarnel
