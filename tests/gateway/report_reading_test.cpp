// What a commissioning report records, read by the whole program against
// the simulated gateway in-process on the virtual clock: only the reads' own
// results, whatever the grids hold, and what they missed.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "base/virtual_clock.h"
#include "gateway/device_table.h"
#include "gateway/program.h"
#include "gateway/report_reading.h"
#include "link/gateway_link.h"
#include "ops/primary_scan.h"
#include "sim/in_memory_transports.h"
#include "support/fake_dialogs.h"

namespace tarnel {
namespace {

struct ReportRig {
    QTemporaryDir folder;
    VirtualClock clock;
    sim::SimBus bus{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway{bus, clock};
    sim::SimEndpoint rtu{gateway, clock, sim::Framing::Rtu};
    sim::SimEndpoint tcpEndpoint{gateway, clock, sim::Framing::Tcp};
    test::FakeDialogs dialogs;
    Program program{
        clock, dialogs,
        ProgramPaths{folder.path(), folder.filePath("tarnel.ini"), folder.path(), folder.path()},
        Transports{std::make_unique<sim::InMemorySerial>(rtu, clock),
                   std::make_unique<sim::InMemoryTcp>(tcpEndpoint, clock)}};

    ReportRig() {
        for (const uint8_t address : {1, 2, 3})
            gateway.Activate(address);
        useSerial();
    }
    void useSerial() {
        program.link().disconnectTcp();
        program.link().openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        clock.advance(10);
    }
    void useTcp() {
        program.link().closeSerial();
        program.link().connectTcp("127.0.0.1", 502, 30);
        clock.advance(400);
    }
    sim::SimEndpoint& endpoint() { return program.link().TcpMode() ? tcpEndpoint : rtu; }
    void noReply(int function, int registerNumber) {
        sim::Fault fault;
        fault.count = -1;
        fault.function = function;
        if (registerNumber >= 0) fault.registerNumber = registerNumber;
        endpoint().faults().Add(fault);
    }
    // Meters 1 to 3 are in the gateway's table, 4 is on the bus only.
    void scan(int from, int to) {
        program.scan().start({.from = from, .to = to, .scanTimeMs = 1500, .retries = 0}, false);
        clock.runUntilIdle(120'000);
    }
    // `during` runs once the reading has started, before the clock moves.
    std::optional<ReportReadResult> report(const std::function<void()>& during = {}) {
        ReportReading reading(program);
        std::optional<ReportReadResult> result;
        QObject::connect(&reading, &ReportReading::finished,
                         [&](const ReportReadResult& ended) { result = ended; });
        if (!reading.start({}, {.slave = 1, .timeoutMs = 600, .scanTimeMs = 1000})) return result;
        if (during) during();
        clock.runUntilIdle(120'000);
        return result;
    }
};

QStringList activatedIds(const CommissioningReport& report) {
    QStringList ids;
    for (const TableEntry& entry : report.table.entries)
        ids << QString::fromStdString(entry.device.id);
    return ids;
}

// One table across what can go wrong: the ending, the incomplete line, the
// activated meters (exactly the gateway's, once), whether the bus of this
// link is known, and the "not activated" claims, made only from a whole
// table and a scan over the same link.
TEST(ReportReading, RecordsOnlyWhatItsOwnReadsOnThisLinkGave) {
    const QStringList all{"12345678", "21030045", "30201567"};
    const struct {
        const char* name;
        std::function<void(ReportRig&)> before;
        std::function<void(ReportRig&)> during;
        Ending ending;
        QString incomplete;
        QStringList activated;
        bool bus;
        int notActivated;
    } cases[] = {
        {"whole, after a scan on this link",
         [](ReportRig& r) { r.scan(1, 4); },
         {},
         Ending::Done,
         "",
         all,
         true,
         1},
        {"the count unanswered",
         [](ReportRig& r) {
             r.scan(1, 4);
             r.noReply(4, 59500);
         },
         {},
         Ending::Done,
         "Incomplete: the gateway did not answer the count of its devices; the gateway did not "
         "answer: active-device map",
         {},
         true,
         0},
        {"entry 2 unanswered",
         [](ReportRig& r) {
             r.scan(1, 4);
             r.noReply(4, 29);
         },
         {},
         Ending::Done,
         "Incomplete: entry 2 of 3 was not read",
         {"12345678", "30201567"},
         true,
         0},
        {"a status step unanswered",
         [](ReportRig& r) { r.noReply(43, -1); },
         {},
         Ending::Done,
         "Incomplete: the gateway did not answer: device identification",
         all,
         false,
         0},
        {"a second report in one session",
         [](ReportRig& r) { ASSERT_TRUE(r.report()); },
         {},
         Ending::Done,
         "",
         all,
         false,
         0},
        {"after an import into the device grid",
         [](ReportRig& r) {
             r.program.gridDevices().setRowTexts(1, {"99999999", "9", "XYZ", "Water"});
             r.program.gridDevices().setRows(3);
         },
         {},
         Ending::Done,
         "",
         all,
         false,
         0},
        {"after a scan on another link",
         [](ReportRig& r) {
             r.scan(1, 4);
             r.useTcp();
         },
         {},
         Ending::Done,
         "",
         all,
         false,
         0},
        {"stopped",
         {},
         [](ReportRig& r) {
             r.clock.advance(30);
             r.program.stopAll();
         },
         Ending::Stopped,
         "",
         {},
         false,
         0},
        {"the link lost",
         {},
         [](ReportRig& r) {
             r.clock.advance(30);
             r.program.link().closeSerial();
         },
         Ending::LinkLost,
         "",
         {},
         false,
         0},
    };
    for (const auto& c : cases) {
        ReportRig rig;
        if (c.before) c.before(rig);
        const auto read = rig.report([&] {
            if (c.during) c.during(rig);
        });
        ASSERT_TRUE(read) << c.name;
        EXPECT_EQ(read->ending, c.ending) << c.name;
        if (c.ending != Ending::Done) continue;
        EXPECT_TRUE(read->answered) << c.name;
        const CommissioningReport& report = read->report;
        EXPECT_EQ(IncompleteLine(report), c.incomplete) << c.name;
        EXPECT_EQ(activatedIds(report), c.activated) << c.name;
        EXPECT_EQ(report.bus.has_value(), c.bus) << c.name;
        if (report.bus) {
            EXPECT_EQ(report.bus->meters.size(), 4) << c.name;
        }
        EXPECT_EQ(OpenPoints(report).filter("not activated").size(), c.notActivated) << c.name;
    }
}

}  // namespace
}  // namespace tarnel
