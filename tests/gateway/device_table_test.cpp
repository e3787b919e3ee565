// The gateway's device table and the bulk activation against the simulated
// gateway, in-process, on the virtual clock.
#include "gateway/device_table.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/bulk_activation.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "gateway/table_files.h"
#include "gateway/table_import.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "support/files.h"
#include "support/in_process_gateway.h"

namespace tarnel {
namespace {

struct Devices : ::testing::Test, test::InProcessGateway {
    Timer* timerFree = timer("Timer_free_command");
    Timer* timerModbus = timer("Timer_modbus");
    Timer* timerAuto = timer("Timer_auto");
    Timer* timerRead = timer("TimerReadDevices");
    Timer* timerActivate = timer("Timer_activateAll");
    GridModel devices{devicesGridLayout().headers};
    GridModel meters{loopsGridLayout().headers};
    GridModel registers{registersGridLayout().headers};
    CommandConsole console{link, *timerFree};
    RegisterView view{link, *timerModbus, *timerAuto};
    BusyRule busy;
    DeviceTable table{link, devices, meters, console, view, busy, *timerRead};
    BulkActivation bulk{link, devices, busy, *timerActivate};
    DeviceTable::Settings settings{1, 600, 300};
    std::vector<TableReadResult> readOuts;
    QString caption;

