#include "ops/primary_scan.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/grid_selection.h"
#include "gateway/presenter.h"
#include "mbus/loops_grid.h"
#include "ops/busy_rule.h"
#include "support/in_process_gateway.h"

namespace tarnel {
namespace {

struct Scan : ::testing::Test, test::InProcessGateway {
    Timer* timerMbus = clock.createTimer(&owner, "Timer_mbus");
    Timer* timerMbusRespond = clock.createTimer(&owner, "Timer_mbusRespond");
    GridModel grid{loopsGridLayout().headers};
    BusyRule busy;
    PrimaryScan scan{link, busy, *timerMbus, *timerMbusRespond};
    std::vector<MbusRunResult> results;

    Scan() {
        presenter.watch(busy);
        presenter.watch(scan, grid);
        QObject::connect(&scan, &PrimaryScan::finished,
                         [this](const MbusRunResult& result) { results.push_back(result); });
        link.setFastReplies(false);
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        log.clear();
        rtu.ClearRecords();
    }
    PrimaryScan::Settings settings(int from, int to, int scanTime = 2000, int retries = 2) {
        return {1, from, to, scanTime, 600, retries};
    }
    void run() { clock.runUntilIdle(24 * 3600 * 1000); }
    QStringList requestsHex() const { return requests(rtu); }
    int searches(int address) const {
        return static_cast<int>(
            log.lines().count(QStringLiteral("Searching for address %1").arg(address)));
    }
};

TEST_F(Scan, TheWireTrafficOfOneAddress) {
    scan.start(settings(1, 1), false);
    run();
    const QStringList sent = requestsHex();
    ASSERT_GE(sent.size(), 3);
    // REQ_UD2 to address 1 in a function-16 write at 0x8408, with its pad byte.
    EXPECT_TRUE(sent[0].startsWith("01 10 84 08 00 03 06 10 7B 01 7C 16 00"))
        << sent[0].toStdString();
    EXPECT_TRUE(sent[1].startsWith("01 04 84 07 00 01"));
    const int length = bus.meters().front().RspUd().size();
    EXPECT_TRUE(sent[2].startsWith(
        QStringLiteral("01 04 84 08 00 %1").arg((length + 1) / 2, 2, 16, QChar('0')).toUpper()))
        << sent[2].toStdString();
    EXPECT_EQ(grid.cell(1, 1), "1");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].ending, Ending::Done);
    EXPECT_EQ(results[0].found, 1);
    EXPECT_FALSE(scan.running());
}

