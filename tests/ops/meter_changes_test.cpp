#include "ops/meter_changes.h"

#include <gtest/gtest.h>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "ops/secondary_search.h"
#include "support/in_process_gateway.h"

namespace tarnel {
namespace {

struct Changes : ::testing::Test, test::InProcessGateway {
    Timer* timerMbus = clock.createTimer(&owner, "Timer_mbus");
    Timer* timerMbusRespond = clock.createTimer(&owner, "Timer_mbusRespond");
    Timer* timerAll = clock.createTimer(&owner, "Timer_changePrimaryAll");
    GridModel grid{loopsGridLayout().headers};
    MbusJobState job;
    PrimaryScan scan{link, log, dialogs, grid, job, *timerMbus, *timerMbusRespond};
    SecondarySearch search{link, log, dialogs, grid, job, *timerMbus, *timerMbusRespond};
    MeterChanges changes{link, log, grid, job, scan, search, *timerAll};
    PrimaryScan::Settings settings{1, 0, 0, 300, 600, 1};

    Changes() {
        timerAll->setSingleShot(false);
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        grid.setRows(3);
        grid.setRowTexts(1, {"12345678", "5"});
        scan.selectRow(1);
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
        while (search.running() || timerAll->isActive())
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
        {"medium water", [](Changes& t) { t.changes.changeMedium("Water", t.settings); },
         "68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 07 41 16"},
        {"medium heat", [](Changes& t) { t.changes.changeMedium("Heat meter", t.settings); },
         "68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 04 3E 16"},
        {"300 baud", [](Changes& t) { t.changes.changeBaudRate(MeterChanges::kBaud300, t.settings); },
         "68 03 03 68 53 05 B8 10 16"},
        {"2400 baud",
         [](Changes& t) { t.changes.changeBaudRate(MeterChanges::kBaud2400, t.settings); },
         "68 03 03 68 53 05 BB 13 16"},
        {"value BCD", [](Changes& t) { t.changes.changeValue(12345678, true, t.settings); },
         "68 09 09 68 53 05 51 0C 13 78 56 34 12 DC 16"},
        {"value binary", [](Changes& t) { t.changes.changeValue(1234, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 D2 04 00 00 96 16"},
        {"42 in BCD", [](Changes& t) { t.changes.changeValue(42, true, t.settings); },
         "68 09 09 68 53 05 51 0C 13 42 00 00 00"},
        {"42 in binary", [](Changes& t) { t.changes.changeValue(42, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 2A 00 00 00"},
        {"above 24 bits", [](Changes& t) { t.changes.changeValue(16777217, false, t.settings); },
         "68 09 09 68 53 05 51 04 13 01 00 00 01"},
    };
    for (const auto& c : cases) {
        grid.setRowTexts(1, {"12345678", "5"});  // the read-out after a change rewrites it
        rtu.ClearRecords();
        c.change(*this);
        EXPECT_TRUE(telegram().startsWith(c.telegram)) << c.name << ": " << telegram().toStdString();
    }
}

TEST_F(Changes, RefusedWithoutASelectionOrWhileASearchRuns) {
    scan.selectRow(2);  // the empty row
    changes.changeBaudRate(MeterChanges::kBaud300, settings);
    changes.changeValue(std::nullopt, true, settings);
    EXPECT_EQ(log.lines(), QStringList(2, "Not a valid device selected..."));
    scan.selectRow(1);
    log.clear();
    job.searchIdle = false;
    changes.changeValue(7, true, settings);
    EXPECT_EQ(log.lines(), QStringList{"Can not change value while secondary search/change address"});
    EXPECT_TRUE(requests(rtu).isEmpty());
}

TEST_F(Changes, TheAddressChangeSelectsByIdentificationAndSendsTheNewAddress) {
    dialogs.answers = {true};
    EXPECT_EQ(search.changeAddress(5, {1, 300, 0}), 1);
    run();
    const QStringList frames = requests(rtu);
    EXPECT_TRUE(frames.first().contains("68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF"));
    EXPECT_EQ(frames.filter("68 06 06 68 73 FD 51 01 7A 05 41 16").size(), 1);
    EXPECT_EQ(frames.filter("10 40 FD 3D 16").size(), 1) << "deselected after the change";
    EXPECT_EQ(log.lines().last(), "Secondary search thread terminated normally.");
    dialogs.answers = {false};
    rtu.ClearRecords();
    search.changeAddress(5, {1, 300, 0});
    EXPECT_TRUE(requests(rtu).isEmpty()) << "answered No";
}

TEST_F(Changes, TheBulkChangeWithoutAddressesEndsAtOnce) {
    grid.setRows(2);
    grid.setRowTexts(1, {"12345678", ""});
    EXPECT_FALSE(changes.changeAllAddresses(settings)) << "one row with an empty address";
    EXPECT_TRUE(log.lines().isEmpty());
    grid.setRows(4);
    grid.setRowTexts(2, {"87654321", "x"});
    changes.changeAllAddresses(settings);
    EXPECT_EQ(log.lines().last(), "Invalid primary addresses in the table, process finished!");
    EXPECT_FALSE(search.running());
    EXPECT_TRUE(job.searchIdle);
}

}  // namespace
}  // namespace tarnel