    Devices() {
        presenter.watch(busy);
        presenter.watch(console);
        presenter.watch(view, registers);
        presenter.watch(table, devices);
        presenter.watch(bulk);
        timerModbus->setInterval(1000);
        QObject::connect(&table, &DeviceTable::readOutFinished,
                         [this](const TableReadResult& result) { readOuts.push_back(result); });
        QObject::connect(&bulk, &BulkActivation::captionChanged,
                         [this](const QString& text) { caption = text; });
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        log.clear();
        rtu.ClearRecords();
    }
    Timer* timer(const char* name) { return clock.createTimer(&owner, name); }
    void settle() { clock.runUntilIdle(600'000); }
    QStringList sent() const { return requests(rtu); }
    QStringList addresses() const {
        QStringList column;
        for (int row = 1; row < devices.rows(); ++row)
            if (!devices.cell(row, 1).isEmpty()) column << devices.cell(row, 1);
        column.sort();
        return column;
    }
    void importRows(const QByteArray& content) {
        QTemporaryDir dir;
        const QString path = dir.filePath("devices.csv");
        ASSERT_TRUE(test::writeFile(path, content));
        ASSERT_EQ(ImportDeviceGrid(devices, path, dialogs), TableLoad::Loaded);
    }
};

TEST_F(Devices, TheFramesByteForByte) {
    const struct {
        const char* name;
        std::function<void(Devices&)> run;
        const char* frame;
    } cases[] = {
        {"bit map", [](Devices& t) { t.table.readDevices(t.settings); }, "01 04 E8 6C 00 10 04 7B"},
        {"address map", [](Devices& t) { t.table.readRealAddresses(t.settings); },
         "01 04 E8 08 00 20 45 B0"},
        {"activate 5",
         [](Devices& t) {
             t.table.write({true, false, false}, {1, 5, ""}, t.settings);
         },
         "01 06 00 00 00 05 49 C9"},
        {"delete 5",
         [](Devices& t) {
             t.table.deleteMeter({1, 5, ""}, t.settings);
         },
         "01 06 00 01 00 05 18 09"},
        {"delete all", [](Devices& t) { t.table.deleteAll(t.settings); },
         "01 06 00 01 00 FF 98 4A"},
        {"search and activate", [](Devices& t) { t.table.searchAndActivate(1, 0); },
         "01 06 64 68 00 40 16 D6"},
    };
    for (const auto& c : cases) {
        rtu.ClearRecords();
        c.run(*this);
        settle();
        ASSERT_FALSE(sent().isEmpty()) << c.name;
        EXPECT_EQ(sent().first(), c.frame) << c.name;
    }
    EXPECT_TRUE(dialogs.shown.empty()) << "the face asks before a delete";
}

TEST_F(Devices, TheReadOutReadsEveryEntryInBothVersions) {
    for (const uint8_t address : {1, 2, 3})
        gateway.Activate(address);
    for (const int size : {28, 24}) {
        gateway.SetEntryRegisters(size);
        table.setVersion2(size == 24);
        devices.clearData();
        rtu.ClearRecords();
        log.clear();
        table.readDevices(settings);
        settle();
        const QStringList frames = sent();
        ASSERT_EQ(frames.size(), 4) << log.lines().join('\n').toStdString();
        const QString quantity = size == 28 ? "00 1C" : "00 18";
        EXPECT_TRUE(frames[1].startsWith("01 04 00 01 " + quantity));
        EXPECT_TRUE(
            frames[2].startsWith((size == 28 ? "01 04 00 1D " : "01 04 00 19 ") + quantity));
        EXPECT_TRUE(
            frames[3].startsWith((size == 28 ? "01 04 00 39 " : "01 04 00 31 ") + quantity));
        EXPECT_TRUE(log.lines().contains("Number of devices: 3"));
        EXPECT_EQ(addresses(), (QStringList{"1", "2", "3"}));
        EXPECT_EQ(devices.cell(devices.rows() - 1, 0), "") << "the grid ends in one empty row";
    }
    ASSERT_EQ(readOuts.size(), 2u);
    EXPECT_EQ(readOuts[1].ending, Ending::Done);
    EXPECT_EQ(readOuts[1].rows, 3);
}

// A gateway that repeats its last reply gives entry 1's meter for entry 2:
// bytes cannot tell, but one meter ID in two entries has both read again.
TEST_F(Devices, OneMeterIdInTwoEntriesIsReadAgain) {
    for (const uint8_t address : {1, 2, 3})
        gateway.Activate(address);
    for (const int count : {1, -1}) {
        rtu.faults().Clear();
        rtu.faults().Add({sim::FaultKind::Stale, 0, count, 4, 0x1D});
        devices.clearData();
        log.clear();
        table.readDevices(settings);
        settle();
        const TableReadResult& read = readOuts.back();
        ASSERT_EQ(read.entries.size(), 3u) << count;
        const QStringList same = log.lines().filter("hold the same meter ID");
        if (count == 1) {
            EXPECT_EQ(addresses(), (QStringList{"1", "2", "3"})) << "read right the second time";
            EXPECT_TRUE(same.isEmpty());
            EXPECT_TRUE(read.sameMeterIds.empty());
        } else {
            EXPECT_EQ(addresses(), (QStringList{"1", "1", "3"})) << "both listed as read";
            EXPECT_EQ(same,
                      QStringList{QStringLiteral(
                                      "Entries 1 and 2 hold the same meter ID %1, also when read "
                                      "again: both are listed. Check the gateway's table.")
                                      .arg(devices.cell(1, 0))});
            EXPECT_EQ(read.sameMeterIds, (std::vector<std::pair<int, int>>{{1, 2}}));
        }
    }
    rtu.faults().Clear();
}

TEST_F(Devices, NoDevicesAndABadEntry) {
    table.deleteAll(settings);
    settle();
    log.clear();
    table.readDevices(settings);
    settle();
    EXPECT_EQ(log.lines().last(), "No active devices in Corvane memory...");

    // No answer to the count is not an empty table.
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoReply;
    rtu.faults().Add(silent);
    log.clear();
    table.readDevices(settings);
    settle();
    EXPECT_EQ(log.lines().last(), "No answer from the gateway to the device count...");
    ASSERT_FALSE(readOuts.empty());
    EXPECT_FALSE(readOuts.back().answered);

    gateway.Activate(1);
    gateway.Activate(2);
    sim::Fault crc;
    crc.kind = sim::FaultKind::WrongCrc;
    crc.registerNumber = 1;
    rtu.faults().Add(crc);
    devices.clearData();
    table.readDevices(settings);
    settle();
    EXPECT_EQ(addresses(), QStringList{"2"}) << "the first entry failed, the second is read";
}

// The count answered, then three entries in a row unanswered: the read-out
// stops there.
TEST_F(Devices, ASilentGatewayStopsTheReadOut) {
    ASSERT_EQ(gateway.ActivateAll(), 8);  // entries of 28 registers
    for (const int entry : {1, 29, 57})
        rtu.faults().Add({sim::FaultKind::NoReply, 0, -1, 4, entry});
    table.readDevices(settings);
    settle();
    EXPECT_EQ(operationRequests(rtu).size(), 4);
    ASSERT_EQ(readOuts.size(), 1u);
    EXPECT_EQ(readOuts[0].ending, Ending::GatewaySilent);
    EXPECT_EQ(readOuts[0].unreadEntries().size(), 8);
    EXPECT_FALSE(busy.running(Operation::TableReadOut));
}

TEST_F(Devices, TheAddressMapIsLoggedAndReturnedSlotBySlot) {
    gateway.Activate(5);
    std::optional<AddressMapResult> map;
    QObject::connect(&table, &DeviceTable::addressMapFinished,
                     [&](const AddressMapResult& result) { map = result; });
    table.readRealAddresses(settings);
    settle();
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->answered);
    ASSERT_EQ(map->mbusAddresses.size(), 64);
    EXPECT_EQ(map->mbusAddresses[0], 5);
    EXPECT_TRUE(log.lines().contains("Modbus 1 -> Mbus 5"));
    EXPECT_TRUE(log.lines().contains("Modbus 64 -> Mbus 255"));
}

TEST_F(Devices, AnAddressAbove250IsRefusedNotSentAsItsLowByte) {
    table.write({true, false, false}, {1, 300, ""}, settings);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(log.lines(),
              QStringList{"Address 300 refused: an M-Bus primary address is 0 to 250..."});
}

// Entries read with the other version's size are garbage: said once.
TEST_F(Devices, AVersionBoxThatDisagreesWithTheGatewayIsSaidOnce) {
    const QString v2Line =
        "Modbus version \"v 0.2\" is checked, but the gateway reported version "
        "0.3: its entries will not read right.";
    const QString v3Line =
        "Modbus version \"v 0.3\" is checked, but the gateway reported version "
        "0.2: its entries will not read right.";
    const auto readOut = [this] {
        log.clear();
        table.readDevices(settings);
        settle();
        return log.lines();
    };
    EXPECT_FALSE(readOut().contains(v2Line)) << "no version known yet";
    table.setGatewayVersion(0, 3);
    EXPECT_TRUE(readOut().filter("Modbus version").isEmpty()) << "v 0.3 agrees";
    table.setVersion2(true);
    EXPECT_EQ(readOut().filter("Modbus version"), QStringList{v2Line});
    EXPECT_TRUE(readOut().filter("Modbus version").isEmpty()) << "once";
    table.setVersion2(false);
    table.setGatewayVersion(0, 2);
    EXPECT_EQ(readOut().filter("Modbus version"), QStringList{v3Line});
}

// 250 is the last M-Bus primary address; the low byte of 251 or 255 would
// reach another meter or every one. The gateway's search-and-activate takes
// a new Modbus address below 255.
TEST_F(Devices, AddressesAtTheEdgeOfTheirRange) {
    // Activate, delete and delete inputs: the three boxes of "Write modbus".
    const auto write = [](bool activate, bool remove, bool inputs, int address) {
        return [=](Devices& t) {
            return t.table.write({activate, remove, inputs}, {1, address, ""}, t.settings);
        };
    };
    const char* refused251 = "Address 251 refused: an M-Bus primary address is 0 to 250...";
    const struct {
        std::function<bool(Devices&)> start;
        const char* shown;  // the request's first six bytes, or the line that refuses it
    } cases[] = {
        {write(true, false, false, 250), "01 06 00 00 00 FA"},
        {write(false, true, false, 250), "01 06 00 01 00 FA"},
        {write(false, false, true, 250), "01 06 00 02 00 FA"},
        {write(true, false, false, 251), refused251},
        {write(false, true, false, 255),
         "Address 255 refused: an M-Bus primary address is 0 to 250..."},
        {write(false, false, true, 251), refused251},
        {[](Devices& t) { return t.table.searchAndActivate(1, 254); }, "01 06 64 68 00 40"},
        {[](Devices& t) { return t.table.searchAndActivate(1, 255); },
         "Invalid new modbus address entered..."},
        {[](Devices& t) { return t.table.searchAndActivate(1, std::nullopt); },
         "Invalid new modbus address entered..."},
    };
    for (const auto& c : cases) {
        rtu.ClearRecords();
        log.clear();
        const bool sends = QString(c.shown).startsWith("01 06");
        EXPECT_EQ(c.start(*this), sends) << c.shown;
        settle();
        EXPECT_EQ(sent().isEmpty() ? log.lines().value(0) : sent().first().left(17), c.shown);
        EXPECT_LE(sent().size(), 1) << c.shown;
    }

    // The rows of "Activate All from table" likewise.
    devices.setRows(4);
    devices.setRowTexts(1, {"", "250"});
    devices.setRowTexts(2, {"", "251"});
    devices.setRowTexts(3, {"", "255"});
    rtu.ClearRecords();
    log.clear();
    bulk.start({1, 300, 0});
    settle();
    EXPECT_EQ(log.lines().filter(QRegularExpression("^Activating|^Error")),
              (QStringList{"Activating device 250",
                           "Error in Primary address at row 2: 251 is not 0 to 250",
                           "Error in Primary address at row 3: 255 is not 0 to 250"}));
    // After the search's late echo a fence goes before the write.
    ASSERT_EQ(operationRequests(rtu).size(), 1);
    EXPECT_EQ(operationRequests(rtu).first().left(17), "01 06 00 00 00 FA");
}

// STOP while a row's request is in flight on a link that stays up: the run
// waits for that request, counts the meter only if the gateway activated
// it, and sends no further row. Ctrl-C (stopNow) ends the run at once: its
// request is cancelled, the link free for the next one.
TEST_F(Devices, StopCountsTheRowInFlightAndSendsNoOther) {
    const struct {
        const char* gateway;
        std::optional<sim::FaultKind> fault;
        bool now;
        int activated;
        QList<int> notActivated;
    } cases[] = {
        {"echoes", std::nullopt, false, 1, {2}},
        {"answers exception 4", sim::FaultKind::Exception, false, 0, {1, 2}},
        {"is silent", sim::FaultKind::NoReply, false, 0, {1, 2}},
        {"echoes after Ctrl-C", std::nullopt, true, 0, {1, 2}},
    };
    std::vector<ActivationResult> ends;
    QObject::connect(&bulk, &BulkActivation::finished,
                     [&](const ActivationResult& result) { ends.push_back(result); });
    for (const bool tcpLink : {false, true}) {
        if (tcpLink) {
            link.closeSerial();
            link.connectTcp("127.0.0.1", 502, 30);
            clock.advance(400);
        }
        sim::SimEndpoint& endpoint = tcpLink ? tcpEndpoint : rtu;
        for (const auto& c : cases) {
            const std::string what = std::string(tcpLink ? "TCP, " : "RTU, ") + c.gateway;
            importRows("id;addr;\n45000012;4;\n51872403;5;\n");
            table.deleteAll(settings);
            settle();
            // The gateway's answer, whatever it is, comes 200 ms after the request.
            sim::Fault fault;
            fault.kind = sim::FaultKind::Delay;
            fault.value = 200;
            endpoint.faults().Add(fault);
            if (c.fault) {
                fault.kind = *c.fault;
                fault.value = 4;
                endpoint.faults().Add(fault);
            }
            ends.clear();
            log.clear();
            ASSERT_TRUE(bulk.start({1, 3000, 1})) << what;
            clock.advance(10);
            EXPECT_FALSE(bulk.start({1, 3000, 1})) << what << ": one run at a time";
            if (c.now) {
                bulk.stopNow();
                EXPECT_EQ(ends.size(), 1u) << what << ": ended at once";
                EXPECT_FALSE(link.busy(&bulk)) << what << ": its request cancelled";
            } else {
                bulk.stop();
                EXPECT_TRUE(ends.empty()) << what << ": the request in flight is awaited";
            }
            settle();
            EXPECT_EQ(log.lines().filter("Activating device"), QStringList{"Activating device 4"})
                << what;
            EXPECT_EQ(log.lines().filter("Activation ").size(), 1) << what;
            EXPECT_TRUE(log.lines().last().startsWith(
                QString("Activation stopped: meters activated %1, ").arg(c.activated)))
                << what << ": " << log.lines().last().toStdString();
            ASSERT_EQ(ends.size(), 1u) << what;
            EXPECT_EQ(ends[0].ending, Ending::Stopped) << what;
            EXPECT_EQ(ends[0].notActivated, c.notActivated) << what;
            EXPECT_EQ(caption, BulkActivation::kAgain) << what;
        }
        // The link serves the next run: both meters answer.
        ASSERT_TRUE(bulk.start({1, 3000, 1}));
        settle();
        EXPECT_TRUE(log.lines().last().startsWith("Activation ended: meters activated 2, "))
            << log.lines().last().toStdString();
    }
}

// Exception 04 (SLAVE DEVICE FAILURE) to an activation: the gateway could
// not reach the meter. A row whose last attempt it answers so counts as
// refused by the meter, neither without an answer nor a gateway error; other
// exceptions are the gateway's.
TEST_F(Devices, AMetersRefusalIsCountedApartFromTheGatewaysErrors) {
    const struct {
        const char* gateway;
        std::optional<sim::FaultKind> fault;
        int value;
        int count;
        const char* line;
    } cases[] = {
        {"finds no meter 20", std::nullopt, 0, 0,
         "Activation ended: meters activated 1, without an answer 0, refused by the meter 1, "
         "gateway errors 0 (exception replies 0, CRC or frame errors 0, time-outs 0)."},
        {"is silent once, then finds no meter 20", sim::FaultKind::NoReply, 0, 1,
         "Activation ended: meters activated 1, without an answer 0, refused by the meter 1, "
         "gateway errors 1 (exception replies 0, CRC or frame errors 0, time-outs 1)."},
        {"answers exception 2 to all", sim::FaultKind::Exception, 2, -1,
         "Activation ended: meters activated 0, without an answer 2, refused by the meter 0, "
         "gateway errors 4 (exception replies 4, CRC or frame errors 0, time-outs 0)."},
    };
    for (const auto& c : cases) {
        importRows("id;addr;\n20000000;20;\n45000012;4;\n");
        table.deleteAll(settings);
        settle();
        if (c.fault) rtu.faults().Add({*c.fault, c.value, c.count, 6, 0});  // the activation
        log.clear();
        ASSERT_TRUE(bulk.start({1, 3000, 1})) << c.gateway;
        settle();
        rtu.faults().Clear();
        EXPECT_EQ(log.lines().filter("Activating device 20").size(), 2) << c.gateway;
        EXPECT_EQ(log.lines().last(), c.line) << c.gateway << "\n"
                                              << log.lines().join('\n').toStdString();
    }
}

TEST_F(Devices, ImportFieldRules) {
    importRows("header;\r\n12345678;5;ABC;Water;kWh;\r\n87654321;6\r\n11111111;7;\r\n;8;\r\n");
    EXPECT_EQ(devices.rowTexts(1).mid(0, 5), (QStringList{"12345678", "5", "ABC", "Water", ""}));
    EXPECT_EQ(devices.rowTexts(2).mid(0, 2), (QStringList{"87654321", ""}))
        << "no \";\" after the 6: only the ID";
    EXPECT_EQ(devices.rows(), 4) << "a last line without an ID makes no row, nor an empty one";
    importRows("header;\r\n12345678;5;\r\n87654321;6\r\n");
    EXPECT_EQ(devices.rows(), 2) << "nor a last line without an address";
    importRows("header only\n");
    EXPECT_EQ(devices.rows(), 1);
    EXPECT_EQ(ImportDeviceGrid(devices, "/nonexistent/devices.csv", dialogs), TableLoad::Refused);
    EXPECT_EQ(dialogs.shown.back().text, "File is not in correct format!");
}

TEST_F(Devices, ImportActivateAllAndReadTheTableBack) {
    importRows("id;addr;mfr;medium;\n45000012;4;ZPA;;\n51872403;5;WWR;;\n24681358;6;CWM;;\n");
    table.deleteAll(settings);
    settle();
    bulk.start({1, 3000, 1});
    EXPECT_EQ(caption, BulkActivation::kStop);
    settle();
    EXPECT_EQ(log.lines().at(log.lines().size() - 2), "Activation process finished!");
    EXPECT_EQ(log.lines().last(),
              "Activation ended: meters activated 3, without an answer 0, refused by the meter 0, "
              "gateway errors 0 (exception replies 0, CRC or frame errors 0, time-outs 0).");
    EXPECT_EQ(caption, BulkActivation::kAgain);

    // "Stop activation" while a row's request is in flight: the gateway's
    // answer to it is counted, and no further row is sent.
    table.deleteAll(settings);
    settle();
    log.clear();
    bulk.start({1, 3000, 1});
    clock.advance(10);
    bulk.stop();
    settle();
    EXPECT_EQ(log.lines().filter("Activating device").size(), 1);
    EXPECT_TRUE(log.lines().last().startsWith("Activation stopped: meters activated 1, "))
        << log.lines().last().toStdString();
    bulk.start({1, 3000, 1});
    settle();
    devices.clearData();
    table.readDevices(settings);
    settle();
    EXPECT_EQ(addresses(), (QStringList{"4", "5", "6"}));
}

// A reply that comes after its exchange timed out never answers a later
// request: late at 1.5 and 3 times the time-out (measured from the request),
// the settling line drops it; later still, the confirmation refuses it.
TEST_F(Devices, ALateEchoNeverActivatesAnotherRow) {
    constexpr int kScanTime = 400;  // the time allowed for each echo
    constexpr int kBusMs = 249;     // meter 4's answer on the M-Bus, before the echo
    const struct {
        double times;
        bool fast;
    } cases[] = {{1.5, false}, {1.5, true}, {3, false}, {3, true}, {4, true}};
    for (const auto& c : cases) {
        const std::string what =
            "late at " + std::to_string(c.times) + " x, fast " + std::to_string(c.fast);
        link.setFastReplies(c.fast);
        importRows("id;addr;\n45000012;4;\n51872403;5;\n24681358;6;\n");
        sim::Fault late;
        late.kind = sim::FaultKind::Delay;
        late.value = static_cast<int>(c.times * kScanTime) - kBusMs;
        late.function = 6;       // not a fence's read
        rtu.faults().Add(late);  // row 1's echo
        const auto silent = QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
            if (line != "Activating device 6") return;
            sim::Fault none;
            none.kind = sim::FaultKind::NoReply;
            none.function = 6;
            rtu.faults().Add(none);  // row 3: the gateway says nothing
        });
        log.clear();
        bulk.start({1, kScanTime, 0});
        settle();
        QObject::disconnect(silent);
        const QStringList lines = log.lines();
        const QStringList afterRow3 = lines.mid(lines.indexOf("Activating device 6"));
        EXPECT_FALSE(afterRow3.join('\n').contains("01 06 00 00 00 04")) << what;
        EXPECT_EQ(
            lines.last(),
            "Activation ended: meters activated 1, without an answer 2, refused by the meter 0, "
            "gateway errors 2 (exception replies 0, CRC or frame errors 0, time-outs 2).")
            << what << "\n"
            << lines.join('\n').toStdString();
        clock.advance(10'000);
    }
}

TEST_F(Devices, ALateEntryIsNeverShownAsTheNextOne) {
    ASSERT_TRUE(gateway.Activate(4));
    ASSERT_TRUE(gateway.Activate(5));
    settings.timeoutMs = 300;
    constexpr int kLineMs = 35;  // an entry's reply at 19200 Bd
    for (const int lateAt : {450, 700, 900}) {
        for (const bool fast : {false, true}) {
            const std::string what =
                "late at " + std::to_string(lateAt) + " ms, fast " + std::to_string(fast);
            link.setFastReplies(fast);
            const auto delay = [&](int registerNumber, int ms) {
                sim::Fault fault;
                fault.kind = sim::FaultKind::Delay;
                fault.value = ms - kLineMs;
                fault.function = 4;
                fault.registerNumber = registerNumber;
                rtu.faults().Add(fault);
            };
            rtu.faults().Clear();
            delay(1, lateAt);  // entry 1
            delay(29, 250);    // entry 2, after its own request
            devices.clearData();
            table.readDevices(settings);
            settle();
            EXPECT_EQ(addresses(), QStringList{"5"}) << what;
            clock.advance(10'000);
        }
    }
}

// Row 4 twice, row 5 once, never answered: the third request stops the run.
TEST_F(Devices, ActivationRetriesAndBadRows) {
    devices.setRows(4);
    devices.setRowTexts(1, {"", "4"});
    devices.setRowTexts(2, {"", "x"});
    devices.setRowTexts(3, {"", "5"});
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoReply;
    silent.count = -1;
    rtu.faults().Add(silent);
    std::vector<ActivationResult> ends;
    QObject::connect(&bulk, &BulkActivation::finished,
                     [&](const ActivationResult& result) { ends.push_back(result); });
    bulk.start({1, 300, 1});
    settle();
    EXPECT_EQ(log.lines().filter("Activating device 4").size(), 2) << "sent again once";
    EXPECT_TRUE(log.lines().contains("Error in Primary address at row 2"));
    EXPECT_EQ(log.lines().filter("Activating device 5").size(), 1);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].ending, Ending::GatewaySilent);
    EXPECT_EQ(ends[0].notActivated, (QList<int>{1, 2, 3}));
    EXPECT_FALSE(busy.running(Operation::BulkActivation));
    EXPECT_EQ(caption, BulkActivation::kAgain);
}

// Rows without a valid address are walked in a loop: a table of 100,000 of
// them ends with its closing line, every row not activated, nothing sent.
TEST_F(Devices, AHundredThousandBadRowsEndWell) {
    constexpr int kRows = 100'000;
    devices.setRows(kRows + 1);
    for (int row = 1; row <= kRows; ++row)
        devices.setCell(row, 1, row % 2 ? "251" : "-1");
    std::vector<ActivationResult> ends;
    QObject::connect(&bulk, &BulkActivation::finished,
                     [&](const ActivationResult& result) { ends.push_back(result); });
    bulk.start({1, 300, 0});
    settle();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].ending, Ending::Done);
    EXPECT_EQ(ends[0].rows, kRows);
    EXPECT_EQ(ends[0].notActivated.size(), kRows);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(log.lines().at(log.lines().size() - 3),
              "Error in Primary address at row 100000: -1 is not 0 to 250");
    EXPECT_EQ(log.lines().last(),
              "Activation ended: meters activated 0, without an answer 0, refused by the meter 0, "
              "gateway errors 0 (exception replies 0, CRC or frame errors 0, time-outs 0).");
}

TEST_F(Devices, ALostLinkStopsTheActivationAndStopNeedsNoLink) {
    devices.setRowTexts(1, {"", "4"});
    bulk.start({1, 3000, 1});
    link.closeSerial();
    EXPECT_EQ(log.lines().filter("Connection lost").join('|'),
              "Connection lost: activation stopped.");
    EXPECT_EQ(caption, BulkActivation::kAgain);
    EXPECT_FALSE(bulk.running());
}

}  // namespace
}  // namespace tarnel