// The scan asks nothing: the face asked whether to clear the table first.
TEST_F(Scan, ClearsTheTableOnlyWhenToldAndAsksNothing) {
    for (const bool clearTable : {false, true}) {
        grid.clearData();
        grid.setRows(3);
        grid.setRowTexts(1, {"99999999", "9", "XYZ"});
        scan.start(settings(1, 1), clearTable);
        run();
        EXPECT_EQ(grid.cell(1, 0) == "99999999", !clearTable) << clearTable;
        EXPECT_EQ(grid.cell(grid.rows() - 2, 1), "1") << "the meter found is listed";
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Scan, FindsEveryDefaultMeterWithAGenerousScanTime) {
    scan.start(settings(0, 10, 2000), false);
    run();
    QStringList addresses;
    for (int row = 1; row < grid.rows() - 1; ++row)
        addresses << grid.cell(row, 1);
    QStringList expected;
    for (const auto& meter : bus.meters())
        expected << QString::number(meter.address);
    std::sort(expected.begin(), expected.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    EXPECT_EQ(addresses, expected);
    EXPECT_EQ(grid.cell(grid.rows() - 1, 0), "") << "the grid ends in one empty row";
}

TEST_F(Scan, ASilentAddressIsAskedRetryPlusOneTimes) {
    scan.start(settings(200, 200, 300, 2), false);
    run();
    EXPECT_EQ(searches(200), 3);
    log.clear();
    scan.start(settings(200, 200, 300, 0), false);
    run();
    EXPECT_EQ(searches(200), 1);
}

TEST_F(Scan, FromAboveToIsSwapped) {
    const auto range = scan.start(settings(3, 2, 2000), false);
    EXPECT_EQ(std::make_pair(range.from, range.to), std::make_pair(2, 3));
    EXPECT_TRUE(range.started);
    run();
    EXPECT_EQ(searches(2), 1);
    EXPECT_EQ(searches(3), 1);
}

TEST_F(Scan, AScanTo255Ends) {
    scan.start(settings(254, 255, 300, 0), false);
    run();
    EXPECT_FALSE(scan.running());
    EXPECT_EQ(searches(255), 1);
    EXPECT_EQ(searches(0), 0);
}

TEST_F(Scan, AMeterWithABadChecksumIsRetriedAModbusCrcErrorIsNot) {
    bus.meters().front().wrongChecksum = true;
    const int address = bus.meters().front().address;
    scan.start(settings(address, address, 2000, 2), false);
    run();
    EXPECT_EQ(searches(address), 3);
    EXPECT_GE(log.lines().count("Wrong CRC"), 3);

    bus.meters().front().wrongChecksum = false;
    log.clear();
    sim::Fault crc;
    crc.kind = sim::FaultKind::WrongCrc;
    crc.function = 4;
    crc.registerNumber = 33800;
    rtu.faults().Add(crc);
    scan.start(settings(address, address, 2000, 2), false);
    run();
    EXPECT_EQ(searches(address), 1) << "a Modbus fault in the data reply counts as an answer";
    EXPECT_TRUE(log.lines().contains("Error in CRC field\r"));
}

TEST_F(Scan, ASlowMeterNeedsAGenerousScanTime) {
    const auto slowest = std::max_element(
        bus.meters().begin(), bus.meters().end(), [](const auto& a, const auto& b) {
            return a.RspUd().size() + a.extraDelayMs * 1000 / 4583 <
                   b.RspUd().size() + b.extraDelayMs * 1000 / 4583;
        });
    const int address = slowest->address;
    scan.start(settings(address, address, 300, 0), false);
    run();
    EXPECT_EQ(grid.rows(), 2) << "missed";
    scan.start(settings(address, address, 3000, 0), false);
    run();
    EXPECT_EQ(grid.cell(1, 1), QString::number(address));
}

TEST_F(Scan, StopEndsTheScan) {
    scan.start(settings(0, 250, 300), false);
    clock.advance(5000);
    scan.stop();
    EXPECT_FALSE(scan.running());
    EXPECT_FALSE(busy.running(Operation::Scan));
    EXPECT_EQ(clock.armedTimers(), 0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].ending, Ending::Stopped);
    EXPECT_TRUE(log.lines().last().startsWith("Scan stopped: meters found "))
        << log.lines().last().toStdString();
}

// The closing line tells a gateway that errs from an empty bus. A telegram
// whose write the gateway did not confirm ends its transaction there: no
// state is read for a meter that was never asked. The third request in a
// row the gateway leaves unanswered stops the scan; silent meters,
// exceptions and broken replies do not.
TEST_F(Scan, TheClosingLineCountsMetersSilenceAndGatewayErrors) {
    const struct {
        std::optional<sim::FaultKind> fault;
        Ending ending;
        const char* line;
    } cases[] = {
        {std::nullopt, Ending::Done,
         "Scan ended: meters found 0, addresses without an answer 3, gateway errors 0 "
         "(exception replies 0, CRC or frame errors 0, time-outs 0)."},
        {sim::FaultKind::Exception, Ending::Done,
         "Scan ended: meters found 0, addresses without an answer 3, gateway errors 3 "
         "(exception replies 3, CRC or frame errors 0, time-outs 0)."},
        {sim::FaultKind::NoReply, Ending::GatewaySilent,
         "Scan stopped: meters found 0, addresses without an answer 2, gateway errors 3 "
         "(exception replies 0, CRC or frame errors 0, time-outs 3)."},
        {sim::FaultKind::WrongCrc, Ending::Done,
         "Scan ended: meters found 0, addresses without an answer 3, gateway errors 3 "
         "(exception replies 0, CRC or frame errors 3, time-outs 0)."},
        // Another unit's echo answers nothing.
        {sim::FaultKind::WrongUnit, Ending::GatewaySilent,
         "Scan stopped: meters found 0, addresses without an answer 2, gateway errors 3 "
         "(exception replies 0, CRC or frame errors 0, time-outs 3)."},
    };
    for (const auto& c : cases) {
        rtu.faults().Clear();
        rtu.ClearRecords();
        if (c.fault) rtu.faults().Add({*c.fault, 0, -1, 16, std::nullopt});
        scan.start(settings(200, 202, 300, 0), false);
        run();
        EXPECT_EQ(log.lines().last(), c.line);
        EXPECT_EQ(results.back().ending, c.ending);
        EXPECT_FALSE(busy.running(Operation::Scan));
        if (c.fault) {
            EXPECT_TRUE(operationRequests(rtu).filter("01 04 84 07").isEmpty());
        }
        if (c.fault == sim::FaultKind::WrongUnit) {
            EXPECT_EQ(log.lines().filter("Ignored a reply that does not answer the request").size(),
                      3);
        }
    }
    rtu.faults().Clear();
    const int address = bus.meters().front().address;
    scan.start(settings(address, address, 2000, 0), false);
    run();
    EXPECT_TRUE(
        log.lines().last().startsWith("Scan ended: meters found 1, addresses without an "
                                      "answer 0, gateway errors 0"))
        << log.lines().last().toStdString();
}

TEST_F(Scan, ReadUpdatesEveryRowWithThatAddressAndAddsNone) {
    const int address = bus.meters().front().address;
    grid.setRows(4);
    grid.setRowTexts(1, {"old", QString::number(address)});
    grid.setRowTexts(2, {"other", "99"});
    grid.setRowTexts(3, {"again", QString::number(address)});
    scan.readMeter({1, address, "old"}, settings(0, 0));
    run();
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.cell(1, 0), grid.cell(3, 0));
    EXPECT_NE(grid.cell(1, 0), "old");
    EXPECT_EQ(grid.cell(2, 0), "other");
    EXPECT_EQ(searches(address), 0) << "a read logs no search line";
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].answered);
    EXPECT_EQ(results[0].row.id, grid.cell(1, 0));
}

TEST_F(Scan, ReadWithoutAValidRowAndASilentMeter) {
    EXPECT_FALSE(scan.readMeter({1, -1, ""}, settings(0, 0)));  // the empty row
    EXPECT_EQ(log.lines(), QStringList{"Not a valid device selected..."});
    log.clear();
    EXPECT_TRUE(scan.readMeter({1, 200, "x"}, settings(0, 0, 300, 2)));
    run();
    EXPECT_EQ(log.lines().count("Searching/Reading address 200"), 2);
    EXPECT_EQ(log.lines().last(), "No answer from address 200.");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].answered);
    EXPECT_EQ(results[0].silent, 1);
}

TEST_F(Scan, TheGridStopsAt250Rows) {
    grid.setRows(kMaxLoopsRows);
    const int address = bus.meters().front().address;
    scan.start(settings(address, address), false);
    run();
    EXPECT_EQ(grid.rows(), 250);
    EXPECT_EQ(grid.cell(249, 1), QString::number(address));
}

TEST_F(Scan, NoLinkNoScan) {
    link.closeSerial();
    log.clear();
    scan.start(settings(1, 2), false);
    EXPECT_EQ(log.lines(), QStringList{"Serial or TCP port for modbus is not open..."});
    EXPECT_FALSE(scan.running());
}

TEST_F(Scan, RemoveAndClear) {
    grid.setRows(4);
    grid.setRowTexts(1, {"a", "1"});
    grid.setRowTexts(2, {"b", "2"});
    grid.removeDataRow(0);  // nothing selected: nothing removed
    EXPECT_EQ(grid.rows(), 4);
    grid.removeDataRow(1);
    EXPECT_EQ(grid.rows(), 3);
    EXPECT_EQ(grid.cell(1, 0), "b");
    EXPECT_EQ(grid.cell(0, 0), " ID ");
    grid.removeDataRow(2);  // the empty row
    EXPECT_EQ(grid.rows(), 3);
    grid.clearData();
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.cell(1, 0), "");
}

}  // namespace
}  // namespace tarnel

namespace tarnel {
namespace {

TEST_F(Scan, WithFastRepliesTheWaitPollsTheReplyStateAndEndsWhenTheMeterHasAnswered) {
    const int meter = bus.meters().front().address;
    for (const bool tcp : {false, true}) {
        link.setFastReplies(true);
        if (tcp) {
            link.closeSerial();
            link.connectTcp("127.0.0.1", 502, 30);
            clock.advance(400);
        }
        sim::SimEndpoint& endpoint = tcp ? tcpEndpoint : rtu;
        endpoint.ClearRecords();
        const qint64 start = clock.elapsed();
        scan.start(settings(200, 200, 1000, 0), false);  // a silent address: the whole scan time
        run();
        const qint64 silent = clock.elapsed() - start;
        EXPECT_GE(silent, 1000);
        EXPECT_LT(silent, 1050);
        std::vector<qint64> polls;
        for (const sim::WireRecord& record : endpoint.Records())
            if (record.request && QByteArray(reinterpret_cast<const char*>(record.bytes.data()),
                                             static_cast<qsizetype>(record.bytes.size()))
                                      .contains(QByteArray::fromHex("0104840700")))
                polls.push_back(record.atMs);
        const int period = tcp ? MbusTransaction::kPollTcpMs : MbusTransaction::kPollSerialMs;
        ASSERT_GE(polls.size(), 5u);
        for (size_t i = 1; i < polls.size() - 1; ++i)
            EXPECT_GE(polls[i] - polls[i - 1], period) << (tcp ? "TCP" : "RTU");

        const qint64 before = clock.elapsed();
        scan.start(settings(meter, meter, 3000, 0), false);
        run();
        EXPECT_EQ(grid.cell(grid.rows() - 2, 1), QString::number(meter));
        EXPECT_LT(clock.elapsed() - before, 1500) << "the meter's answer, not the scan time";

        // A silent gateway: the third judged request stops the scan, as without
        // fast replies; the polls before it are not judged.
        endpoint.faults().Add({sim::FaultKind::NoReply, 0, -1, std::nullopt, std::nullopt});
        scan.start(settings(200, 202, 3000, 2), false);
        run();
        EXPECT_EQ(results.back().ending, Ending::GatewaySilent);
        EXPECT_EQ(results.back().errors.timeouts, 3) << (tcp ? "TCP" : "RTU");
        endpoint.faults().Clear();
    }
}

}  // namespace
}  // namespace tarnel
